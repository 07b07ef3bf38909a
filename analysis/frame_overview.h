#pragma once
// Reduced copies of a scan in which thin straight lines keep their full
// contrast: each overview pixel stands for a square block of scan pixels.
// Along rows, a block keeps the darkest of its row means, so a line along
// the rows (even one pixel wide) stays as dark as it is printed while text,
// contours and noise average out; along columns likewise with column means.
// Built in one pass over the rows; the scan itself is never copied.
#include "analysis/frame_grey.h"

#include <vector>

struct TFrameOverview {
    int Scale = 1;  // scan pixels per overview pixel, along both axes
    int Width = 0;  // overview columns: the scan's width / Scale, rounded up
    int Height = 0; // overview rows
    // Lines along the rows: Width x Height, row by row.
    std::vector<float> RowLines;
    // Lines along the columns, transposed so that they too run along its
    // rows: Height x Width, one row per overview column.
    std::vector<float> ColumnLines;
    // Each block's mean grey: Width x Height, row by row.
    std::vector<float> Mean;
};

// The block size that gives an overview of about 1500 pixels on its longer side.
int FrameOverviewScale(int width, int height);

TFrameOverview BuildFrameOverview(const TGreyReader& grey, int scale);
