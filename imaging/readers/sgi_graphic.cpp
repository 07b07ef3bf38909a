#include "imaging/readers/sgi_graphic.h"

#include "imaging/byte_reader.h"
#include "imaging/compression/run_length_decoders.h"
#include "imaging/image_limits.h"
#include "imaging/strings/messages.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

#include <algorithm>
#include <cstring>

PW_DEFINE_GRAPHIC_CLASS(TSGIGraphic, TRasterGraphic)

namespace {

constexpr const char* Name = "SGI";
constexpr int HeaderSize = 512;
constexpr uint16_t Magic = 474;

// Channels that reach the bitmap: red, green, blue (and alpha), or the first
// channel alone for grey and every other channel count.
uint32_t ChannelsShown(TPixelScheme scheme)
{
    return scheme == psRGB ? 3 : scheme == psRGBA ? 4 : 1;
}

// Bytes the stream holds from position on.
uint64_t Available(int64_t size, uint64_t position)
{
    return position < static_cast<uint64_t>(size) ? static_cast<uint64_t>(size) - position : 0;
}

} // namespace

TSGIGraphic::TSGIGraphic() = default;
TSGIGraphic::~TSGIGraphic() = default;

TSGIGraphic::THeader TSGIGraphic::ReadHeader(TStream& stream)
{
    TByteReader in(stream);
    THeader h;
    h.Magic = in.U16BE();
    h.Storage = in.U8();
    h.BytesPerSample = in.U8();
    h.Dimension = in.U16BE();
    h.XSize = in.U16BE();
    h.YSize = in.U16BE();
    h.ZSize = in.U16BE();
    in.Skip(HeaderSize - 12);
    return h;
}

bool TSGIGraphic::CanLoadStream(TStream& stream)
{
    const int64_t position = stream.Position();
    bool result = false;
    if (stream.Remaining() > HeaderSize) {
        const THeader h = ReadHeader(stream);
        result = h.Magic == Magic && (h.BytesPerSample == 1 || h.BytesPerSample == 2) && h.Dimension >= 1 &&
                 h.Dimension <= 3;
    }
    stream.SetPosition(position);
    return result;
}

bool TSGIGraphic::LoadProperties(TStream& stream, int imageIndex)
{
    TRasterGraphic::LoadProperties(stream, imageIndex);
    const THeader h = ReadHeader(stream);
    if (h.Magic != Magic)
        return false;
    TImageProperties& p = ImageProperties;
    p.Flags = ifBigEndian;
    p.BitsPerSample = static_cast<uint8_t>(h.BytesPerSample * 8);
    p.Width = h.XSize;
    p.Height = h.YSize;
    p.SamplesPerPixel = static_cast<uint8_t>(h.ZSize & 0xFF);
    p.PixelScheme = p.SamplesPerPixel == 3 ? psRGB : p.SamplesPerPixel == 4 ? psRGBA : psIndexed;
    p.BitsPerPixel = static_cast<uint8_t>(p.BitsPerSample * p.SamplesPerPixel);
    p.CompressionKind = h.Storage == 1 ? ckRunLength : ckNone;
    return true;
}

