#include "app/first_look.h"

#include "imaging/compression/jpeg_support.h"
#include "imaging/jpeg_image.h"
#include "imaging/readers/jpeg2000_graphic.h"
#include "platform/bitmap.h"
#include "platform/streams.h"

#include <QPainter>
#include <QRect>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <optional>
#include <vector>

namespace {

// An eighth each way: libjpeg's smallest DCT scale, three resolution levels
// of a JPEG 2000 codestream.
constexpr unsigned kLevels = 3;
// The view is told of new rows this often at most.
constexpr auto kFrame = std::chrono::milliseconds(30);

// Tells shown of rows as they come, at most every kFrame, and of the end.
class TShowRows {
public:
    TShowRows(const TFirstLookPtr& look, const std::function<void(const TFirstLookPtr&)>& shown)
        : FLook(look), FShown(shown)
    {
    }
    void Done(int rows, bool last = false)
    {
        FLook->SetRows(rows);
        const auto now = std::chrono::steady_clock::now();
        if (last || FShownRows == 0 || now - FLast >= kFrame) {
            FShown(FLook);
            FLast = now;
            FShownRows = rows;
        }
    }

private:
    TFirstLookPtr FLook;
    const std::function<void(const TFirstLookPtr&)>& FShown;
    std::chrono::steady_clock::time_point FLast;
    int FShownRows = 0;
};

uint8_t InkToLight(unsigned ink, unsigned black)
{
    return static_cast<uint8_t>(((255 - ink) * (255 - black) + 127) / 255);
}

// libjpeg scales the DCT to an eighth: each 8 x 8 block is its mean. Colour
// comes straight out as 0xAARRGGBB words; CMYK through a row of inks.
void DecodeJPEG(const TJPEGImage& jpeg, const std::function<void(const TFirstLookPtr&)>& shown)
{
    const std::shared_ptr<TJPEGData>& data = jpeg.Data();
    if (!data || data->Width <= 0 || data->Height <= 0)
        return;
    TJPEGDecompressor decompressor;
    decompressor.UseMemorySource(static_cast<const uint8_t*>(data->Data.Memory()),
                                 static_cast<size_t>(data->Data.Size()), nullptr, true);
    jpeg_decompress_struct& d = decompressor.Info();
    decompressor.Call([&] { jpeg_read_header(&d, TRUE); });
    d.scale_num = 1;
    d.scale_denom = 1u << kLevels;
    d.dct_method = JDCT_IFAST;
    d.do_fancy_upsampling = FALSE;
    d.do_block_smoothing = FALSE;
    const bool cmyk = d.jpeg_color_space == JCS_CMYK || d.jpeg_color_space == JCS_YCCK;
    const bool inverted = cmyk && d.saw_Adobe_marker;
    d.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    decompressor.Call([&] { jpeg_start_decompress(&d); });
    const int width = static_cast<int>(d.output_width), height = static_cast<int>(d.output_height);
    if (width <= 0 || height <= 0)
        return;
    const auto look = std::make_shared<TFirstLook>(QSize(data->Width, data->Height), width, height);
    TShowRows show(look, shown);
    std::vector<uint8_t> inks(cmyk ? size_t(width) * 4 : 0);
    int y = 0;
    while (y < height) {
        JSAMPROW row = cmyk ? inks.data() : reinterpret_cast<JSAMPROW>(look->Row(y));
        const JDIMENSION got = decompressor.Call([&] { return jpeg_read_scanlines(&d, &row, 1); });
        if (got == 0)
            break;
        if (cmyk) {
            const unsigned flip = inverted ? 255 : 0;
            uint32_t* out = look->Row(y);
            for (int x = 0; x < width; ++x) {
                const uint8_t* ink = inks.data() + 4 * x;
                const unsigned k = ink[3] ^ flip;
                out[x] = 0xff000000u | uint32_t(InkToLight(ink[0] ^ flip, k)) << 16 |
                         uint32_t(InkToLight(ink[1] ^ flip, k)) << 8 | InkToLight(ink[2] ^ flip, k);
            }
        }
        ++y;
        if (y < height)
            show.Done(y);
    }
    show.Done(y, true);
}

// The levels the quick look of a JPEG 2000 picture leaves out: an eighth
// each way, or further down as far as a tile's samples come within
// quickSamples (the reader stops at the levels the file has).
unsigned QuickLevels(const std::string& fileName, uint64_t quickSamples)
{
    TJPEG2000Graphic header;
    TFileStream file(fileName, fmOpenRead);
    if (!header.LoadProperties(file, 0))
        return kLevels;
    const TImageProperties& p = header.ImageProperties;
    const uint64_t tileWidth = std::min<uint64_t>(p.TileWidth ? p.TileWidth : p.Width, p.Width);
    const uint64_t tileHeight = std::min<uint64_t>(p.TileLength ? p.TileLength : p.Height, p.Height);
    const uint64_t samples = std::max<uint64_t>(p.SamplesPerPixel, 1);
    unsigned levels = kLevels;
    const auto reduced = [](uint64_t side, unsigned n) { return (side + (uint64_t(1) << n) - 1) >> n; };
    while (levels < 32 && reduced(tileWidth, levels) * reduced(tileHeight, levels) * samples > quickSamples)
        ++levels;
    return levels;
}

// The reduced decode's bands as the reader finishes them; with whole, only
// once every row is there. The levels it left out, or none when it showed
// nothing.
std::optional<unsigned> DecodeJPEG2000(const std::string& fileName, unsigned levels, bool whole,
                                       const std::function<void(const TFirstLookPtr&)>& shown)
{
    TJPEG2000Graphic reduced;
    reduced.SetReduction(levels);
    TFirstLookPtr look;
    std::unique_ptr<TShowRows> show;
    int done = 0;
    const auto take = [&](int bottom) {
        if (reduced.Empty())
            return;
        const TImageProperties& p = reduced.ImageProperties;
        if (!look) {
            if (p.Width > INT32_MAX || p.Height > INT32_MAX)
                return;
            look = std::make_shared<TFirstLook>(QSize(int(p.Width), int(p.Height)), reduced.Width(), reduced.Height());
            show = std::make_unique<TShowRows>(look, shown);
        }
        bottom = std::min(bottom, look->Height());
        for (; done < bottom; ++done)
            reduced.RowToARGB(done, 0, look->Width(), look->Row(done));
        if (!whole || done == look->Height())
            show->Done(done, done == look->Height());
    };
    reduced.OnProgress = [&](TGraphic*, TProgressStage stage, uint8_t, bool, const TRect& r, const std::string&) {
        if (stage == psRunning && r.Bottom > done)
            take(r.Bottom);
    };
    reduced.LoadFromFile(fileName);
    if (!look || (whole && done < look->Height()))
        return std::nullopt;
    if (done < look->Height())
        show->Done(done, true);
    return reduced.AppliedReduction();
}

// A quick look first where an eighth would be slow, then the eighth.
void DecodeJPEG2000(const std::string& fileName, uint64_t quickSamples,
                    const std::function<void(const TFirstLookPtr&)>& shown)
{
    const unsigned quick = QuickLevels(fileName, quickSamples);
    const std::optional<unsigned> applied = DecodeJPEG2000(fileName, quick, false, shown);
    if (quick > kLevels && applied && *applied > kLevels)
        DecodeJPEG2000(fileName, kLevels, true, shown);
}

} // namespace

