#pragma once
// The median of a set of values (the upper of the two middle ones for an
// even count), or 0 for none: the robust centre the frame finder takes of
// its profiles' measurements.
#include <algorithm>
#include <cstddef>
#include <vector>

inline double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}
