#pragma once
// Texts the metafile picture raises, in the imaging library's message style.
// The file kind ("WMF" or "EMF") fills the last %s.
namespace msg {

// Header not recognised or inconsistent: msg::InvalidImage with the kind.
inline constexpr const char* MetafileBrokenRecord = "Cannot load image. Broken record at byte %s of the %s file.";
inline constexpr const char* MetafileUnexpectedEnd = "Cannot load image. The %s file ends before its end record.";
inline constexpr const char* MetafileNoSize = "Cannot load image. The %s file gives no picture size.";

} // namespace msg
