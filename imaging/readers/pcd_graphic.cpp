#include "imaging/readers/pcd_graphic.h"

#include "imaging/byte_reader.h"
#include "imaging/strings/messages.h"
#include "platform/rounding.h"
#include "platform/streams.h"

#include <algorithm>
#include <cstring>
#include <vector>

PW_DEFINE_GRAPHIC_CLASS(TPCDGraphic, TRasterGraphic)

namespace {

constexpr int64_t SectorSize = 2048;
// The first three sectors hold every header field the reader uses.
constexpr int64_t HeaderSize = 3 * SectorSize;
constexpr char OverviewSignature[] = "PCD_OPA";
constexpr char ImagePackSignature[] = "PCD";
constexpr size_t ImagePackSignatureOffset = 2048;
constexpr size_t ImageCountOffset = 10;
constexpr size_t RotationOffset = 0xE02;
constexpr int MaxLevel = 5;
constexpr int BaseLevel = 2;
// Where the stored pictures begin: the base image of an image pack, the
// first 192 x 128 picture of an overview file.
constexpr int64_t BaseImageSector = 96;
constexpr int64_t OverviewImageSector = 5;
// Luma coefficients (red, green, blue) of Photo-YCC.
const std::vector<float> PhotoYCCLuma = {0.2125f, 0.7154f, 0.0721f};

bool HasSignature(const uint8_t* bytes, const char* signature)
{
    return std::memcmp(bytes, signature, std::strlen(signature)) == 0;
}

} // namespace

bool TPCDGraphic::CanLoadStream(TStream& stream)
{
    const int64_t position = stream.Position();
    bool result = false;
    if (stream.Remaining() > HeaderSize) {
        uint8_t header[ImagePackSignatureOffset + 3];
        stream.ReadBuffer(header, sizeof header);
        result = HasSignature(header, OverviewSignature) ||
                 HasSignature(header + ImagePackSignatureOffset, ImagePackSignature);
    }
    stream.SetPosition(position);
    return result;
}

bool TPCDGraphic::LoadProperties(TStream& stream, int imageIndex)
{
    TRasterGraphic::LoadProperties(stream, imageIndex);
    std::vector<uint8_t> header(HeaderSize);
    TByteReader(stream).Bytes(header.data(), HeaderSize);
    TImageProperties& p = ImageProperties;
    p.PCDOverview = HasSignature(header.data(), OverviewSignature);
    if (!p.PCDOverview && !HasSignature(header.data() + ImagePackSignatureOffset, ImagePackSignature))
        return false;
    p.PCDRotation = header[RotationOffset] & 3;
    const int level = p.PCDOverview ? 0 : std::clamp(imageIndex, 0, MaxLevel);
    p.Width = 192u << level;
    p.Height = 128u << level;
    if (p.PCDRotation & 1)
        std::swap(p.Width, p.Height);
    p.PixelScheme = psPhotoYCC;
    p.BitsPerSample = 8;
    p.SamplesPerPixel = 3;
    p.BitsPerPixel = 24;
    p.CompressionKind = level > BaseLevel ? ckPhotoCDHuffman : ckNone;
    p.PCDImageCount = LoadU16BE(header.data() + ImageCountOffset);
    return true;
}

void TPCDGraphic::StartStage(const char* message)
{
    Progress(this, psStarting, 0, false, ProgressRect, message);
}

void TPCDGraphic::LoadFromStream(TStream& stream)
{
    FreeImage();
    BasePosition = static_cast<int32_t>(stream.Position());
    if (!LoadProperties(stream, BaseLevel))
        return;
    TImageProperties& p = ImageProperties;
    const bool overview = p.PCDOverview;
    const uint32_t width = overview ? 192 : 768;
    const uint32_t height = overview ? 128 : 512;
    const size_t planeSize = size_t(width) * height;
    const int64_t imageStart = (overview ? OverviewImageSector : BaseImageSector) * SectorSize;
    // An overview file without a picture has nothing to show.
    if (overview && (p.PCDImageCount == 0 ||
                     stream.Size() - BasePosition - imageStart < static_cast<int64_t>(planeSize * 3 / 2)))
        return;

    stream.SetPosition(BasePosition);
    ProgressRect = TRect{0, 0, static_cast<int32_t>(p.Width), 1};
    StartStage(msg::Preparing);
    p.Width = width;
    p.Height = height;
    std::vector<uint8_t> planes(3 * planeSize);
    uint8_t* const luma = planes.data();
    uint8_t* const blue = luma + planeSize;
    uint8_t* const red = blue + planeSize;
    TByteReader in(stream);
    in.Skip(imageStart);

    TColorManager& cm = ColorManager();
    cm.SetSourceScheme(psPhotoYCC);
    cm.SetSourceBits(8);
    cm.SetSourceSamples(3);
    cm.SetTargetScheme(psBGR);
    cm.SetTargetBits(8);
    cm.SetTargetSamples(3);
    SetPixelFormat(bf24Bit);
    cm.SetChromaParameters(PhotoYCCLuma, 2, 2);
    EndProgress();

    // Per pair of rows: two luma rows, then one row of each chroma plane at
    // half width, placed at the start of the chroma plane's row y / 2.
    StartStage(msg::LoadingData);
    for (uint32_t y = 0; y < height; y += 2) {
        const int32_t percent = MulDiv(static_cast<int32_t>(y), 100, static_cast<int32_t>(height));
        Progress(this, psRunning, static_cast<uint8_t>(percent), false, ProgressRect, "");
        in.Bytes(luma + size_t(y) * width, 2 * int64_t(width));
        in.Bytes(blue + size_t(y / 2) * width, width / 2);
        in.Bytes(red + size_t(y / 2) * width, width / 2);
    }
    EndProgress();

    StartStage(msg::Upsampling);
    Progress(this, psRunning, 80, false, ProgressRect, "");
    Upsample2x(width / 2, height / 2, width, blue);
    Progress(this, psRunning, 100, false, ProgressRect, "");
    Upsample2x(width / 2, height / 2, width, red);
    EndProgress();

    StartStage(msg::Transfering);
    const uint8_t rotation = p.PCDRotation;
    if (rotation & 1) {
        SetSize(static_cast<int>(height), static_cast<int>(width));
        ProgressRect.Right = static_cast<int32_t>(height);
        std::vector<uint8_t> row(size_t(width) * 3);
        for (uint32_t y = 0; y < height; ++y) {
            const size_t offset = size_t(y) * width;
            cm.ConvertLine({luma + offset, blue + offset, red + offset}, row.data(), width, 0xFF);
            // Code 1: the stored top row becomes the left column, bottom to
            // top; code 3: the right column, top to bottom.
            const uint32_t column = rotation == 1 ? y : height - 1 - y;
            for (uint32_t x = 0; x < width; ++x) {
                const uint32_t target = rotation == 1 ? width - 1 - x : x;
                std::memcpy(ScanLine(static_cast<int>(target)) + size_t(column) * 3, row.data() + size_t(x) * 3, 3);
            }
            RowDone(y, height);
        }
    } else {
        SetSize(static_cast<int>(width), static_cast<int>(height));
        for (uint32_t y = 0; y < height; ++y) {
            const size_t offset = size_t(y) * width;
            cm.ConvertLine({luma + offset, blue + offset, red + offset}, ScanLine(static_cast<int>(y)), width, 0xFF);
            RowDone(y, height);
        }
    }
    EndProgress();
}
