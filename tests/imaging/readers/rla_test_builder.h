#pragma once
// Builds RLA files byte by byte for the RLA reader's tests: the 740-byte
// big-endian header, the row offsets and the run-length coded channels.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace rlatest {

using Bytes = std::vector<uint8_t>;
// Channels of one stored row: red, green, blue, then the matte channel.
using Row = std::vector<std::vector<uint16_t>>;

struct RlaFile {
    int16_t Left = 0, Right = 0, Bottom = 0, Top = 0; // the active window
    int16_t ColorChannels = 3;
    int16_t MatteChannels = 0;
    uint16_t Revision = 0xFFFE;
    std::string Gamma = "2.2";
    std::string Space = "rgb";
    int16_t Bits = 8;
    std::vector<Row> Rows; // in stored order
};

inline void PutU16(Bytes& b, size_t at, uint16_t v)
{
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}

// Runs of two or more equal bytes as count - 1 (0..127) and the byte,
// everything else as literals of -n (n up to 128).
inline Bytes EncodeChannel(const Bytes& raw)
{
    Bytes out;
    size_t i = 0;
    while (i < raw.size()) {
        size_t run = 1;
        while (i + run < raw.size() && raw[i + run] == raw[i] && run < 128)
            ++run;
        if (run >= 2) {
            out.push_back(static_cast<uint8_t>(run - 1));
            out.push_back(raw[i]);
            i += run;
            continue;
        }
        size_t n = 1;
        while (i + n < raw.size() && n < 128 && !(i + n + 1 < raw.size() && raw[i + n] == raw[i + n + 1]))
            ++n;
        out.push_back(static_cast<uint8_t>(-static_cast<int>(n)));
        out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(i),
                   raw.begin() + static_cast<std::ptrdiff_t>(i + n));
        i += n;
    }
    return out;
}

inline Bytes Build(const RlaFile& f)
{
    Bytes b(740, 0);
    PutU16(b, 2, static_cast<uint16_t>(f.Right));
    PutU16(b, 6, static_cast<uint16_t>(f.Top));
    PutU16(b, 8, static_cast<uint16_t>(f.Left));
    PutU16(b, 10, static_cast<uint16_t>(f.Right));
    PutU16(b, 12, static_cast<uint16_t>(f.Bottom));
    PutU16(b, 14, static_cast<uint16_t>(f.Top));
    PutU16(b, 20, static_cast<uint16_t>(f.ColorChannels));
    PutU16(b, 22, static_cast<uint16_t>(f.MatteChannels));
    PutU16(b, 26, f.Revision);
    std::memcpy(b.data() + 28, f.Gamma.data(), std::min<size_t>(f.Gamma.size(), 16));
    std::memcpy(b.data() + 580, f.Space.data(), std::min<size_t>(f.Space.size(), 32));
    PutU16(b, 658, static_cast<uint16_t>(f.Bits));
    const size_t table = b.size();
    b.resize(table + 4 * f.Rows.size());
    for (size_t y = 0; y < f.Rows.size(); ++y) {
        const auto offset = static_cast<uint32_t>(b.size());
        for (int k = 0; k < 4; ++k)
            b[table + 4 * y + static_cast<size_t>(k)] = static_cast<uint8_t>(offset >> (24 - 8 * k));
        for (const auto& channel : f.Rows[y]) {
            Bytes raw;
            for (const uint16_t v : channel) {
                if (f.Bits > 8)
                    raw.push_back(static_cast<uint8_t>(v >> 8));
                raw.push_back(static_cast<uint8_t>(v));
            }
            const Bytes packed = EncodeChannel(raw);
            b.push_back(static_cast<uint8_t>(packed.size() >> 8));
            b.push_back(static_cast<uint8_t>(packed.size()));
            b.insert(b.end(), packed.begin(), packed.end());
        }
    }
    return b;
}

// A width x height image whose stored row y, channel c, pixel x holds
// (x * 37 + y * 11 + c * 70) mod 256, with a run of equal pixels in each row.
inline std::vector<Row> Pattern(int width, int height, int channels)
{
    std::vector<Row> rows;
    for (int y = 0; y < height; ++y) {
        Row row(static_cast<size_t>(channels));
        for (int c = 0; c < channels; ++c)
            for (int x = 0; x < width; ++x)
                row[static_cast<size_t>(c)].push_back(
                    static_cast<uint16_t>(((x < width / 2 ? 0 : x) * 37 + y * 11 + c * 70) % 256));
        rows.push_back(row);
    }
    return rows;
}

} // namespace rlatest
