#include "imaging/readers/jpeg2000_layout.h"

#include "imaging/byte_reader.h"
#include "imaging/raster_graphic.h"
#include "imaging/strings/messages.h"
#include "platform/exceptions.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t BoxType(const char (&t)[5])
{
    return uint32_t(uint8_t(t[0])) << 24 | uint32_t(uint8_t(t[1])) << 16 | uint32_t(uint8_t(t[2])) << 8 |
           uint32_t(uint8_t(t[3]));
}

constexpr uint16_t SOC = 0xFF4F, SIZ = 0xFF51, PPM = 0xFF60, SOT = 0xFF90;

// Every tile-part marker (its code and a segment length of 10) from from to
// end that claims more than the codestream holds, wherever it lies: the
// decoder looks for the next marker two bytes at a time past one it does not
// know, so it may find tile-parts that the walk by segment lengths steps
// over. Coded data never holds a byte 0xFF followed by one above 0x8F, so in
// a sound file these are its real tile-parts only.
void FindOverruns(TByteReader& in, int64_t from, int64_t end, std::vector<TJ2KTileParts::TOverrun>& found)
{
    constexpr int64_t Chunk = 1 << 20, Marker = 12;
    std::vector<uint8_t> buffer(static_cast<size_t>(Chunk + Marker));
    for (int64_t at = from; at + Marker <= end;) {
        const int64_t count = std::min<int64_t>(Chunk + Marker, end - at);
        in.Seek(at);
        in.Bytes(buffer.data(), count);
        const uint8_t* const first = buffer.data();
        for (const uint8_t* m = first; m + Marker <= first + count; ++m) {
            m = static_cast<const uint8_t*>(std::memchr(m, 0xFF, size_t(first + count - Marker + 1 - m)));
            if (!m)
                break;
            if (m[1] != 0x90 || m[2] != 0 || m[3] != 10)
                continue;
            const int64_t i = m - first;
            const uint32_t length = uint32_t(m[6]) << 24 | uint32_t(m[7]) << 16 | uint32_t(m[8]) << 8 | m[9];
            if (length != 0 && at + i + int64_t(length) > end)
                found.push_back({at + i, uint64_t(at + i + int64_t(length) - end)});
        }
        at += count - Marker + 1;
    }
}

struct TBox {
    uint32_t Type = 0;
    int64_t Content = 0; // first byte after the box header
    int64_t End = 0;
};

// The box at position, inside a parent that ends at end. A box that claims
// more than its parent holds is cut to the parent: a short file keeps what
// it has, and the codestream reader notes where its data end.
TBox ReadBox(TByteReader& in, int64_t position, int64_t end, const char* name)
{
    in.Seek(position);
    const uint64_t length = in.U32BE();
    TBox box;
    box.Type = in.U32BE();
    uint64_t total = length;
    int64_t header = 8;
    if (length == 1) {
        const uint64_t high = in.U32BE();
        total = high << 32 | in.U32BE();
        header = 16;
    } else if (length == 0) {
        total = uint64_t(end - position);
    }
    if (total < uint64_t(header))
        RaiseImageErrorFmt(msg::InvalidImage, name);
    box.Content = position + header;
    box.End = total > uint64_t(end - position) ? end : position + static_cast<int64_t>(total);
    if (box.End < box.Content)
        RaiseImageErrorFmt(msg::InvalidImage, name);
    return box;
}

