#pragma once
// Where a grid's crossings are looked for: inside the map frame when one is
// found around the known crossing, else the picture less a margin.
#include <array>

struct TGridFace {
    // Corners in turning order (upper left, upper right, lower right, lower
    // left as the frame finder gives them), pixel positions.
    std::array<double, 8> Corners{};
    bool Framed = false;

    // Signed distance of (x, y) inside the face: positive inside, pixels.
    double Inside(double x, double y) const;
};

TGridFace PictureFace(int width, int height, double margin);
