#include "analysis/darkness_window.h"

#include "platform/bitmap.h"

#include <algorithm>
#include <cmath>

TDarknessWindow ReadDarknessWindow(const TBitmap& bitmap, int left, int top, int width, int height)
{
    TDarknessWindow window;
    const int right = std::min<long long>(static_cast<long long>(left) + width, bitmap.Width());
    const int bottom = std::min<long long>(static_cast<long long>(top) + height, bitmap.Height());
    window.Left = std::max(left, 0);
    window.Top = std::max(top, 0);
    if (right <= window.Left || bottom <= window.Top)
        return {window.Left, window.Top, 0, 0, {}};
    window.Width = right - window.Left;
    window.Height = bottom - window.Top;
    window.Values.resize(static_cast<size_t>(window.Width) * window.Height);
    std::vector<uint32_t> row(window.Width);
    const bool alpha = bitmap.AlphaPresent() && bitmap.PixelFormat() == bf32Bit;
    for (int y = 0; y < window.Height; ++y) {
        bitmap.RowToARGB(window.Top + y, window.Left, window.Width, row.data());
        float* out = &window.Values[static_cast<size_t>(y) * window.Width];
        for (int x = 0; x < window.Width; ++x) {
            const uint32_t p = row[x];
            float luminance = 0.299f * ((p >> 16) & 0xFF) + 0.587f * ((p >> 8) & 0xFF) + 0.114f * (p & 0xFF);
            if (alpha) {
                const float opacity = (p >> 24) / 255.0f;
                luminance = luminance * opacity + 255.0f * (1.0f - opacity);
            }
            out[x] = 255.0f - luminance;
        }
    }
    return window;
}

double NoiseLevel(const TDarknessWindow& window)
{
    std::vector<float> steps;
    steps.reserve(window.Values.size());
    for (int y = 0; y < window.Height; ++y)
        for (int x = 1; x < window.Width; ++x)
            steps.push_back(std::fabs(window.At(x, y) - window.At(x - 1, y)));
    if (steps.empty())
        return 0;
    auto middle = steps.begin() + steps.size() / 2;
    std::nth_element(steps.begin(), middle, steps.end());
    // Median absolute difference of two samples: 0.6745 * sqrt(2) deviations.
    return *middle / 0.9539;
}

bool IsBilevel(const TDarknessWindow& window)
{
    float first = window.Values.empty() ? 0 : window.Values.front(), second = first;
    for (const float v : window.Values) {
        if (v == first || v == second)
            continue;
        if (second != first)
            return false;
        second = v;
    }
    return true;
}
