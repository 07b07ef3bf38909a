#pragma once
// The methods of the fit table, each in a file of its own.
#include "georef/control_points.h"
#include "georef/fit_model.h"
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

// The least-squares fits raise an Exception naming the transformation when
// the fitted points do not determine it (on one line, or on one pixel).

// helmert_fit.cpp: one scale and a rotation, as the similarity, by least
// squares over every fitted point.
TAffineTransform FitHelmert(std::span<const TControlPoint> fitted);

// affine_fit.cpp: the six terms of the world file by least squares.
TAffineTransform FitAffine(std::span<const TControlPoint> fitted);

// projective_fit.cpp: a plane projective transformation (8 terms), started
// from its linear solution and refined to the least squares of the map
// distances.
TFitModelPtr FitProjective(std::span<const TControlPoint> fitted);

// polynomial_fit.cpp: every term of the column and row up to degree 2 (6
// terms for each map axis) or 3 (10 terms), by least squares.
TFitModelPtr FitPolynomial2(std::span<const TControlPoint> fitted);
TFitModelPtr FitPolynomial3(std::span<const TControlPoint> fitted);

// tps_fit.cpp: the thin plate spline through every fitted point, the
// surface of least bending energy on an affine base.
TFitModelPtr FitThinPlateSpline(std::span<const TControlPoint> fitted);
