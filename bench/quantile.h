#pragma once
// The q-quantile of a set of values, interpolated between the two nearest
// ranks (q = 0.5 the median, 1 the largest), or NaN for none: the figures the
// snap benchmarks print.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

inline double Quantile(std::vector<double> values, double q)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const double at = q * double(values.size() - 1);
    const size_t i = static_cast<size_t>(at);
    return i + 1 < values.size() ? values[i] + (at - double(i)) * (values[i + 1] - values[i]) : values[i];
}