void ReadPalette(TByteReader& in, const TBox& box, TJP2Layout& layout, const char* name)
{
    TJP2PaletteBox& p = layout.Palette;
    in.Seek(box.Content);
    p.Entries = in.U16BE();
    const uint8_t columns = in.U8();
    if (p.Entries == 0 || p.Entries > 1024 || columns == 0)
        RaiseImageErrorFmt(msg::InvalidPalette, name);
    std::vector<int> bytes;
    for (uint8_t i = 0; i < columns; ++i) {
        const uint8_t depth = in.U8();
        // Signed entries and entries over 32 bits have no use in a picture.
        if ((depth & 0x80) || (depth & 0x7F) > 31)
            RaiseImageErrorFmt(msg::InvalidPalette, name);
        p.Depths.push_back(static_cast<uint8_t>((depth & 0x7F) + 1));
        bytes.push_back((p.Depths.back() + 7) / 8);
    }
    p.Values.reserve(size_t(p.Entries) * columns);
    for (uint32_t e = 0; e < p.Entries; ++e)
        for (uint8_t i = 0; i < columns; ++i) {
            uint32_t v = 0;
            for (int k = 0; k < bytes[i]; ++k)
                v = v << 8 | in.U8();
            p.Values.push_back(v);
        }
    if (in.Position() > box.End)
        RaiseImageErrorFmt(msg::InvalidPalette, name);
    layout.HasPalette = true;
}

void ReadHeaderBox(TByteReader& in, const TBox& header, TJP2Layout& layout, const char* name)
{
    bool colourSeen = false;
    for (int64_t at = header.Content; at + 8 <= header.End;) {
        const TBox box = ReadBox(in, at, header.End, name);
        in.Seek(box.Content);
        const int64_t size = box.End - box.Content;
        if (box.Type == BoxType("colr") && !colourSeen) {
            // Only the first colour box counts; an ICC profile leaves the
            // components as they are.
            colourSeen = true;
            const uint8_t method = in.U8();
            in.Skip(2);
            if (method == 1)
                layout.ColourSpace = in.U32BE();
        } else if (box.Type == BoxType("pclr")) {
            ReadPalette(in, box, layout, name);
        } else if (box.Type == BoxType("cmap")) {
            for (int64_t i = 0; i + 4 <= size; i += 4) {
                TJP2Channel c;
                c.Component = in.U16BE();
                c.ThroughPalette = in.U8() == 1;
                c.Column = in.U8();
                layout.Mapping.push_back(c);
            }
        } else if (box.Type == BoxType("cdef")) {
            const uint16_t count = in.U16BE();
            if (int64_t(count) * 6 + 2 > size)
                RaiseImageErrorFmt(msg::InvalidImage, name);
            for (uint16_t i = 0; i < count; ++i) {
                TJP2ChannelDefinition d;
                d.Channel = in.U16BE();
                d.Type = in.U16BE();
                d.Association = in.U16BE();
                layout.Definitions.push_back(d);
            }
        }
        if (in.Position() > box.End)
            RaiseImageErrorFmt(msg::InvalidImage, name);
        at = box.End;
    }
}

} // namespace

bool IsJP2File(TStream& stream)
{
    static const uint8_t signature[12] = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    uint8_t head[12] = {};
    const int64_t position = stream.Position();
    const bool result = stream.Read(head, 12) == 12 && std::equal(head, head + 12, signature);
    stream.SetPosition(position);
    return result;
}

bool IsJ2KCodestream(TStream& stream)
{
    uint8_t head[4] = {};
    const int64_t position = stream.Position();
    const bool result = stream.Read(head, 4) == 4 && LoadU16BE(head) == SOC && LoadU16BE(head + 2) == SIZ;
    stream.SetPosition(position);
    return result;
}

TJP2Layout ReadJP2Layout(TStream& stream, int64_t start, const char* name)
{
    TJP2Layout layout;
    stream.SetPosition(start);
    const int64_t end = stream.Size();
    if (!IsJP2File(stream)) {
        layout.CodestreamStart = start;
        layout.CodestreamLength = end - start;
        return layout;
    }
    layout.Boxed = true;
    TByteReader in(stream, Format(msg::InvalidImage, name));
    bool headerSeen = false;
    for (int64_t at = start; at + 8 <= end;) {
        const TBox box = ReadBox(in, at, end, name);
        if (box.Type == BoxType("jp2h") && !headerSeen) {
            headerSeen = true;
            ReadHeaderBox(in, box, layout, name);
        } else if (box.Type == BoxType("jp2c")) {
            layout.CodestreamStart = box.Content;
            layout.CodestreamLength = box.End - box.Content;
            return layout;
        }
        at = box.End;
    }
    RaiseImageErrorFmt(msg::InvalidImage, name);
}

