#include "imaging/readers/rla_graphic.h"

#include "imaging/byte_reader.h"
#include "imaging/compression/run_length_decoders.h"
#include "imaging/image_limits.h"
#include "imaging/strings/messages.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

PW_DEFINE_GRAPHIC_CLASS(TRLAGraphic, TRasterGraphic)

namespace {

constexpr int HeaderSize = 740;
constexpr uint16_t Revision = 0xFFFE;
constexpr float DisplayGamma = 2.2f;

// A text field: the bytes up to the first 0.
std::string TextField(TByteReader& in, int size)
{
    char text[64] = {};
    in.Bytes(text, size);
    return std::string(text, std::find(text, text + size, '\0'));
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The gamma text as a number, blanks around it allowed; 1.0 when it is not
// one.
float GammaOf(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return 1.0f;
    const size_t last = text.find_last_not_of(" \t");
    const char* begin = text.data() + first;
    const char* end = text.data() + last + 1;
    float value = 1.0f;
    const auto [ptr, error] = std::from_chars(begin, end, value);
    return error == std::errc() && ptr == end ? value : 1.0f;
}

// Spreads big-endian samples of bits < 16 over the full 16-bit range, so
// that the colour manager's 16-to-8 reduction sees them at their scale.
void WidenSamples(uint8_t* data, uint32_t count, unsigned bits)
{
    const uint32_t top = (1u << bits) - 1;
    for (uint32_t i = 0; i < count; ++i, data += 2) {
        const uint32_t v = std::min<uint32_t>(LoadU16BE(data), top);
        const uint32_t w = v * 65535u / top;
        data[0] = static_cast<uint8_t>(w >> 8);
        data[1] = static_cast<uint8_t>(w);
    }
}

} // namespace

TRLAGraphic::THeader TRLAGraphic::ReadHeader(TStream& stream)
{
    TByteReader in(stream);
    THeader h;
    in.Skip(8); // the full window
    h.ActiveLeft = in.I16BE();
    h.ActiveRight = in.I16BE();
    h.ActiveBottom = in.I16BE();
    h.ActiveTop = in.I16BE();
    in.Skip(4); // frame, storage type
    h.ColorChannels = in.I16BE();
    h.MatteChannels = in.I16BE();
    in.Skip(2); // auxiliary channels
    h.Revision = in.U16BE();
    h.Gamma = TextField(in, 16);
    in.Skip(536); // primaries, white point, job, names, description, program, machine, user, date, aspect
    h.Space = TextField(in, 32);
    in.Skip(46); // field, time, filter
    h.ChannelBits = in.I16BE();
    in.Skip(80); // matte and auxiliary descriptions, space, next offset
    return h;
}

bool TRLAGraphic::CanLoadStream(TStream& stream)
{
    const int64_t position = stream.Position();
    bool result = false;
    if (stream.Remaining() > HeaderSize) {
        const THeader h = ReadHeader(stream);
        const std::string space = Lower(h.Space);
        result = h.Revision == Revision && (space == "rgb" || space == "xyz");
    }
    stream.SetPosition(position);
    return result;
}

bool TRLAGraphic::LoadProperties(TStream& stream, int imageIndex)
{
    TRasterGraphic::LoadProperties(stream, imageIndex);
    const THeader h = ReadHeader(stream);
    TImageProperties& p = ImageProperties;
    p.Flags = ifBigEndian;
    p.SamplesPerPixel = static_cast<uint8_t>((h.ColorChannels & 0xFF) + (h.MatteChannels == 1 ? 1 : 0));
    p.BitsPerSample = static_cast<uint8_t>(h.ChannelBits & 0xFF);
    p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
    const std::string space = Lower(h.Space);
    if (space == "rgb")
        p.PixelScheme = h.MatteChannels > 0 ? psRGBA : psRGB;
    else if (space == "xyz")
        return false;
    p.Gamma = GammaOf(h.Gamma);
    p.CompressionKind = ckRunLength;
    p.Width = static_cast<uint32_t>(std::max(int32_t(h.ActiveRight) - int32_t(h.ActiveLeft) + 1, 0));
    p.Height = static_cast<uint32_t>(std::abs(int32_t(h.ActiveBottom) - int32_t(h.ActiveTop)) + 1);
    p.StoredBottomUp = h.ActiveBottom < h.ActiveTop;
    return true;
}

void TRLAGraphic::LoadFromStream(TStream& stream)
{
    FreeImage();
    BasePosition = static_cast<int32_t>(stream.Position());
    // The channel space "xyz" is not shown and not reported either.
    if (!LoadProperties(stream, 0))
        return;
    ProgressRect = TRect{0, 0, static_cast<int32_t>(ImageProperties.Width), 1};
    Progress(this, psStarting, 0, false, ProgressRect, msg::Transfering);
    try {
        LoadRows(stream);
    } catch (...) {
        EndProgress();
        throw;
    }
    EndProgress();
}

void TRLAGraphic::LoadRows(TStream& stream)
{
    TImageProperties& p = ImageProperties;
    stream.SetPosition(BasePosition);
    const THeader h = ReadHeader(stream);
    if (p.Width == 0)
        RaiseInvalidFormat();
    // Red, green and blue are read as the first three channels of a row;
    // another count, or a space other than "rgb", would be taken apart
    // wrongly.
    const unsigned bits = p.BitsPerSample;
    if (p.PixelScheme == psUnknown || (h.ColorChannels & 0xFF) != 3 || bits < 8 || bits > 16)
        RaiseImageErrorFmt(msg::InvalidColorFormat, DisplayName());
    const bool matte = p.PixelScheme == psRGBA;
    const uint32_t channels = matte ? 4 : 3;
    const uint32_t sampleBytes = bits > 8 ? 2 : 1;

    TColorManager& cm = ColorManager();
    cm.SetSourceSamples(static_cast<uint8_t>(channels));
    cm.SetTargetSamples(static_cast<uint8_t>(channels));
    cm.SetSourceBits(static_cast<uint8_t>(8 * sampleBytes));
    cm.SetTargetBits(8);
    cm.SetSourceScheme(p.PixelScheme);
    cm.SetTargetScheme(matte ? psBGRA : psBGR);
    cm.SetSourceFlags(sampleBytes == 2 ? sfSwapBytes : 0);
    const TBitmapFormat format = cm.BitmapFormatOf(1);
    CheckImageSize(DisplayName(), p.Width, p.Height, static_cast<uint32_t>(BitsPerPixelOf(format)));
    SetPixelFormat(format);
    SetAlphaPresent(matte);

    // The gamma field names the gamma the samples are encoded for: 1 / that
    // is the image gamma, so a file made for 2.2 shows as stored on a 2.2
    // display. A gamma that is no usable number corrects nothing.
    if (p.Gamma != 1.0f && std::isfinite(p.Gamma) && p.Gamma > 0) {
        cm.SetGammaValues(1.0f / p.Gamma, DisplayGamma);
        cm.SetTargetFlags(cm.TargetFlags() | sfGamma);
        p.Flags |= ifGammaApplied;
    }

    SetSize(static_cast<int>(p.Width), static_cast<int>(p.Height));
    // The offset table comes first: a file too short for it is refused
    // before the table is made.
    if (uint64_t(p.Height) * 4 > static_cast<uint64_t>(std::max<int64_t>(stream.Remaining(), 0)))
        throw EReadError(msg::StreamReadError);
    TCardinalArray offsets(p.Height);
    stream.ReadBuffer(offsets.data(), int64_t(p.Height) * 4);
    SwapLongs(offsets.data(), p.Height);

    TRLADecoder decoder;
    decoder.ExpandStart();
    const uint32_t channelBytes = p.Width * sampleBytes;
    std::vector<uint8_t> planes(CheckBufferSize(DisplayName(), uint64_t(channels) * channelBytes, 1));
    uint8_t* targets[4] = {};
    const void* sources[4] = {};
    for (uint32_t c = 0; c < channels; ++c)
        sources[c] = targets[c] = planes.data() + size_t(c) * channelBytes;
    std::vector<uint8_t> input;
    TByteReader in(stream);
    for (uint32_t y = 0; y < p.Height; ++y) {
        stream.SetPosition(int64_t(BasePosition) + offsets[y]);
        for (uint32_t c = 0; c < channels; ++c) {
            const uint16_t n = in.U16BE();
            if (input.size() < n)
                input.resize(n);
            in.Bytes(input.data(), n);
            const uint8_t* source = input.data();
            uint8_t* target = targets[c];
            const size_t produced = decoder.Expand(source, n, target, channelBytes, n, channelBytes).Produced;
            // A channel coded short shows black there, not the row before.
            std::memset(targets[c] + produced, 0, channelBytes - produced);
            if (bits > 8 && bits < 16)
                WidenSamples(targets[c], p.Width, bits);
        }
        const uint32_t line = p.StoredBottomUp ? p.Height - 1 - y : y;
        cm.ConvertLine(sources, static_cast<int>(channels), ScanLine(static_cast<int>(line)), p.Width, 0xFF);
        RowDone(y, p.Height);
    }
    decoder.ExpandFinish();
}
