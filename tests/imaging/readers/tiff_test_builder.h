#pragma once
// Builds TIFF files byte by byte for the reader tests: header, data blocks,
// one directory, values stored after it. Either byte order.
#include "imaging/readers/tiff_graphic.h"
#include "platform/streams.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tifftest {

class TiffBuilder {
public:
    explicit TiffBuilder(bool bigEndian = false) : FBig(bigEndian) {}

    // A tag with integer values of the given type (BYTE, SHORT, LONG, ...).
    TiffBuilder& Tag(uint16_t tag, uint16_t type, std::vector<uint32_t> values)
    {
        FTags[tag] = {type, std::move(values), {}, {}};
        return *this;
    }
    TiffBuilder& Short(uint16_t tag, uint32_t value) { return Tag(tag, ftShort, {value}); }
    TiffBuilder& Long(uint16_t tag, uint32_t value) { return Tag(tag, ftLong, {value}); }
    // RATIONAL values as numerator, denominator pairs.
    TiffBuilder& Rational(uint16_t tag, std::vector<uint32_t> pairs)
    {
        FTags[tag] = {ftRational, std::move(pairs), {}, {}};
        return *this;
    }
    // A tag of one-byte type whose values are the given bytes.
    TiffBuilder& Bytes(uint16_t tag, uint16_t type, std::vector<uint8_t> bytes)
    {
        FTags[tag] = {type, {}, std::move(bytes), {}};
        return *this;
    }
    // A LONG tag holding the file offsets of the given data blocks.
    TiffBuilder& Offsets(uint16_t tag, std::vector<size_t> blocks)
    {
        FTags[tag] = {ftLong, {}, {}, std::move(blocks)};
        return *this;
    }
    TiffBuilder& Remove(uint16_t tag)
    {
        FTags.erase(tag);
        return *this;
    }
    // Appends a data block; returns its index.
    size_t Block(std::vector<uint8_t> bytes)
    {
        FBlocks.push_back(std::move(bytes));
        return FBlocks.size() - 1;
    }
    // The usual description of a strip image: size, samples, photometric,
    // compression, the given blocks as strips with their byte counts.
    TiffBuilder& Image(uint32_t width, uint32_t height, uint32_t bits, uint32_t samples, uint32_t photometric,
                       uint32_t compression, const std::vector<std::vector<uint8_t>>& strips,
                       uint32_t rowsPerStrip = 0)
    {
        Long(256, width).Long(257, height);
        Tag(258, ftShort, std::vector<uint32_t>(samples, bits));
        Short(259, compression).Short(262, photometric).Short(277, samples);
        Long(278, rowsPerStrip ? rowsPerStrip : height);
        std::vector<size_t> indices;
        std::vector<uint32_t> counts;
        for (const auto& strip : strips) {
            indices.push_back(Block(strip));
            counts.push_back(static_cast<uint32_t>(strip.size()));
        }
        Offsets(273, indices);
        Tag(279, ftLong, counts);
        return *this;
    }

    std::vector<uint8_t> Build() const;
    // A memory stream over a built file (the stream owns a copy).
    std::unique_ptr<TMemoryStream> Stream() const;

    // Values of a file in its byte order.
    void Put16(std::vector<uint8_t>& out, uint32_t v) const;
    void Put32(std::vector<uint8_t>& out, uint32_t v) const;

private:
    struct TagData {
        uint16_t Type;
        std::vector<uint32_t> Values;
        std::vector<uint8_t> Raw;
        std::vector<size_t> Blocks;
    };
    bool FBig;
    std::map<uint16_t, TagData> FTags;
    std::vector<std::vector<uint8_t>> FBlocks;
};

inline void TiffBuilder::Put16(std::vector<uint8_t>& out, uint32_t v) const
{
    if (FBig) {
        out.push_back(static_cast<uint8_t>(v >> 8));
        out.push_back(static_cast<uint8_t>(v));
    } else {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    }
}

inline void TiffBuilder::Put32(std::vector<uint8_t>& out, uint32_t v) const
{
    if (FBig) {
        Put16(out, v >> 16);
        Put16(out, v & 0xFFFF);
    } else {
        Put16(out, v & 0xFFFF);
        Put16(out, v >> 16);
    }
}

