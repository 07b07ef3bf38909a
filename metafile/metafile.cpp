#include "metafile/metafile.h"

#include "imaging/byte_reader.h"
#include "imaging/image_limits.h"
#include "imaging/strings/messages.h"
#include "metafile/gdi_context.h"
#include "metafile/metafile_players.h"
#include "metafile/record_data.h"
#include "platform/exceptions.h"
#include "platform/picture.h"
#include "platform/streams.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t PlaceableKey = 0x9AC6CDD7;
constexpr uint64_t PlaceableSize = 22;
constexpr uint64_t WmfHeaderSize = 18;
constexpr uint32_t EmfSignature = 0x464D4520; // " EMF"
constexpr uint64_t EmfMinimumHeader = 88;
constexpr uint16_t META_SETWINDOWEXT = 0x020C;
constexpr double PixelsPerInch = 96;
constexpr double PixelsPerMm = PixelsPerInch / 25.4;

[[noreturn]] void RaiseInvalid(const char* kind)
{
    throw EInvalidGraphic(Format(msg::InvalidImage, kind));
}

// Text drawing needs a GUI application object. A program without one (the
// command-line tool, the fuzz targets) gets one that needs no display.
void EnsureGuiApplication()
{
    if (QCoreApplication::instance())
        return;
    static int argc = 3;
    static char name[] = "pinwright";
    static char option[] = "-platform";
    static char platform[] = "offscreen";
    static char* argv[] = {name, option, platform, nullptr};
    // Start-up notes about the session (no runtime folder and the like) are
    // no concern of a picture reader.
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    static QGuiApplication* application = new QGuiApplication(argc, argv);
    (void)application;
    qInstallMessageHandler(previous);
}

uint64_t PixelSide(double pixels, const char* kind)
{
    if (!std::isfinite(pixels) || pixels <= 0)
        RaiseInvalid(kind);
    // Sides from 16- and 32-bit fields stay far below 2^63; the size check
    // that follows refuses any past the limit.
    return static_cast<uint64_t>(std::max(1.0, std::round(pixels)));
}

struct TLayout {
    uint64_t Width = 0;
    uint64_t Height = 0;
    uint64_t RecordsStart = 0;
    // Set-up of the drawing context before the first record.
    double UnitsPerMmX = PixelsPerMm;
    double UnitsPerMmY = PixelsPerMm;
    QTransform DeviceToImage;
    bool Wmf = true;
    QRectF Window; // WMF: the logical box that fills the image
};

// A standard WMF names its size only through its first window extent.
bool FindWindowExtent(const std::vector<uint8_t>& data, uint64_t start, QPointF& extent)
{
    uint64_t position = start;
    while (data.size() - position >= 6) {
        const uint64_t bytes = uint64_t(LoadU32LE(&data[position])) * 2;
        const uint16_t function = LoadU16LE(&data[position + 4]);
        if (bytes < 6 || bytes > data.size() - position || function == 0)
            return false;
        if (function == META_SETWINDOWEXT && bytes >= 10) {
            extent = QPointF(static_cast<int16_t>(LoadU16LE(&data[position + 8])),
                             static_cast<int16_t>(LoadU16LE(&data[position + 6])));
            return extent.x() != 0 && extent.y() != 0;
        }
        position += bytes;
    }
    return false;
}

