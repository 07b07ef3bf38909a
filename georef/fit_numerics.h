#pragma once
// What the least-squares fits share: their solve, with the check that the
// points determine the transformation, and the way back from normalised
// coordinates. Only the fits' own files include it (and Eigen with it).
#include "georef/fit_model.h"

#include <Eigen/Dense>

#include <span>
#include <string_view>

// The least-squares solution of design · x = rhs, each column of rhs alike,
// through a column-pivoting QR. Raises "The N fitted points do not determine
// the transformation NAME ..." when the design's rank is short.
Eigen::MatrixXd SolveLeastSquares(const Eigen::MatrixXd& design, const Eigen::MatrixXd& rhs, std::string_view name,
                                  size_t points);

// The same text, for the fits that find the shortfall otherwise.
[[noreturn]] void RaiseUndetermined(std::string_view name, size_t points);

// The pixel-to-map affine whose normalised form sends (u, v) to
// (a[0]·u + a[1]·v + a[2], d[0]·u + d[1]·v + d[2]).
TAffineTransform Denormalise(const double a[3], const double d[3], const TNormaliser& pixel, const TNormaliser& map);
