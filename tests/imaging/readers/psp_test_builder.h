#pragma once
// Builds Paint Shop Pro image files byte by byte (no independent writer of
// the format exists): file header, image attributes, an optional palette and
// a layer bank whose layers hold channel blocks, for major version 3 and for
// later versions, with uncompressed, run-length or Deflate channels.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace psptest {

using Bytes = std::vector<uint8_t>;

struct Channel {
    uint16_t Type = 0;  // 0 grey or index (or the fourth plane), 1 red, 2 green, 3 blue
    Bytes Data;         // uncompressed rows
    int64_t Unpacked = -1; // stored uncompressed length; -1: Data.size()
};

struct Layer {
    uint8_t Type = 0;   // 0 is drawn by every version, 1 by later versions
    std::vector<Channel> Channels;
    uint16_t BlockType = 4;   // 4: a layer block
    uint32_t ExtraInfo = 0;   // later versions: bytes after the layer information in its chunk
};

struct File {
    uint16_t Major = 5;
    uint32_t Width = 0, Height = 0;
    uint16_t Depth = 8;
    bool Grey = false;
    uint16_t Compression = 0; // 0 none, 1 run-length, 2 Deflate, 3 JPEG
    double Resolution = 72;
    uint8_t Unit = 1;         // 2: per centimetre
    std::vector<uint32_t> Palette; // 0xRRGGBB entries; a palette block when not empty
    std::vector<Layer> Layers;
    std::string Signature = "Paint Shop Pro Image File\n\x1a";
};

class Writer {
public:
    Bytes Out;
    void U8(uint32_t v) { Out.push_back(static_cast<uint8_t>(v)); }
    void U16(uint32_t v)
    {
        U8(v);
        U8(v >> 8);
    }
    void U32(uint32_t v)
    {
        U16(v);
        U16(v >> 16);
    }
    void Append(const Bytes& b) { Out.insert(Out.end(), b.begin(), b.end()); }
    void Zeros(size_t n) { Out.insert(Out.end(), n, 0); }
};

// Runs of equal bytes as run packets (0x80 + count), single bytes as literals.
inline Bytes PackRunLength(const Bytes& raw)
{
    Bytes out;
    for (size_t i = 0, run = 1; i < raw.size(); i += run, run = 1) {
        while (i + run < raw.size() && run < 127 && raw[i + run] == raw[i])
            ++run;
        out.insert(out.end(), {static_cast<uint8_t>(run > 1 ? 0x80 + run : 1), raw[i]});
    }
    return out;
}

inline Bytes Deflate(const Bytes& raw)
{
    uLongf size = compressBound(raw.size());
    Bytes out(size);
    compress(out.data(), &size, raw.data(), raw.size());
    out.resize(size);
    return out;
}

inline Bytes Pack(const Bytes& raw, uint16_t compression)
{
    return compression == 1 ? PackRunLength(raw) : compression == 2 ? Deflate(raw) : raw;
}

inline void Block(Writer& w, uint16_t major, uint16_t type, const Bytes& data)
{
    w.Append({'~', 'B', 'K', 0});
    w.U16(type);
    if (major == 3)
        w.U32(static_cast<uint32_t>(data.size()));
    w.U32(static_cast<uint32_t>(data.size()));
    w.Append(data);
}

inline Bytes Build(const File& f)
{
    const bool v3 = f.Major == 3;
    Writer file;
    file.Append(Bytes(f.Signature.begin(), f.Signature.end()));
    file.Zeros(32 - f.Signature.size());
    file.U16(f.Major);
    file.U16(0);

    Writer attr;
    if (!v3)
        attr.U32(46);
    attr.U32(f.Width);
    attr.U32(f.Height);
    uint64_t bits;
    std::memcpy(&bits, &f.Resolution, 8);
    attr.U32(static_cast<uint32_t>(bits));
    attr.U32(static_cast<uint32_t>(bits >> 32));
    attr.U8(f.Unit);
    attr.U16(f.Compression);
    attr.U16(f.Depth);
    attr.U16(f.Depth == 24 ? 3 : 1);
    attr.U32(f.Depth >= 24 ? 1u << 24 : 1u << f.Depth);
    attr.U8(f.Grey);
    attr.Zeros(4 + 4 + 2 + 4);
    Block(file, f.Major, 0, attr.Out);

    if (!f.Palette.empty()) {
        Writer pal;
        if (!v3)
            pal.U32(8);
        pal.U32(static_cast<uint32_t>(f.Palette.size()));
        for (uint32_t c : f.Palette)
            pal.U32(c & 0xFFFFFF); // blue, green, red, 0
        Block(file, f.Major, 2, pal.Out);
    }

    if (!f.Layers.empty()) {
        Writer bank;
        for (const Layer& layer : f.Layers) {
            Writer lb;
            if (v3) {
                lb.Zeros(256);
                lb.U8(layer.Type);
                lb.Zeros(114);
            } else {
                lb.U32(4 + 2 + 5 + 115 + layer.ExtraInfo);
                lb.U16(5);
                lb.Append({'L', 'a', 'y', 'e', 'r'});
                lb.U8(layer.Type);
                lb.Zeros(114 + layer.ExtraInfo);
                lb.U32(8);
            }
            lb.U16(1);
            lb.U16(static_cast<uint32_t>(layer.Channels.size()));
            for (const Channel& c : layer.Channels) {
                const Bytes packed = Pack(c.Data, f.Compression);
                Writer cb;
                if (!v3)
                    cb.U32(16);
                cb.U32(static_cast<uint32_t>(packed.size()));
                cb.U32(static_cast<uint32_t>(c.Unpacked < 0 ? c.Data.size() : c.Unpacked));
                cb.U16(0);
                cb.U16(c.Type);
                cb.Append(packed);
                Block(lb, f.Major, 5, cb.Out);
            }
            Block(bank, f.Major, layer.BlockType, lb.Out);
        }
        Block(file, f.Major, 3, bank.Out);
    }
    return file.Out;
}

} // namespace psptest
