#include "analysis/frame_overview.h"

#include <algorithm>
#include <cstdint>
#include <limits>

int FrameOverviewScale(int width, int height)
{
    constexpr int OverviewSide = 1500;
    return std::max(1, (std::max(width, height) + OverviewSide - 1) / OverviewSide);
}

TFrameOverview BuildFrameOverview(const TGreyReader& grey, int scale)
{
    TFrameOverview overview;
    const int width = grey.Width(), height = grey.Height();
    overview.Scale = scale;
    overview.Width = (width + scale - 1) / scale;
    overview.Height = (height + scale - 1) / scale;
    const int ow = overview.Width, oh = overview.Height;
    overview.RowLines.resize(size_t(ow) * oh);
    overview.ColumnLines.resize(size_t(ow) * oh);
    overview.Mean.resize(size_t(ow) * oh);

    std::vector<uint8_t> row(static_cast<size_t>(width));
    std::vector<uint32_t> columnSums(static_cast<size_t>(width));
    std::vector<float> darkestRowMean(static_cast<size_t>(ow));
    std::vector<uint64_t> blockSums(static_cast<size_t>(ow));

    for (int by = 0; by < oh; ++by) {
        const int top = by * scale, rows = std::min(scale, height - top);
        std::fill(columnSums.begin(), columnSums.end(), 0u);
        std::fill(darkestRowMean.begin(), darkestRowMean.end(), std::numeric_limits<float>::max());
        std::fill(blockSums.begin(), blockSums.end(), 0u);
        for (int y = top; y < top + rows; ++y) {
            grey.Row(y, 0, width, row.data());
            for (int bx = 0; bx < ow; ++bx) {
                const int left = bx * scale, columns = std::min(scale, width - left);
                uint32_t sum = 0;
                for (int x = left; x < left + columns; ++x) {
                    sum += row[x];
                    columnSums[x] += row[x];
                }
                darkestRowMean[bx] = std::min(darkestRowMean[bx], float(sum) / float(columns));
                blockSums[size_t(bx)] += sum;
            }
        }
        for (int bx = 0; bx < ow; ++bx) {
            const int left = bx * scale, columns = std::min(scale, width - left);
            uint32_t darkest = std::numeric_limits<uint32_t>::max();
            for (int x = left; x < left + columns; ++x)
                darkest = std::min(darkest, columnSums[x]);
            overview.RowLines[size_t(by) * ow + bx] = darkestRowMean[bx];
            overview.Mean[size_t(by) * ow + bx] = float(blockSums[size_t(bx)]) / float(columns * rows);
            overview.ColumnLines[size_t(bx) * oh + by] = float(darkest) / float(rows);
        }
    }
    return overview;
}
