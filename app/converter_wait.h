#pragma once
// The workbench's wait for a converter: its windows stay live meanwhile.
#include <chrono>

// Runs the event loop for slice, sleeping while no event comes. False when
// the application quits meanwhile (or had quit before): the export then stops
// its converter instead of keeping a closing program alive.
bool RunEventsWhileConverting(std::chrono::milliseconds slice);
