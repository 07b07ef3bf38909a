#pragma once
// Control points read from a file, held against the picture they belong to.
// A point a little outside the picture is real (a frame corner past a torn
// or trimmed edge); one farther out than the picture's own width or height
// beyond its edge is a mistyped number or a file made for another picture.
#include "georef/gcp_points_file.h"

#include <string>
#include <vector>

// Warnings for the points outside the picture (width x height pixels, pixel
// centres at integers, so its edges at -0.5 and width - 0.5); raises for the
// first point far outside unless allowOutside, when it is only warned of;
// the refusal ends with hint (how to take it anyway).
std::vector<std::string> CheckPointsOnPicture(const TGcpPoints& file, const std::string& fileName, int width,
                                              int height, bool allowOutside,
                                              const std::string& hint = "; --allow-outside takes it");
