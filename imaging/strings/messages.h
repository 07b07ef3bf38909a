#pragma once
// The imaging message table: every text the registry, the reader base, the
// colour manager, the decoders and the readers raise or show. Format strings
// use printf placeholders; Format() fills them.
#include <string>

namespace msg {

// Reader errors (the reader's display name fills the last %s).
inline constexpr const char* InvalidImage = "Cannot load image. Invalid or unexpected %s image format.";
inline constexpr const char* NotSupported = "Cannot load image. %s not supported for %s files.";
inline constexpr const char* InvalidColorFormat = "Invalid color format in %s file.";
inline constexpr const char* CRCError = "Cannot load image. CRC error found in %s file.";
inline constexpr const char* CompressionError = "Cannot load image. Compression error found in %s file.";
inline constexpr const char* ExtraCompressedData = "Cannot load image. Extra compressed data found in %s file.";
inline constexpr const char* InvalidPalette = "Cannot load image. Palette in %s file is invalid.";
inline constexpr const char* CompressionScheme = "The compression scheme is";
inline constexpr const char* ImageTooLarge = "Cannot load image. The %s image is too large (%s pixels).";
inline constexpr const char* ImageNeedsTooMuchMemory = "Cannot load image. The %s image needs too much memory.";

// Progress texts.
inline constexpr const char* Preparing = "Preparing...";
inline constexpr const char* LoadingData = "Loading data...";
inline constexpr const char* Upsampling = "Upsampling...";
inline constexpr const char* Transfering = "Transfering...";

// Registry.
inline constexpr const char* RegisterTwice = "Attempt to register %s twice.";

} // namespace msg

// printf-style formatting of a message with string arguments.
std::string Format(const char* format, const std::string& a);
std::string Format(const char* format, const std::string& a, const std::string& b);

// ---- Colour manager -------------------------------------------------------
namespace msg {

inline constexpr const char* InvalidColorDepth = "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.";
inline constexpr const char* InvalidPixelScheme = "Sample count per pixel does not correspond to the given color scheme.";
inline constexpr const char* InvalidSubSampling = "Subsampling value is invalid. Allowed are 1, 2 and 4.";
inline constexpr const char* VerticalSubSamplingError = "Vertical subsampling value must be <= horizontal subsampling value.";
inline constexpr const char* IndexedNotSupported = "Conversion between indexed and non-indexed pixel formats is not supported.";
inline constexpr const char* ConversionFailed = "Color conversion failed. Could not find a proper method.";

} // namespace msg

// ---- Decoders -------------------------------------------------------------
namespace msg {

inline constexpr const char* LZ77Error = "LZ77 decompression error.";

} // namespace msg
