#pragma once
// The six-line world file.
#include "georef/fit_methods.h"
#include "georef/transforms.h"

#include <string>

// Fixed-point text of the exact value of x: "-" for a negative value
// (negative zero included), the integer digits, ".", decimals digits, halves
// rounded away from zero, blanks on the left up to minWidth.
std::string FormatFixed(double x, int decimals, int minWidth);

// The six lines s, 0, 0, −s, E0, N0, each ended by CR LF.
std::string WorldFileText(const TWorldTransform& transform);

// The six lines with the rotation terms in lines 2 and 3, written like
// lines 1 and 4 with 12 decimals.
std::string WorldFileText(const TAffineTransform& transform);

// The world file of a fit: a north-up fit's without rotation terms, any
// other with them.
std::string WorldFileText(const TFitResult& fit);

// Creates or truncates fileName, writes text and flushes it to the disk
// (WriteFileSynced). A failure raises the runtime's I/O error and removes
// what was written.
void WriteTextFile(const std::string& fileName, const std::string& text);
