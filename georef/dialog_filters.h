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

#include <string>

// The open dialog's entry after the three above: every registered picture
// extension, "All pictures (*.bmp *.jpg ...)|*.bmp;*.jpg;...". Its index is 4.
std::string AllPicturesFilterText();
inline constexpr int AllPicturesFilterIndex = 4;

// The open filter index a file's name would have been chosen under: its own
// type's entry for BMP, JPEG and TIFF names, else "All pictures" (for a file
// dropped on the window).
int SourceFilterIndexFor(const std::string& fileName);
// What an index means for the conversion; under "All pictures" the name's
// extension decides.
TSourceFilter SourceFilterOf(int filterIndex, const std::string& fileName);
