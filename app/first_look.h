#pragma once
// The first look at a picture being opened: a JPEG decodes at an eighth of
// its size from the DC terms of its blocks alone, a JPEG 2000 picture from
// its coarser resolutions, in a part of the full decode's time. The view
// shows it enlarged, its rows as they come, until the full picture is there;
// the full decode is the same as without it.
#include <QImage>
#include <QSize>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QPainter;
class QRect;
class TGraphic;

// Filled on the decoding thread, read on the GUI thread: rows above Rows()
// are final and are not written again.
class TFirstLook {
public:
    TFirstLook(QSize full, int width, int height);
    QSize Full() const { return FFull; }
    int Width() const { return FImage.width(); }
    int Height() const { return FImage.height(); }
    int Rows() const { return FRows.load(std::memory_order_acquire); }
    // For the decoding thread: row y (0xAARRGGBB words) and how many are done.
    uint32_t* Row(int y) { return reinterpret_cast<uint32_t*>(FBits + FImage.bytesPerLine() * y); }
    void SetRows(int rows) { FRows.store(rows, std::memory_order_release); }
    // The rows done, without a copy.
    QImage Done() const;

private:
    QSize FFull;
    QImage FImage;
    uchar* FBits;
    std::atomic<int> FRows{0};
};
using TFirstLookPtr = std::shared_ptr<TFirstLook>;

// Whether pictures of graphic's class have a first look: a JPEG made after
// its load (which only reads the file), a JPEG 2000 picture before it (its
// load is the full decode).
bool FirstLookAfterLoad(const TGraphic& graphic);
bool FirstLookBeforeLoad(const TGraphic& graphic);

// A JPEG 2000 tile is decoded whole even at a reduced resolution: where one
// tile at an eighth would still hold more samples than this (a picture of
// one 120-megapixel colour tile: 5.6 million, 0.17 s of CPU), the first look
// is made further down first, as far as the tile's samples come within it
// (0.06 s), and then again at an eighth, handed over whole.
constexpr uint64_t kFirstLookQuickSamples = uint64_t(2) << 20;

// Decodes the first look of graphic, loaded from fileName (a JPEG) or about to
// be (a JPEG 2000 picture), calling shown with it once its first rows are
// there, whenever more have come (at most every kFirstLookFrame) and at its
// end; a JPEG 2000 picture of large tiles again with the sharper look (see
// kFirstLookQuickSamples, the limit of a tile's samples). Nothing when the
// picture has none or its reduced decode fails: the full decode then reports
// what is wrong. Warnings of the reduced decode are dropped, the full decode
// gives them.
void DecodeFirstLook(const TGraphic& graphic, const std::string& fileName,
                     const std::function<void(const TFirstLookPtr&)>& shown,
                     uint64_t quickSamples = kFirstLookQuickSamples);

// Paints the part exposed of look enlarged to the picture's size at scale
// (view pixels per picture pixel); white where its rows have not come.
void PaintFirstLook(QPainter& painter, const TFirstLook& look, double scale, const QRect& exposed);