TLayout WmfLayout(const std::vector<uint8_t>& data)
{
    TLayout layout;
    TMemoryStream stream(data.data(), data.size());
    TByteReader reader(stream, Format(msg::InvalidImage, "WMF"));
    bool placeable = false;
    if (data.size() >= 4 && LoadU32LE(data.data()) == PlaceableKey) {
        placeable = true;
        reader.Skip(6);
        const int16_t left = reader.I16LE();
        const int16_t top = reader.I16LE();
        const int16_t right = reader.I16LE();
        const int16_t bottom = reader.I16LE();
        const uint16_t unitsPerInch = reader.U16LE();
        reader.Skip(6);
        if (unitsPerInch == 0 || right == left || bottom == top)
            RaiseInvalid("WMF");
        layout.Window = QRectF(QPointF(left, top), QPointF(right, bottom));
        layout.Width = PixelSide(std::fabs(double(right) - left) * PixelsPerInch / unitsPerInch, "WMF");
        layout.Height = PixelSide(std::fabs(double(bottom) - top) * PixelsPerInch / unitsPerInch, "WMF");
    }
    const uint16_t type = reader.U16LE();
    const uint16_t headerWords = reader.U16LE();
    const uint16_t version = reader.U16LE();
    reader.Skip(WmfHeaderSize - 6);
    if ((type != 1 && type != 2) || headerWords != 9 || (version != 0x0100 && version != 0x0300))
        RaiseInvalid("WMF");
    layout.RecordsStart = (placeable ? PlaceableSize : 0) + WmfHeaderSize;
    if (!placeable) {
        QPointF extent;
        if (!FindWindowExtent(data, layout.RecordsStart, extent))
            throw EInvalidGraphic(Format(msg::MetafileNoSize, "WMF"));
        layout.Window = QRectF(0, 0, extent.x(), extent.y());
        layout.Width = PixelSide(std::fabs(extent.x()), "WMF");
        layout.Height = PixelSide(std::fabs(extent.y()), "WMF");
    }
    return layout;
}

TLayout EmfLayout(const std::vector<uint8_t>& data)
{
    TMemoryStream stream(data.data(), data.size());
    TByteReader reader(stream, Format(msg::InvalidImage, "EMF"));
    const uint32_t type = reader.U32LE();
    const uint32_t size = reader.U32LE();
    int32_t bounds[4];
    int32_t frame[4];
    for (int32_t& v : bounds)
        v = reader.I32LE();
    for (int32_t& v : frame)
        v = reader.I32LE();
    const uint32_t signature = reader.U32LE();
    reader.Skip(4 * 6 + 4); // version, bytes, records, handles, reserved, description, palette entries
    const int32_t deviceX = reader.I32LE();
    const int32_t deviceY = reader.I32LE();
    const int32_t millimetresX = reader.I32LE();
    const int32_t millimetresY = reader.I32LE();
    if (type != 1 || signature != EmfSignature || size < EmfMinimumHeader || size % 4 != 0 || size > data.size())
        RaiseInvalid("EMF");

    TLayout layout;
    layout.Wmf = false;
    layout.RecordsStart = size;
    // Device units per millimetre of the reference device, finer from the
    // micrometre sizes when the header has them.
    if (deviceX > 0 && deviceY > 0 && millimetresX > 0 && millimetresY > 0) {
        layout.UnitsPerMmX = double(deviceX) / millimetresX;
        layout.UnitsPerMmY = double(deviceY) / millimetresY;
        if (size >= 108) {
            const int32_t micrometresX = static_cast<int32_t>(LoadU32LE(&data[100]));
            const int32_t micrometresY = static_cast<int32_t>(LoadU32LE(&data[104]));
            if (micrometresX > 0 && micrometresY > 0) {
                layout.UnitsPerMmX = double(deviceX) * 1000 / micrometresX;
                layout.UnitsPerMmY = double(deviceY) * 1000 / micrometresY;
            }
        }
    }
    // The frame (0.01 mm) gives the size; without a usable one, the bounds
    // (device units) do.
    QRectF device;
    double widthMm = 0;
    double heightMm = 0;
    if (frame[2] > frame[0] && frame[3] > frame[1]) {
        widthMm = (double(frame[2]) - frame[0]) / 100;
        heightMm = (double(frame[3]) - frame[1]) / 100;
        device = QRectF(frame[0] / 100.0 * layout.UnitsPerMmX, frame[1] / 100.0 * layout.UnitsPerMmY,
                        widthMm * layout.UnitsPerMmX, heightMm * layout.UnitsPerMmY);
    } else if (bounds[2] > bounds[0] && bounds[3] > bounds[1]) {
        device = QRectF(bounds[0], bounds[1], double(bounds[2]) - bounds[0], double(bounds[3]) - bounds[1]);
        widthMm = device.width() / layout.UnitsPerMmX;
        heightMm = device.height() / layout.UnitsPerMmY;
    } else {
        throw EInvalidGraphic(Format(msg::MetafileNoSize, "EMF"));
    }
    layout.Width = PixelSide(widthMm * PixelsPerMm, "EMF");
    layout.Height = PixelSide(heightMm * PixelsPerMm, "EMF");
    // The natural scale, not the rounded size over the frame: rounding
    // trims or pads the last pixel instead of stretching the picture.
    const double sx = PixelsPerMm / layout.UnitsPerMmX;
    const double sy = PixelsPerMm / layout.UnitsPerMmY;
    layout.DeviceToImage = QTransform(sx, 0, 0, sy, -device.left() * sx, -device.top() * sy);
    return layout;
}