TFirstLook::TFirstLook(QSize full, int width, int height)
    : FFull(full), FImage(width, height, QImage::Format_RGB32), FBits(FImage.bits())
{
}

QImage TFirstLook::Done() const
{
    return QImage(static_cast<const uchar*>(FBits), FImage.width(), Rows(), FImage.bytesPerLine(),
                  QImage::Format_RGB32);
}

bool FirstLookAfterLoad(const TGraphic& graphic)
{
    return dynamic_cast<const TJPEGImage*>(&graphic) != nullptr;
}

bool FirstLookBeforeLoad(const TGraphic& graphic)
{
    return dynamic_cast<const TJPEG2000Graphic*>(&graphic) != nullptr;
}

void DecodeFirstLook(const TGraphic& graphic, const std::string& fileName,
                     const std::function<void(const TFirstLookPtr&)>& shown, uint64_t quickSamples)
{
    const TJPEGWarningCapture quiet([](const std::string&) {});
    try {
        if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(&graphic))
            DecodeJPEG(*jpeg, shown);
        else if (dynamic_cast<const TJPEG2000Graphic*>(&graphic))
            DecodeJPEG2000(fileName, quickSamples, shown);
    } catch (const std::exception&) {
        // What it showed stays; the full decode says what is wrong.
    }
}

void PaintFirstLook(QPainter& painter, const TFirstLook& look, double scale, const QRect& exposed)
{
    painter.fillRect(exposed, Qt::white);
    const QImage done = look.Done();
    if (done.isNull() || exposed.isEmpty() || look.Full().isEmpty())
        return;
    // View pixels per pixel of the look, across and down; the rows done
    // reach this far down the view.
    const double across = scale * look.Full().width() / look.Width();
    const double down = scale * look.Full().height() / look.Height();
    const QRect shown = exposed & QRect(0, 0, exposed.right() + 1, static_cast<int>(std::floor(done.height() * down)));
    if (shown.isEmpty())
        return;
    const QRectF source(shown.x() / across, shown.y() / down, shown.width() / across, shown.height() / down);
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(QRectF(shown), done, source);
    painter.restore();
}