inline std::vector<uint8_t> TiffBuilder::Build() const
{
    std::vector<uint8_t> out = FBig ? std::vector<uint8_t>{'M', 'M'} : std::vector<uint8_t>{'I', 'I'};
    Put16(out, 42);
    Put32(out, 0); // patched below
    std::vector<uint32_t> blockOffsets;
    for (const auto& block : FBlocks) {
        blockOffsets.push_back(static_cast<uint32_t>(out.size()));
        out.insert(out.end(), block.begin(), block.end());
        if (out.size() % 2)
            out.push_back(0);
    }
    const uint32_t ifd = static_cast<uint32_t>(out.size());
    std::vector<uint8_t> patched;
    Put32(patched, ifd);
    std::copy(patched.begin(), patched.end(), out.begin() + 4);

    // Serialise each tag's values, then lay out the directory and the
    // out-of-line values after it.
    std::vector<std::pair<uint16_t, std::pair<uint16_t, std::vector<uint8_t>>>> serial;
    for (const auto& [tag, data] : FTags) {
        std::vector<uint8_t> bytes;
        uint32_t count = 0;
        if (!data.Raw.empty() || (data.Values.empty() && data.Blocks.empty())) {
            bytes = data.Raw;
            count = static_cast<uint32_t>(bytes.size());
        } else if (!data.Blocks.empty()) {
            for (size_t b : data.Blocks)
                Put32(bytes, blockOffsets.at(b));
            count = static_cast<uint32_t>(data.Blocks.size());
        } else {
            for (uint32_t v : data.Values) {
                switch (TypeSize(data.Type)) {
                case 1: bytes.push_back(static_cast<uint8_t>(v)); break;
                case 2: Put16(bytes, v); break;
                default: Put32(bytes, v); break;
                }
            }
            count = static_cast<uint32_t>(data.Type == ftRational || data.Type == ftSRational ? data.Values.size() / 2
                                                                                              : data.Values.size());
        }
        std::vector<uint8_t> withCount;
        Put32(withCount, count);
        withCount.insert(withCount.end(), bytes.begin(), bytes.end());
        serial.push_back({tag, {data.Type, withCount}});
    }
    uint32_t extra = ifd + 2 + 12 * static_cast<uint32_t>(serial.size()) + 4;
    std::vector<uint8_t> values;
    Put16(out, static_cast<uint32_t>(serial.size()));
    for (const auto& [tag, typed] : serial) {
        const auto& [type, withCount] = typed;
        Put16(out, tag);
        Put16(out, type);
        out.insert(out.end(), withCount.begin(), withCount.begin() + 4);
        const std::vector<uint8_t> bytes(withCount.begin() + 4, withCount.end());
        if (bytes.size() <= 4) {
            std::vector<uint8_t> field = bytes;
            field.resize(4, 0);
            out.insert(out.end(), field.begin(), field.end());
        } else {
            Put32(out, extra + static_cast<uint32_t>(values.size()));
            values.insert(values.end(), bytes.begin(), bytes.end());
            if (values.size() % 2)
                values.push_back(0);
        }
    }
    Put32(out, 0);
    out.insert(out.end(), values.begin(), values.end());
    return out;
}

inline std::unique_ptr<TMemoryStream> TiffBuilder::Stream() const
{
    auto stream = std::make_unique<TMemoryStream>();
    const std::vector<uint8_t> bytes = Build();
    stream->Write(bytes.data(), static_cast<int64_t>(bytes.size()));
    stream->SetPosition(0);
    return stream;
}

// Loads a TIFF from bytes; the graphic carries the bitmap.
inline std::unique_ptr<TTIFFGraphic> Load(const std::vector<uint8_t>& bytes)
{
    auto graphic = std::make_unique<TTIFFGraphic>();
    TMemoryStream stream(bytes.data(), bytes.size());
    graphic->LoadFromStream(stream);
    return graphic;
}

// The bitmap's pixels as 0xRRGGBB values, row by row.
inline std::vector<uint32_t> Pixels(const TBitmap& bitmap)
{
    std::vector<uint32_t> out(size_t(bitmap.Width()) * bitmap.Height());
    for (int y = 0; y < bitmap.Height(); ++y)
        bitmap.RowToARGB(y, 0, bitmap.Width(), out.data() + size_t(y) * bitmap.Width());
    for (auto& v : out)
        v &= 0xFFFFFF;
    return out;
}

// The error text a call raises ("" when none).
template <class F>
std::string ErrorOf(F&& f)
{
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

} // namespace tifftest