// The metafile class stands in the picture list whenever this library is linked.
const bool Installed = [] {
    SetMetafileClass(&TMetafile::ClassType());
    return true;
}();

} // namespace

float TRecordData::F32(uint64_t at) const
{
    const uint32_t bits = U32(at);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void TRecordData::Fail() const
{
    throw EInvalidGraphic(Format(msg::MetafileBrokenRecord, std::to_string(FOffset), FKind));
}

PW_DEFINE_GRAPHIC_CLASS(TMetafile, TGraphic)

TMetafile::TMetafile() : FBitmap(std::make_unique<TBitmap>()) {}

TMetafile::~TMetafile() = default;

int TMetafile::Width() const
{
    return FBitmap->Width();
}

int TMetafile::Height() const
{
    return FBitmap->Height();
}

bool TMetafile::CanLoadStream(TStream& stream)
{
    const int64_t position = stream.Position();
    uint8_t head[44] = {};
    const int64_t got = stream.Read(head, sizeof head);
    stream.SetPosition(position);
    if (got >= 4 && LoadU32LE(head) == PlaceableKey)
        return true;
    if (got >= 6 && (LoadU16LE(head) == 1 || LoadU16LE(head) == 2) && LoadU16LE(head + 2) == 9)
        return true;
    return got >= 44 && LoadU32LE(head) == 1 && LoadU32LE(head + 40) == EmfSignature;
}

void TMetafile::LoadFromStream(TStream& stream)
{
    (void)Installed;
    const int64_t remaining = stream.Remaining();
    // An EMF starts with its header record (type 1), a WMF with anything else.
    std::vector<uint8_t> data(static_cast<size_t>(CheckBufferSize("WMF", static_cast<uint64_t>(remaining), 1)));
    stream.ReadBuffer(data.data(), remaining);
    const bool enhanced = data.size() >= 4 && LoadU32LE(data.data()) == 1;
    const TLayout layout = enhanced ? EmfLayout(data) : WmfLayout(data);
    const char* kind = enhanced ? "EMF" : "WMF";
    CheckImageSize(kind, layout.Width, layout.Height, 32);
    const int width = static_cast<int>(layout.Width);
    const int height = static_cast<int>(layout.Height);

    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetPixelFormat(bf32Bit);
    bitmap->SetSize(width, height);
    EnsureGuiApplication();
    QImage image(bitmap->ScanLine(0), width, height, static_cast<qsizetype>(bitmap->RowStride()),
                 QImage::Format_RGB32);
    {
        TGdiContext context(image, FAntialiased);
        if (layout.Wmf) {
            // The window the records set (first the placeable box) fills the image.
            context.SetDevice(PixelsPerMm, PixelsPerMm, QTransform());
            context.SetMapMode(MM_ANISOTROPIC);
            context.SetWindowOrg(layout.Window.left(), layout.Window.top());
            context.SetWindowExt(layout.Window.width(), layout.Window.height());
            context.SetViewportExt(width, height);
            PlayWmfRecords(data.data(), data.size(), layout.RecordsStart, context);
        } else {
            context.SetDevice(layout.UnitsPerMmX, layout.UnitsPerMmY, layout.DeviceToImage);
            PlayEmfRecords(data.data(), data.size(), layout.RecordsStart, context);
        }
    }
    FBitmap = std::move(bitmap);
    FEnhanced = enhanced;
    Changed();
}
