#pragma once
// The filters of the open dialog (Open) and the save dialog (Save), each
// with the meaning of its index. The dialogs count from 1. The workbench
// takes the format of the image from the filter it was opened under, not
// from its file's extension; the save filter picks the target type.
#include "georef/source_format.h"

// Texts in the dialog's "Text|mask|Text|mask" form, in index order.
constexpr const char* SourceFilterText = "BMP (*.bmp)|*.bmp|JPG (*.jpg)|*.jpg|TIFF (*.tif)|*.tif";
constexpr const char* TargetFilterText =
    "TIFF + TFW (*.tif)|*.tif|JGW (*.jgw)|*.jgw|Control points (*.points)|*.points|"
    "Cloud Optimized GeoTIFF (*.tif)|*.tif";

// The open dialog's entries for one format each.
inline constexpr int BmpFilterIndex = 1;
inline constexpr int JpgFilterIndex = 2;
inline constexpr int TiffFilterIndex = 3;

// Any other index exports nothing beyond the world file's computation.
// Points writes the control points alone, in the format the file name's
// ending names (".points" for any other). Cog is TiffTfw with the GeoTIFFs
// made Cloud Optimized, as --cog makes them.
enum class TTargetFilter : int { None = 0, TiffTfw = 1, JGW = 2, Points = 3, Cog = 4 };

#include <string>

// The open dialog's entry after the three above: every registered picture
// extension, "All pictures (*.bmp *.jpg ...)|*.bmp;*.jpg;...". Its index is 4.
std::string AllPicturesFilterText();
inline constexpr int AllPicturesFilterIndex = 4;

// The open filter index a file's name would have been chosen under: its own
// type's entry for BMP, JPEG and TIFF names, else "All pictures" (for a file
// dropped on the window).
int SourceFilterIndexFor(const std::string& fileName);
// The format an image opened under the filter is taken to have: the
// filter's own, or under "All pictures" the picture's format; any other
// index (a name typed under no filter) gives None.
TSourceFormat OpenFilterFormat(int filterIndex, const std::string& fileName);
