#include "imaging/readers/eps_graphic.h"

#include "imaging/byte_reader.h"
#include "imaging/strings/messages.h"
#include "platform/streams.h"

PW_DEFINE_GRAPHIC_CLASS(TEPSGraphic, TTIFFGraphic)

namespace {

constexpr uint32_t EPSMagic = 0xC6D3D0C5;
constexpr int64_t EPSHeaderSize = 30;

struct TEPSHeader {
    uint32_t Magic = 0;
    uint32_t PostScriptOffset = 0;
    uint32_t PostScriptLength = 0;
    uint32_t MetafileOffset = 0;
    uint32_t MetafileLength = 0;
    uint32_t TIFFOffset = 0;
    uint32_t TIFFLength = 0;
    uint16_t Checksum = 0;
};

TEPSHeader ReadHeader(TByteReader& reader)
{
    TEPSHeader header;
    header.Magic = reader.U32LE();
    header.PostScriptOffset = reader.U32LE();
    header.PostScriptLength = reader.U32LE();
    header.MetafileOffset = reader.U32LE();
    header.MetafileLength = reader.U32LE();
    header.TIFFOffset = reader.U32LE();
    header.TIFFLength = reader.U32LE();
    header.Checksum = reader.U16LE();
    return header;
}

} // namespace

bool TEPSGraphic::CanLoadStream(TStream& stream)
{
    const int64_t start = stream.Position();
    bool result = false;
    if (stream.Size() - start > EPSHeaderSize) {
        TByteReader reader(stream);
        const TEPSHeader header = ReadHeader(reader);
        result = header.Magic == EPSMagic && start + EPSHeaderSize < static_cast<int32_t>(header.TIFFOffset) &&
                 header.TIFFLength > 0;
    }
    stream.SetPosition(start);
    return result;
}

void TEPSGraphic::LoadFromStream(TStream& stream)
{
    const std::string invalid = Format(msg::InvalidImage, DisplayName());
    TByteReader reader(stream, invalid);
    const int64_t start = reader.Position();
    const TEPSHeader header = ReadHeader(reader);
    if (header.Magic != EPSMagic)
        RaiseImageError(invalid);
    // A preview that overlaps the header or lies beyond the end is no preview.
    if (header.TIFFOffset < EPSHeaderSize || header.TIFFLength == 0)
        RaiseImageError(invalid);
    reader.Seek(start + header.TIFFOffset);
    TTIFFGraphic::LoadFromStream(stream);
}
