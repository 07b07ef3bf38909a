#pragma once
// The methods of the fit table, each in a file of its own.
#include "georef/control_points.h"
#include "georef/transforms.h"

#include <span>

// two_point_fit.cpp: the scale from the two distances, the origin anchored at
// the first point. Raises EZeroDivide "Floating point division by zero" for
// two points on one pixel, EInvalidOp "Invalid floating point operation" when
// the map distance is 0 as well, and EInvalidOp "Floating point overflow"
// when a result does not fit.
TWorldTransform ComputeWorldTransform(const TControlPoint& first, const TControlPoint& second);
TAffineTransform FitTwoPoint(std::span<const TControlPoint> fitted);

// similarity_fit.cpp: one scale and a rotation, both points fitted exactly:
// A = −E = s·cos θ, B = D = s·sin θ. Raises as ComputeWorldTransform does.
TAffineTransform ComputeSimilarityTransform(const TControlPoint& first, const TControlPoint& second);
TAffineTransform FitSimilarity(std::span<const TControlPoint> fitted);
