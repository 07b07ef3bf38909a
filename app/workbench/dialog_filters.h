#pragma once
// The filters of the open dialog (Open) and the save dialog (Save), each
// with the meaning of its index. The dialogs count from 1. The filter an
// image was opened under, not its file's extension, picks how it is turned
// into a TIFF; the save filter picks the target type.

// Texts in the dialog's "Text|mask|Text|mask" form, in index order.
constexpr const char* SourceFilterText = "BMP (*.bmp)|*.bmp|JPG (*.jpg)|*.jpg|TIFF (*.tif)|*.tif";
constexpr const char* TargetFilterText =
    "TIFF + TFW (*.tif)|*.tif|JGW (*.jgw)|*.jgw|Control points (*.points)|*.points";

// Any other index (a name typed under no filter) converts nothing.
enum class TSourceFilter : int { None = 0, BMP = 1, JPG = 2, TIFF = 3 };

// Any other index exports nothing beyond the world file's computation.
// Points writes the two control points as a ".points" file, nothing else.
enum class TTargetFilter : int { None = 0, TiffTfw = 1, JGW = 2, Points = 3 };
