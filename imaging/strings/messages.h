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
// The platform stream's read error, raised by the byte reader as well.
inline constexpr const char* StreamReadError = "Stream read error";

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
inline constexpr const char* ZstdError = "ZSTD decompression error.";
// Also raised for data whose dictionary would take more memory than allowed.
inline constexpr const char* LZMAError = "LZMA decompression error.";
// Raised by the two-dimensional fax decoders for data that switch to uncompressed mode.
inline constexpr const char* CCITTUncompressedMode = "CCITT uncompressed mode is not supported.";

} // namespace msg

// ---- JPEG picture and JPEG-in-TIFF strips -----------------------------------
namespace msg {

inline constexpr const char* JPEGError = "JPEG error #%d";
inline constexpr const char* JPEGChangeSize = "Cannot change the size of a JPEG image";
inline constexpr const char* JPEGImageFile = "JPEG Image File";
inline constexpr const char* JPEGWarningCaption = "Warning";
inline constexpr const char* JPEGUnexpectedEnd = "JPEG decompression error. Unexpected end of input.";
inline constexpr const char* JPEGBogusTables = "Bogus JPEG tables field.";
inline constexpr const char* JPEGStripSize = "Improper JPEG strip/tile size.";
inline constexpr const char* JPEGComponentCount = "Improper JPEG component count.";
inline constexpr const char* JPEGDataPrecision = "Improper JPEG data precision.";
inline constexpr const char* JPEGTooManyScans = "JPEG file has more than %d scans.";
inline constexpr const char* JPEGSamplingFactors = "Improper JPEG sampling factors.";
inline constexpr const char* JPEGFractionalScanline = "Fractional JPEG scanline unsupported.";

} // namespace msg

// ---- PNG reader -------------------------------------------------------------
namespace msg {

inline constexpr const char* PNGCriticalChunk = "Cannot load PNG image. Unexpected but critical chunk detected.";
inline constexpr const char* PNGDescription = "Portable network graphic images";

} // namespace msg

// ---- TIFF and EPS readers ---------------------------------------------------
namespace msg {

inline constexpr const char* TIFFDescription = "Tagged image file format images";
inline constexpr const char* TIFFMacDescription = "Macintosh TIFF images";
inline constexpr const char* TIFFPCDescription = "PC TIF images";
inline constexpr const char* FaxDescription = "GFI fax images";
inline constexpr const char* EPSDescription = "Encapsulated Postscript images";
// First placeholder of NotSupported for uncompressed YCbCr data with subsampled chroma.
inline constexpr const char* TIFFSubsampledYCbCr = "Subsampled YCbCr data are";

} // namespace msg

// ---- Targa and PCX readers --------------------------------------------------
namespace msg {

inline constexpr const char* TargaDescription = "Truevision images";
inline constexpr const char* PCXDescription = "ZSoft Paintbrush images";
inline constexpr const char* SCRDescription = "Word 5.x screen capture images";

} // namespace msg

// ---- SGI, RLA and portable any-map readers ----------------------------------
namespace msg {

inline constexpr const char* SGIDescription = "SGI images";
inline constexpr const char* SGITrueColorDescription = "SGI true color images";
inline constexpr const char* SGITrueColorAlphaDescription = "SGI true color images with alpha";
inline constexpr const char* SGIBlackWhiteDescription = "SGI black/white images";
inline constexpr const char* RLADescription = "Alias/Wavefront images";
inline constexpr const char* PortableMapDescription = "Portable map images";
inline constexpr const char* PortablePixelMapDescription = "Portable pixel map images";
inline constexpr const char* PortableGrayMapDescription = "Portable gray map images";
inline constexpr const char* PortableBitmapDescription = "Portable bitmap images";
inline constexpr const char* StreamReadErrorIn = "Stream read error in %s file.";
// The platform's integer conversion error, for a magic without its digit.
inline constexpr const char* InvalidInteger = "'%s' is not a valid integer value";

} // namespace msg

// ---- Photoshop and Paint Shop Pro readers -------------------------------------
namespace msg {

inline constexpr const char* PSDDescription = "Photoshop images";
inline constexpr const char* PSPDescription = "Paintshop Pro images";

} // namespace msg

// ---- JPEG 2000 reader -----------------------------------------------------
namespace msg {

inline constexpr const char* JPEG2000Description = "JPEG 2000 images";
inline constexpr const char* JPEG2000CodestreamDescription = "JPEG 2000 codestreams";
inline constexpr const char* JPEG2000ExtendedDescription = "JPEG 2000 extended images";
// The reader's name, then the decoder's own words.
inline constexpr const char* JPEG2000DecodeError = "Cannot load image. Compression error found in %s file (%s).";
// First placeholders of NotSupported.
inline constexpr const char* JPEG2000ColourSpace = "Colour spaces other than grey and sRGB are";
inline constexpr const char* JPEG2000Palette = "Palettes other than one of up to 256 8-bit colours are";
inline constexpr const char* JPEG2000Subsampled = "Subsampled components are";

} // namespace msg

// ---- Metafile picture (metafile/) -------------------------------------------
namespace msg {

// The file kind ("WMF" or "EMF") fills the last %s. A header not recognised or
// inconsistent gives InvalidImage with the kind.
inline constexpr const char* MetafileBrokenRecord = "Cannot load image. Broken record at byte %s of the %s file.";
inline constexpr const char* MetafileUnexpectedEnd = "Cannot load image. The %s file ends before its end record.";
inline constexpr const char* MetafileNoSize = "Cannot load image. The %s file gives no picture size.";

} // namespace msg

// ---- Dr. Halo, Autodesk and Photo-CD readers --------------------------------
namespace msg {

inline constexpr const char* CUTDescription = "Dr. Halo images";
inline constexpr const char* AutodeskDescription = "Autodesk images";
inline constexpr const char* PCDDescription = "Kodak Photo-CD images";

} // namespace msg

// ---- Loaded pictures, as their callers judge them ---------------------------
namespace msg {

inline constexpr const char* NoImage = "The file holds no image.";
// The row number fills %s.
inline constexpr const char* EndsEarly = "The file ends early, in row %s; the rest of the image is empty.";

} // namespace msg
