#include "imaging/readers/ppm_graphic.h"

#include "imaging/image_limits.h"
#include "imaging/strings/messages.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

#include <algorithm>
#include <cstring>

PW_DEFINE_GRAPHIC_CLASS(TPPMGraphic, TRasterGraphic)

namespace {

constexpr int MinimumSize = 10;

bool IsDigit(int b)
{
    return b >= '0' && b <= '9';
}

bool IsBitmap(uint8_t type)
{
    return type == 1 || type == 4;
}

bool IsPlain(uint8_t type)
{
    return type <= 3;
}

uint32_t SamplesOf(uint8_t type)
{
    return type == 3 || type == 6 ? 3 : 1;
}

} // namespace

bool TPPMGraphic::CanLoadStream(TStream& stream)
{
    const int64_t position = stream.Position();
    bool result = false;
    if (stream.Remaining() > MinimumSize) {
        uint8_t magic[2];
        result = stream.Read(magic, 2) == 2 && magic[0] == 'P' && magic[1] >= '1' && magic[1] <= '6';
    }
    stream.SetPosition(position);
    return result;
}

bool TPPMGraphic::FillBuffer()
{
    const int64_t got = SourceStream->Read(InputBuffer.data(), BufferSize);
    InputIndex = 0;
    InputCount = static_cast<uint32_t>(std::max<int64_t>(got, 0));
    return InputCount > 0;
}

uint8_t TPPMGraphic::NextByte()
{
    if (InputIndex >= InputCount && !FillBuffer())
        RaiseImageErrorFmt(msg::StreamReadErrorIn, "PPM");
    return InputBuffer[InputIndex++];
}

int TPPMGraphic::PeekByte()
{
    if (InputIndex >= InputCount && !FillBuffer())
        return -1;
    return InputBuffer[InputIndex];
}

void TPPMGraphic::ReadBytes(uint8_t* target, size_t count)
{
    while (count > 0) {
        if (InputIndex >= InputCount && !FillBuffer())
            RaiseImageErrorFmt(msg::StreamReadErrorIn, "PPM");
        const size_t n = std::min<size_t>(count, InputCount - InputIndex);
        std::memcpy(target, InputBuffer.data() + InputIndex, n);
        InputIndex += static_cast<uint32_t>(n);
        target += n;
        count -= n;
    }
}

std::string TPPMGraphic::ReadHeaderLine()
{
    std::string line;
    for (;;) {
        const uint8_t b = NextByte();
        if (b == '\n')
            break;
        if (b == '\r') {
            if (PeekByte() == '\n')
                ++InputIndex;
            break;
        }
        line += static_cast<char>(b);
    }
    const size_t comment = line.find('#');
    if (comment != std::string::npos)
        line.erase(comment);
    return line;
}

uint8_t TPPMGraphic::NextDigit()
{
    uint8_t b = NextByte();
    while (!IsDigit(b)) {
        if (b == '#')
            ReadHeaderLine();
        b = NextByte();
    }
    return b;
}

uint32_t TPPMGraphic::ReadNumber()
{
    uint64_t value = NextDigit() - '0';
    for (;;) {
        const int b = PeekByte();
        if (b < 0)
            break; // the last number of a file need not be followed by anything
        ++InputIndex;
        if (b == '#')
            ReadHeaderLine();
        if (!IsDigit(b))
            break;
        value = std::min<uint64_t>(value * 10 + static_cast<uint64_t>(b - '0'), UINT32_MAX);
    }
    return static_cast<uint32_t>(value);
}

bool TPPMGraphic::LoadProperties(TStream& stream, int imageIndex)
{
    TRasterGraphic::LoadProperties(stream, imageIndex);
    SourceStream = &stream;
    InputIndex = BufferSize;
    InputCount = 0;
    ImageProperties.CompressionKind = ckNone;
    if (NextByte() != 'P')
        return false;
    const uint8_t digit = NextByte();
    if (!IsDigit(digit)) {
        const bool lineEnd = digit == '\r' || digit == '\n';
        throw EConvertError(Format(msg::InvalidInteger, lineEnd ? "" : std::string(1, static_cast<char>(digit))));
    }
    MapType = static_cast<uint8_t>(digit - '0');
    // P7 and the others are no any-map of these six kinds: no image to show.
    if (MapType < 1 || MapType > 6)
        return false;

    TImageProperties& p = ImageProperties;
    p.Width = ReadNumber();
    p.Height = ReadNumber();
    MaxValue = IsBitmap(MapType) ? 1 : ReadNumber();
    p.SamplesPerPixel = static_cast<uint8_t>(SamplesOf(MapType));
    p.BitsPerSample = IsBitmap(MapType) ? 1 : MaxValue > 255 ? 16 : 8;
    p.PixelScheme = p.SamplesPerPixel == 3 ? psRGB : psIndexed;
    p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
    return true;
}