void TSGIGraphic::LoadFromStream(TStream& stream)
{
    BeginLoad(stream, msg::Preparing);
    // The row tables, buffer and decoder live for this load only; the
    // ending notification is sent also when the load fails.
    const auto finish = [this] {
        Decoder.reset();
        RowStart = {};
        RowSize = {};
        PackedRow = {};
        Progress(this, psEnding, 100, true, ProgressRect, "");
    };
    try {
        stream.SetPosition(BasePosition);
        const THeader h = ReadHeader(stream);
        if (h.XSize == 0 || h.YSize == 0 || (h.ZSize & 0xFF) == 0)
            RaiseInvalidFormat();
        if (h.BytesPerSample != 1 && h.BytesPerSample != 2)
            RaiseImageErrorFmt(msg::InvalidColorFormat, Name);
        LoadRows(stream, h.ZSize & 0xFF);
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TSGIGraphic::LoadRows(TStream& stream, uint32_t channels)
{
    const TImageProperties& p = ImageProperties;
    const uint32_t width = p.Width;
    const uint32_t height = p.Height;
    const uint32_t shown = ChannelsShown(p.PixelScheme);
    StreamSize = stream.Size();
    RowBytes = width * (p.BitsPerSample / 8);

    // Every channel count but 3 and 4 shows channel 0 through a grey ramp;
    // 16-bit samples are reduced to 8 bits on the way.
    TColorManager& cm = ColorManager();
    cm.SetSourceFlags(sfSwapBytes);
    cm.SetSourceBits(p.BitsPerSample);
    cm.SetTargetBits(8);
    cm.SetSourceSamples(static_cast<uint8_t>(shown));
    cm.SetTargetSamples(static_cast<uint8_t>(shown));
    cm.SetSourceScheme(shown == 1 ? psIndexed : p.PixelScheme);
    cm.SetTargetScheme(shown == 3 ? psBGR : shown == 4 ? psBGRA : psIndexed);
    const TBitmapFormat format = cm.BitmapFormatOf(1);
    CheckImageSize(Name, width, height, static_cast<uint32_t>(BitsPerPixelOf(format)));
    SetPixelFormat(format);
    SetAlphaPresent(shown == 4);
    SetSize(static_cast<int>(width), static_cast<int>(height));
    if (shown == 1)
        SetPalette(cm.MakeGrayPalette(false));
    if (p.CompressionKind == ckRunLength) {
        ReadRowTables(stream, channels);
        Decoder = std::make_unique<TSGIRLEDecoder>(p.BitsPerSample);
    }

    const bool direct = shown == 1 && p.BitsPerSample == 8;
    std::vector<uint8_t> planes(direct ? 0 : CheckBufferSize(Name, uint64_t(shown) * RowBytes, 1));
    uint8_t* targets[4] = {};
    const void* sources[4] = {};
    for (uint32_t k = 0; k < shown && !direct; ++k)
        sources[k] = targets[k] = planes.data() + size_t(k) * RowBytes;

    Progress(this, psEnding, 100, true, ProgressRect, "");
    StartProgress(msg::Transfering);
    for (uint32_t y = 0; y < height; ++y) {
        // A row the file holds nothing of is left as the fresh bitmap has it,
        // so a short file that declares a huge image costs no more than its data.
        uint8_t* line = ScanLine(static_cast<int>(height - 1 - y));
        if (direct) {
            ReadChannelRow(y, 0, line);
        } else if (ReadSGIRow(y, targets, shown)) {
            cm.ConvertLine(sources, static_cast<int>(shown), line, width, 0xFF);
        }
        RowDone(y, height);
    }
}

void TSGIGraphic::ReadRowTables(TStream& stream, uint32_t channels)
{
    // Only the entries of the channels shown are needed; they come first in
    // both tables. A table is as long as the file can fill: the rows whose
    // entries are missing hold nothing.
    const uint64_t height = ImageProperties.Height;
    const uint64_t entries = height * ChannelsShown(ImageProperties.PixelScheme);
    const uint64_t tableBytes = height * channels * 4;
    const auto read = [&](uint64_t position, TCardinalArray& table) {
        const uint64_t bytes = std::min<uint64_t>(entries * 4, Available(StreamSize, position)) & ~uint64_t(3);
        table.assign(bytes / 4, 0);
        if (bytes == 0)
            return;
        stream.SetPosition(static_cast<int64_t>(position));
        stream.ReadBuffer(table.data(), static_cast<int64_t>(bytes));
        SwapLongs(table.data(), static_cast<uint32_t>(bytes / 4));
    };
    const uint64_t start = uint64_t(BasePosition) + HeaderSize;
    read(start, RowStart);
    read(start + tableBytes, RowSize);
}

bool TSGIGraphic::ReadSGIRow(uint32_t y, uint8_t* const* targets, uint32_t count)
{
    size_t produced[4] = {};
    bool any = false;
    for (uint32_t k = 0; k < count; ++k) {
        produced[k] = ReadChannelRow(y, k, targets[k]);
        any = any || produced[k] > 0;
    }
    // What the file does not hold of a row shows as 0, not as the row before.
    for (uint32_t k = 0; any && k < count; ++k)
        std::memset(targets[k] + produced[k], 0, RowBytes - produced[k]);
    return any;
}

size_t TSGIGraphic::ReadChannelRow(uint32_t y, uint32_t channel, uint8_t* target)
{
    TStream& stream = *SourceStream;
    const uint64_t height = ImageProperties.Height;
    size_t produced = 0;
    if (Decoder) {
        const size_t index = size_t(channel) * height + y;
        if (index >= RowStart.size() || index >= RowSize.size()) {
            NoteEarlyEnd(y);
            return 0;
        }
        const uint64_t position = uint64_t(BasePosition) + RowStart[index];
        const uint64_t held = Available(StreamSize, position);
        if (held < RowSize[index])
            NoteEarlyEnd(y);
        // Bytes past 2 x RowBytes + 2 cannot reach the row: the costliest
        // coding spends one control per sample and ends with one more.
        const uint64_t length = std::min<uint64_t>({RowSize[index], held, 2 * uint64_t(RowBytes) + 2});
        if (length == 0)
            return 0;
        if (PackedRow.size() < length)
            PackedRow.resize(length);
        stream.SetPosition(static_cast<int64_t>(position));
        const int64_t got = stream.Read(PackedRow.data(), static_cast<int64_t>(length));
        const uint8_t* source = PackedRow.data();
        uint8_t* out = target;
        produced = Decoder->Expand(source, static_cast<size_t>(got), out, RowBytes, static_cast<size_t>(got), RowBytes)
                       .Produced;
    } else {
        const uint64_t position =
            uint64_t(BasePosition) + HeaderSize + (y + channel * height) * uint64_t(RowBytes);
        const uint64_t length = std::min<uint64_t>(RowBytes, Available(StreamSize, position));
        if (length < RowBytes)
            NoteEarlyEnd(y);
        if (length > 0) {
            stream.SetPosition(static_cast<int64_t>(position));
            produced = static_cast<size_t>(stream.Read(target, static_cast<int64_t>(length)));
        }
    }
    return produced;
}