uint64_t TJ2KSize::TilesAcross() const
{
    return (uint64_t(X1) - TileX0 + TileWidth - 1) / TileWidth;
}

uint64_t TJ2KSize::TilesDown() const
{
    return (uint64_t(Y1) - TileY0 + TileHeight - 1) / TileHeight;
}

TJ2KSize ReadJ2KSize(TStream& stream, const TJP2Layout& layout, const char* name)
{
    TByteReader in(stream, Format(msg::InvalidImage, name));
    in.Seek(layout.CodestreamStart);
    if (layout.CodestreamLength < 42 || in.U16BE() != SOC || in.U16BE() != SIZ)
        in.Fail();
    const uint16_t length = in.U16BE();
    in.Skip(2); // capabilities
    TJ2KSize s;
    s.X1 = in.U32BE(), s.Y1 = in.U32BE(), s.X0 = in.U32BE(), s.Y0 = in.U32BE();
    s.TileWidth = in.U32BE(), s.TileHeight = in.U32BE(), s.TileX0 = in.U32BE(), s.TileY0 = in.U32BE();
    const uint16_t count = in.U16BE();
    if (count == 0 || count > 16384 || length != 38 + 3 * count || s.X1 <= s.X0 || s.Y1 <= s.Y0 ||
        s.TileWidth == 0 || s.TileHeight == 0 || s.TileX0 > s.X0 || s.TileY0 > s.Y0 ||
        uint64_t(s.TileX0) + s.TileWidth <= s.X0 || uint64_t(s.TileY0) + s.TileHeight <= s.Y0)
        in.Fail();
    for (uint16_t i = 0; i < count; ++i) {
        TJ2KComponent c;
        const uint8_t depth = in.U8();
        c.Signed = depth & 0x80;
        c.Precision = static_cast<uint8_t>((depth & 0x7F) + 1);
        c.DX = in.U8(), c.DY = in.U8();
        if (c.Precision > 38 || c.DX == 0 || c.DY == 0)
            in.Fail();
        s.Components.push_back(c);
    }
    return s;
}

TJ2KTileParts ReadJ2KTileData(TStream& stream, const TJP2Layout& layout, const TJ2KSize& size)
{
    const uint64_t tiles = size.TilesAcross() * size.TilesDown();
    TJ2KTileParts parts;
    parts.Tiles.resize(static_cast<size_t>(std::min<uint64_t>(tiles, 65535)));
    std::vector<TJ2KTileData>& data = parts.Tiles;
    const int64_t end = layout.CodestreamStart + layout.CodestreamLength;
    TByteReader in(stream);
    try {
        // The main header's marker segments, up to the first tile-part.
        int64_t at = layout.CodestreamStart + 2;
        for (;;) {
            in.Seek(at);
            const uint16_t marker = in.U16BE();
            if (marker == SOT)
                break;
            if ((marker >> 8) != 0xFF)
                return parts;
            parts.PackedHeaders = parts.PackedHeaders || marker == PPM;
            at += 2 + in.U16BE();
        }
        while (at + 12 <= end) {
            in.Seek(at);
            if (in.U16BE() != SOT || in.U16BE() != 10)
                break;
            const uint16_t tile = in.U16BE();
            const uint32_t length = in.U32BE();
            if (tile >= data.size() || (length != 0 && length < 14))
                break;
            const int64_t declaredEnd = length == 0 ? end : at + int64_t(length);
            TJ2KTileData& d = data[tile];
            if (d.Held == 0)
                parts.Order.push_back(tile);
            d.Held += uint64_t(std::min(declaredEnd, end) - at);
            d.Cut = d.Cut || declaredEnd > end;
            at = declaredEnd;
        }
    } catch (const EReadError&) {
        // The walk ends where the stream does; what was counted stands.
    }
    try {
        FindOverruns(in, layout.CodestreamStart, end, parts.Overruns);
    } catch (const EReadError&) {
        // The walk ends where the stream does; what was counted stands.
    }
    return parts;
}
