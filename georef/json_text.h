#pragma once
// JSON documents built with nlohmann-json and written in the layout our
// files have always had: objects one member a line, indented by two blanks;
// an array of plain values, and any object inside an array, on one line
// (", " and ": " between the parts). Numbers in their shortest exact form,
// a whole number without a decimal point; a non-finite number is null.
#include <nlohmann/json.hpp>

#include <string>

using TJson = nlohmann::ordered_json;

// value as its JSON text, without a line break at the end.
std::string JsonText(const TJson& value);

// A number for a document: null when it is not finite.
TJson JsonNumber(double value);
// A float as its own shortest text shows it (2.2, not 2.2000000476837158).
TJson JsonNumber(float value);
