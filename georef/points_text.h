#pragma once
// What every reader of control-point files shares: the file's text, its
// numbers checked to be finite, and the messages that name the file, the
// place in it and the value.
#include <string>
#include <string_view>

// The whole file; raises EInOutError with the open error's text.
std::string ReadPointsText(const std::string& fileName);

// True when the text holds nothing but blanks and line ends.
bool BlankText(std::string_view text);

// Raises "The point file 'F' is empty" when the text is blank.
void RequireText(std::string_view text, const std::string& fileName);

// The field as a finite number: the whole field (blanks around it allowed)
// one decimal number. Raises "'TEXT' in the point file 'F', WHERE (WHAT), is
// not a number" or "... is not a finite number" for nan and infinities.
double PointsNumber(std::string_view text, const std::string& fileName, const std::string& where,
                    const std::string& what);

// The message for a value that is no finite number, read from a format that
// keeps its numbers typed (JSON).
std::string NotFiniteMessage(const std::string& value, const std::string& fileName, const std::string& where,
                             const std::string& what);
