#pragma once
// A fitted transformation from pixel to map as the fits leave it: where it
// sends any pixel and how it stretches the picture there. An affine one is
// also a world file; the others are only this.
#include "georef/control_points.h"
#include "georef/transforms.h"

#include <memory>
#include <span>

struct TMapPosition {
    double East = 0;
    double North = 0;
};

class TFitModel {
public:
    virtual ~TFitModel() = default;
    virtual TMapPosition Map(double col, double row) const = 0;
    // The affine transformation that touches this one at the pixel: the same
    // map position and the same derivatives there. The default takes central
    // differences half a pixel either side.
    virtual TAffineTransform Tangent(double col, double row) const;
    // The whole transformation when a world file can state it, else null.
    virtual const TAffineTransform* Affine() const { return nullptr; }
};

using TFitModelPtr = std::shared_ptr<const TFitModel>;

TFitModelPtr AffineModel(const TAffineTransform& transform);

// The pixel step that moves the fit's position of a pixel by (east, north)
// on the map, through the tangent there. False when the tangent is
// singular: the fit shrinks the picture to a line or a point.
bool PixelStep(const TAffineTransform& tangent, double east, double north, double& col, double& row);

// Shifts and one scale for both axes that bring positions near 1, so that
// solves do not lose digits to coordinates in the millions; one scale keeps
// lengths and angles as they are.
struct TNormaliser {
    double X0 = 0;
    double Y0 = 0;
    double Scale = 1;
    double X(double x) const { return (x - X0) / Scale; }
    double Y(double y) const { return (y - Y0) / Scale; }
};

// Centred on the points' mean, scaled by their root mean square distance
// from it (1 when they all coincide).
TNormaliser PixelNormaliser(std::span<const TControlPoint> points);
TNormaliser MapNormaliser(std::span<const TControlPoint> points);