void TPPMGraphic::LoadFromStream(TStream& stream)
{
    BeginLoad(stream, msg::Transfering);
    const TImageProperties& p = ImageProperties;
    if (p.Width == 0 || p.Height == 0)
        RaiseInvalidFormat();

    // The header has been read up to the first pixel; the buffer holds on.
    const uint32_t samples = SamplesOf(MapType);
    const bool wide = p.BitsPerSample == 16;
    TColorManager& cm = ColorManager();
    cm.SetSourceScheme(samples == 3 ? psRGB : psIndexed);
    cm.SetSourceSamples(static_cast<uint8_t>(samples));
    cm.SetSourceBits(wide ? 16 : IsBitmap(MapType) ? 1 : 8);
    // Raw 16-bit samples are big-endian; plain ones are gathered in host order.
    cm.SetSourceFlags(wide && !IsPlain(MapType) ? sfSwapBytes : 0);
    cm.SetTargetScheme(samples == 3 ? psBGR : psIndexed);
    cm.SetTargetSamples(static_cast<uint8_t>(samples));
    cm.SetTargetBits(IsBitmap(MapType) ? 1 : 8);
    const TBitmapFormat format = IsBitmap(MapType) ? bf1Bit : samples == 3 ? bf24Bit : bf8Bit;
    CheckImageSize(DisplayName(), p.Width, p.Height, static_cast<uint32_t>(BitsPerPixelOf(format)));
    SetPixelFormat(format);
    SetSize(static_cast<int>(p.Width), static_cast<int>(p.Height));
    if (samples == 1)
        SetPalette(cm.MakeGrayPalette(IsBitmap(MapType)));

    const uint64_t rowSamples = uint64_t(p.Width) * samples;
    RowBuffer.assign(wide || MapType == 6 ? CheckBufferSize(DisplayName(), rowSamples, wide ? 2 : 1) : 0, 0);
    for (uint32_t y = 0; y < p.Height; ++y) {
        uint8_t* line = ScanLine(static_cast<int>(y));
        switch (MapType) {
        case 1:
            ReadPlainBits(line);
            break;
        case 2:
        case 3:
            ReadPlainSamples(line, samples);
            break;
        case 4:
            ReadBytes(line, (p.Width + 7) / 8);
            break;
        case 5:
            if (wide) {
                ReadBytes(RowBuffer.data(), RowBuffer.size());
                cm.ConvertLine({RowBuffer.data()}, line, p.Width, 0xFF);
            } else {
                ReadBytes(line, p.Width);
            }
            break;
        default:
            ReadRawRGB(line);
            break;
        }
        RowDone(y, p.Height);
    }
    RowBuffer = {};
    EndProgress();
}

void TPPMGraphic::ReadPlainBits(uint8_t* line)
{
    // One character per pixel: netpbm writes the digits of a row without
    // blanks between them.
    const uint32_t width = ImageProperties.Width;
    unsigned accumulator = 0;
    for (uint32_t x = 0; x < width; ++x) {
        accumulator = (accumulator << 1) | (NextDigit() & 1u);
        if ((x & 7) == 7) {
            *line++ = static_cast<uint8_t>(accumulator);
            accumulator = 0;
        }
    }
    if (width % 8 != 0)
        *line = static_cast<uint8_t>(accumulator << (8 - width % 8));
}

void TPPMGraphic::ReadPlainSamples(uint8_t* line, uint32_t samples)
{
    const uint32_t width = ImageProperties.Width;
    if (ImageProperties.BitsPerSample == 16) {
        for (size_t i = 0; i < size_t(width) * samples; ++i) {
            const auto word = static_cast<uint16_t>(ReadNumber());
            std::memcpy(RowBuffer.data() + 2 * i, &word, 2);
        }
        ColorManager().ConvertLine({RowBuffer.data()}, line, width, 0xFF);
        return;
    }
    if (samples == 1) {
        for (uint32_t x = 0; x < width; ++x)
            line[x] = static_cast<uint8_t>(ReadNumber());
        return;
    }
    for (uint32_t x = 0; x < width; ++x, line += 3) {
        line[2] = static_cast<uint8_t>(ReadNumber());
        line[1] = static_cast<uint8_t>(ReadNumber());
        line[0] = static_cast<uint8_t>(ReadNumber());
    }
}

void TPPMGraphic::ReadRawRGB(uint8_t* line)
{
    ReadBytes(RowBuffer.data(), RowBuffer.size());
    if (ImageProperties.BitsPerSample == 16) {
        ColorManager().ConvertLine({RowBuffer.data()}, line, ImageProperties.Width, 0xFF);
        return;
    }
    const uint8_t* source = RowBuffer.data();
    for (uint32_t x = 0; x < ImageProperties.Width; ++x, source += 3, line += 3) {
        line[0] = source[2];
        line[1] = source[1];
        line[2] = source[0];
    }
}
