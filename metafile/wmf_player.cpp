// WMF records. Parameters are 16-bit words, most of them stored in the
// reverse order of the drawing call's arguments (y before x, bottom before top).
#include "imaging/strings/messages.h"
#include "metafile/gdi_context.h"
#include "metafile/metafile_players.h"
#include "metafile/record_data.h"
#include "platform/exceptions.h"

#include <QStringDecoder>

#include <string>

namespace {

enum : uint16_t {
    META_EOF = 0x0000, META_SAVEDC = 0x001E, META_REALIZEPALETTE = 0x0035, META_SETPALENTRIES = 0x0037,
    META_CREATEPALETTE = 0x00F7, META_SETBKMODE = 0x0102, META_SETMAPMODE = 0x0103, META_SETROP2 = 0x0104,
    META_SETPOLYFILLMODE = 0x0106, META_SETSTRETCHBLTMODE = 0x0107, META_RESTOREDC = 0x0127,
    META_INVERTREGION = 0x012A, META_PAINTREGION = 0x012B, META_SELECTCLIPREGION = 0x012C,
    META_SELECTOBJECT = 0x012D, META_SETTEXTALIGN = 0x012E, META_RESIZEPALETTE = 0x0139,
    META_DIBCREATEPATTERNBRUSH = 0x0142, META_DELETEOBJECT = 0x01F0, META_CREATEPATTERNBRUSH = 0x01F9,
    META_SETBKCOLOR = 0x0201, META_SETTEXTCOLOR = 0x0209, META_SETWINDOWORG = 0x020B,
    META_SETWINDOWEXT = 0x020C, META_SETVIEWPORTORG = 0x020D, META_SETVIEWPORTEXT = 0x020E,
    META_OFFSETWINDOWORG = 0x020F, META_OFFSETVIEWPORTORG = 0x0211, META_LINETO = 0x0213, META_MOVETO = 0x0214,
    META_OFFSETCLIPRGN = 0x0220, META_FILLREGION = 0x0228, META_SELECTPALETTE = 0x0234,
    META_CREATEPENINDIRECT = 0x02FA, META_CREATEFONTINDIRECT = 0x02FB, META_CREATEBRUSHINDIRECT = 0x02FC,
    META_POLYGON = 0x0324, META_POLYLINE = 0x0325, META_SCALEWINDOWEXT = 0x0410, META_SCALEVIEWPORTEXT = 0x0412,
    META_EXCLUDECLIPRECT = 0x0415, META_INTERSECTCLIPRECT = 0x0416, META_ELLIPSE = 0x0418,
    META_RECTANGLE = 0x041B, META_SETPIXEL = 0x041F, META_FRAMEREGION = 0x0429, META_TEXTOUT = 0x0521,
    META_POLYPOLYGON = 0x0538, META_ROUNDRECT = 0x061C, META_PATBLT = 0x061D, META_CREATEREGION = 0x06FF,
    META_ARC = 0x0817, META_PIE = 0x081A, META_CHORD = 0x0830, META_BITBLT = 0x0922, META_DIBBITBLT = 0x0940,
    META_EXTTEXTOUT = 0x0A32, META_STRETCHBLT = 0x0B23, META_DIBSTRETCHBLT = 0x0B41, META_SETDIBTODEV = 0x0D33,
    META_STRETCHDIB = 0x0F43,
    // Records that make an object without our drawing it still take a slot.
    META_CREATEBRUSH = 0x00F8, META_CREATEBITMAPINDIRECT = 0x02FD, META_CREATEBITMAP = 0x06FE,
};
constexpr uint32_t ETO_OPAQUE = 2;
// Rectangles kept of one region: merging rectangles costs more with each one.
constexpr int MaxRegionRects = 4096;
constexpr uint32_t ETO_CLIPPED = 4;

// The WMF object table: a new object takes the lowest free slot.
class TObjectTable {
public:
    void Add(TGdiObject object)
    {
        for (auto& slot : FSlots)
            if (slot.Kind == TGdiObject::okNone && !slot.Taken) {
                static_cast<TGdiObject&>(slot) = std::move(object);
                slot.Taken = true;
                return;
            }
        // The header's object count is often wrong; 16-bit indexes bound the table.
        if (FSlots.size() < 0x10000)
            FSlots.push_back({std::move(object), true});
    }
    const TGdiObject* Get(uint16_t index) const
    {
        return index < FSlots.size() && FSlots[index].Taken ? &FSlots[index] : nullptr;
    }
    TGdiObject* Get(uint16_t index) { return index < FSlots.size() && FSlots[index].Taken ? &FSlots[index] : nullptr; }
    void Delete(uint16_t index)
    {
        if (index < FSlots.size())
            FSlots[index] = {};
    }

private:
    struct TSlot : TGdiObject {
        bool Taken = false;
    };
    std::vector<TSlot> FSlots;
};

class TWmfPlayer {
public:
    explicit TWmfPlayer(TGdiContext& context) : FContext(context) {}
    void Play(const TRecordData& r, uint16_t function);

private:
    // Parameter word i (after the record's size and function).
    int16_t P(const TRecordData& r, uint64_t i) const { return r.I16(6 + 2 * i); }
    uint16_t PU(const TRecordData& r, uint64_t i) const { return r.U16(6 + 2 * i); }
    uint32_t PColor(const TRecordData& r, uint64_t i) const { return r.U32(6 + 2 * i); }
    QRectF PRect(const TRecordData& r, uint64_t i) const
    {
        // bottom, right, top, left
        return QRectF(QPointF(P(r, i + 3), P(r, i + 2)), QPointF(P(r, i + 1), P(r, i)));
    }
    std::vector<QPointF> Points(const TRecordData& r, uint64_t offset, uint64_t count) const
    {
        r.NeedItems(offset, count, 4);
        std::vector<QPointF> points;
        points.reserve(count);
        for (uint64_t i = 0; i < count; ++i)
            points.emplace_back(r.I16(offset + 4 * i), r.I16(offset + 4 * i + 2));
        return points;
    }
    QString Text(const uint8_t* bytes, uint64_t count) const
    {
        // Windows-1252, the ANSI code page of the fonts these files name.
        QStringDecoder decoder("windows-1252");
        if (!decoder.isValid())
            return QString::fromLatin1(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(count));
        return decoder.decode(QByteArrayView(bytes, static_cast<qsizetype>(count)));
    }
    TGdiObject Region(const TRecordData& r) const;
    void Blit(const TRecordData& r, uint16_t function);
    void SelectObject(uint16_t index);

    TGdiContext& FContext;
    TObjectTable FObjects;
};

TGdiObject TWmfPlayer::Region(const TRecordData& r) const
{
    // nextInChain, objectType, objectCount, regionSize, scanCount, maxScan,
    // bounding box, then scans of (count, top, bottom, pairs of left/right, count).
    TGdiObject object;
    object.Kind = TGdiObject::okRegion;
    const uint16_t scans = PU(r, 5);
    uint64_t at = 6 + 2 * 11;
    for (uint16_t s = 0; s < scans; ++s) {
        const uint16_t count = r.U16(at);
        const int16_t top = r.I16(at + 2);
        const int16_t bottom = r.I16(at + 4);
        r.NeedItems(at + 6, count / 2, 4);
        for (uint16_t k = 0; k + 1 < count && object.Region.rectCount() < MaxRegionRects; k += 2) {
            const int16_t left = r.I16(at + 6 + 2 * k);
            const int16_t right = r.I16(at + 8 + 2 * k);
            if (right > left && bottom > top)
                object.Region += QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
        }
        at += 6 + 2 * uint64_t(count) + 2;
    }
    return object;
}

void TWmfPlayer::SelectObject(uint16_t index)
{
    const TGdiObject* object = FObjects.Get(index);
    if (!object)
        return;
    switch (object->Kind) {
    case TGdiObject::okPen: FContext.SelectPen(object->Pen); break;
    case TGdiObject::okBrush: FContext.SelectBrush(object->Brush); break;
    case TGdiObject::okFont: FContext.SelectFont(object->Font); break;
    case TGdiObject::okRegion: FContext.SelectClipRegion(&object->Region, RGN_COPY, false); break;
    default: break;
    }
}

void TWmfPlayer::Blit(const TRecordData& r, uint16_t function)
{
    // With a bitmap the record holds it after the parameters; without one it
    // is a pattern blit and one reserved word stands where the bitmap was.
    const uint64_t words = r.Size() / 2;
    const bool withBitmap = words != static_cast<uint64_t>((function >> 8) + 3);
    const uint32_t rop = PColor(r, 0);
    QRectF dest;
    QRectF source;
    uint64_t dibOffset = 0;
    uint32_t usage = 0;
    switch (function) {
    case META_DIBBITBLT:
    case META_BITBLT: {
        const uint64_t k = withBitmap ? 2 : 3;
        const double w = P(r, k + 3);
        const double h = P(r, k + 2);
        source = QRectF(P(r, k + 1), P(r, k), w, h);
        dest = QRectF(P(r, k + 5), P(r, k + 4), w, h);
        dibOffset = 6 + 2 * (k + 6);
        break;
    }
    case META_DIBSTRETCHBLT:
    case META_STRETCHBLT: {
        const uint64_t k = withBitmap ? 2 : 3;
        source = QRectF(P(r, k + 3), P(r, k + 2), P(r, k + 1), P(r, k));
        dest = QRectF(P(r, k + 7), P(r, k + 6), P(r, k + 5), P(r, k + 4));
        dibOffset = 6 + 2 * (k + 8);
        break;
    }
    case META_STRETCHDIB:
        usage = PU(r, 2);
        source = QRectF(P(r, 6), P(r, 5), P(r, 4), P(r, 3));
        dest = QRectF(P(r, 10), P(r, 9), P(r, 8), P(r, 7));
        dibOffset = 6 + 2 * 11;
        break;
    default: return;
    }
    if (!withBitmap || function == META_BITBLT || function == META_STRETCHBLT) {
        // The old device-dependent bitmaps are not kept; their area gets the pattern.
        FContext.PatBlt(dest, withBitmap ? 0x00F00021 : rop);
        return;
    }
    r.Need(dibOffset, 0);
    bool bottomUp = true;
    const QImage image =
        DibImage(r, dibOffset, r.Size() - dibOffset, 0, 0, usage, FContext.Palette, &bottomUp);
    if (bottomUp)
        source.moveTop(image.height() - source.top() - source.height());
    FContext.StretchBlt(dest, image, source, rop);
}

void TWmfPlayer::Play(const TRecordData& r, uint16_t function)
{
    TGdiContext& c = FContext;
    switch (function) {
    case META_SAVEDC: c.SaveDC(); break;
    case META_RESTOREDC: c.RestoreDC(P(r, 0)); break;
    case META_SETBKMODE: c.SetBkMode(PU(r, 0)); break;
    case META_SETMAPMODE: c.SetMapMode(PU(r, 0)); break;
    case META_SETROP2: c.SetRop2(PU(r, 0)); break;
    case META_SETPOLYFILLMODE: c.SetPolyFillMode(PU(r, 0)); break;
    case META_SETSTRETCHBLTMODE: c.SetStretchMode(PU(r, 0)); break;
    case META_SETTEXTALIGN: c.SetTextAlign(PU(r, 0)); break;
    case META_SETBKCOLOR: c.SetBkColor(c.Color(PColor(r, 0))); break;
    case META_SETTEXTCOLOR: c.SetTextColor(c.Color(PColor(r, 0))); break;
    case META_SETWINDOWORG: c.SetWindowOrg(P(r, 1), P(r, 0)); break;
    case META_SETWINDOWEXT: c.SetWindowExt(P(r, 1), P(r, 0)); break;
    case META_SETVIEWPORTORG: c.SetViewportOrg(P(r, 1), P(r, 0)); break;
    case META_SETVIEWPORTEXT: c.SetViewportExt(P(r, 1), P(r, 0)); break;
    case META_OFFSETWINDOWORG: c.OffsetWindowOrg(P(r, 1), P(r, 0)); break;
    case META_OFFSETVIEWPORTORG: c.OffsetViewportOrg(P(r, 1), P(r, 0)); break;
    case META_SCALEWINDOWEXT: c.ScaleWindowExt(P(r, 3), P(r, 2), P(r, 1), P(r, 0)); break;
    case META_SCALEVIEWPORTEXT: c.ScaleViewportExt(P(r, 3), P(r, 2), P(r, 1), P(r, 0)); break;
    case META_MOVETO: c.MoveTo(QPointF(P(r, 1), P(r, 0))); break;
    case META_LINETO: c.LineTo(QPointF(P(r, 1), P(r, 0))); break;
    case META_EXCLUDECLIPRECT: c.ExcludeClipRect(PRect(r, 0)); break;
    case META_INTERSECTCLIPRECT: c.IntersectClipRect(PRect(r, 0)); break;
    case META_OFFSETCLIPRGN: c.OffsetClip(P(r, 1), P(r, 0)); break;
    case META_RECTANGLE: c.Rectangle(PRect(r, 0)); break;
    case META_ELLIPSE: c.Ellipse(PRect(r, 0)); break;
    case META_ROUNDRECT: c.RoundRect(PRect(r, 2), P(r, 1), P(r, 0)); break;
    case META_ARC:
    case META_PIE:
    case META_CHORD: {
        const auto kind = function == META_ARC ? TGdiContext::akArc
                          : function == META_PIE ? TGdiContext::akPie
                                                 : TGdiContext::akChord;
        c.Arc(kind, PRect(r, 4), QPointF(P(r, 3), P(r, 2)), QPointF(P(r, 1), P(r, 0)));
        break;
    }
    case META_SETPIXEL: c.SetPixel(QPointF(P(r, 3), P(r, 2)), c.Color(PColor(r, 0))); break;
    case META_POLYGON:
    case META_POLYLINE: {
        const uint16_t count = PU(r, 0);
        const auto points = Points(r, 8, count);
        if (function == META_POLYGON)
            c.Polygon(points);
        else
            c.Polyline(points);
        break;
    }
    case META_POLYPOLYGON: {
        const uint16_t polygons = PU(r, 0);
        r.NeedItems(8, polygons, 2);
        std::vector<uint32_t> counts(polygons);
        uint64_t total = 0;
        for (uint16_t i = 0; i < polygons; ++i) {
            counts[i] = PU(r, 1 + i);
            total += counts[i];
        }
        c.PolyPolygon(Points(r, 8 + 2 * uint64_t(polygons), total), counts);
        break;
    }
    case META_TEXTOUT: {
        const uint16_t length = PU(r, 0);
        const uint64_t padded = (uint64_t(length) + 1) & ~uint64_t(1);
        r.Need(8, padded + 4);
        const QString text = Text(r.Data() + 8, length);
        c.TextOut(QPointF(r.I16(8 + padded + 2), r.I16(8 + padded)), text, 0, nullptr, {});
        break;
    }
    case META_EXTTEXTOUT: {
        const QPointF at(P(r, 1), P(r, 0));
        const uint16_t length = PU(r, 2);
        const uint16_t options = PU(r, 3);
        uint64_t offset = 14;
        QRectF rect;
        const bool hasRect = (options & (ETO_OPAQUE | ETO_CLIPPED)) != 0;
        if (hasRect) {
            rect = QRectF(QPointF(r.I16(14), r.I16(16)), QPointF(r.I16(18), r.I16(20)));
            offset += 8;
        }
        const uint64_t padded = (uint64_t(length) + 1) & ~uint64_t(1);
        r.Need(offset, length);
        const QString text = Text(r.Data() + offset, length);
        std::vector<double> dx;
        // The advances are optional: present when the record has room for them.
        if (r.Has(offset + padded, 2 * uint64_t(length))) {
            dx.reserve(length);
            for (uint16_t i = 0; i < length; ++i)
                dx.push_back(r.I16(offset + padded + 2 * i));
        }
        c.TextOut(at, text, options, hasRect ? &rect : nullptr, text.size() == length ? dx : std::vector<double>{});
        break;
    }
    case META_PATBLT: c.PatBlt(QRectF(P(r, 5), P(r, 4), P(r, 3), P(r, 2)), PColor(r, 0)); break;
    case META_DIBBITBLT:
    case META_DIBSTRETCHBLT:
    case META_STRETCHDIB:
    case META_BITBLT:
    case META_STRETCHBLT: Blit(r, function); break;
    case META_SETDIBTODEV: {
        // colorUsage, scanCount, startScan, yDib, xDib, height, width, yDest, xDest, DIB
        bool bottomUp = true;
        const QImage image = DibImage(r, 24, r.Size() - std::min<uint64_t>(r.Size(), 24), 0, 0, PU(r, 0),
                                      c.Palette, &bottomUp);
        const double w = P(r, 6);
        const double h = P(r, 5);
        QRectF source(P(r, 4), P(r, 3), w, h);
        if (bottomUp)
            source.moveTop(image.height() - source.top() - h);
        c.StretchBlt(QRectF(P(r, 8), P(r, 7), w, h), image, source, 0x00CC0020);
        break;
    }
    case META_SELECTOBJECT: SelectObject(PU(r, 0)); break;
    case META_DELETEOBJECT: FObjects.Delete(PU(r, 0)); break;
    case META_CREATEPENINDIRECT: {
        TGdiObject object;
        object.Kind = TGdiObject::okPen;
        object.Pen.Style = PU(r, 0);
        object.Pen.Width = P(r, 1);
        object.Pen.Color = c.Color(PColor(r, 3));
        FObjects.Add(std::move(object));
        break;
    }
    case META_CREATEBRUSHINDIRECT: {
        TGdiObject object;
        object.Kind = TGdiObject::okBrush;
        object.Brush.Style = PU(r, 0);
        object.Brush.Color = c.Color(PColor(r, 1));
        object.Brush.Hatch = PU(r, 3);
        FObjects.Add(std::move(object));
        break;
    }
    case META_DIBCREATEPATTERNBRUSH: {
        TGdiObject object;
        object.Kind = TGdiObject::okBrush;
        object.Brush.Style = 5; // BS_DIBPATTERN
        object.Brush.Pattern = DibImage(r, 10, r.Size() - std::min<uint64_t>(r.Size(), 10), 0, 0, PU(r, 1),
                                        c.Palette);
        FObjects.Add(std::move(object));
        break;
    }
    case META_CREATEFONTINDIRECT: {
        TGdiObject object;
        object.Kind = TGdiObject::okFont;
        TGdiFont& font = object.Font;
        font.Height = P(r, 0);
        font.Width = P(r, 1);
        font.Escapement = P(r, 2);
        font.Weight = P(r, 4);
        font.Italic = r.U8(16) != 0;
        font.Underline = r.U8(17) != 0;
        font.StrikeOut = r.U8(18) != 0;
        // The face name runs to its terminating zero or the record's end, at most 32 bytes.
        std::string face;
        for (uint64_t i = 24; i < r.Size() && i < 24 + 32 && r.U8(i) != 0; ++i)
            face.push_back(static_cast<char>(r.U8(i)));
        font.Face = Text(reinterpret_cast<const uint8_t*>(face.data()), face.size());
        FObjects.Add(std::move(object));
        break;
    }
    case META_CREATEPALETTE: {
        // version, entry count, then RGB + flags entries
        TGdiObject object;
        object.Kind = TGdiObject::okPalette;
        const uint16_t count = PU(r, 1);
        r.NeedItems(10, count, 4);
        for (uint16_t i = 0; i < count; ++i)
            object.Palette.push_back(qRgb(r.U8(10 + 4 * i), r.U8(11 + 4 * i), r.U8(12 + 4 * i)));
        FObjects.Add(std::move(object));
        break;
    }
    case META_SELECTPALETTE:
        if (const TGdiObject* object = FObjects.Get(PU(r, 0)); object && object->Kind == TGdiObject::okPalette)
            c.SelectPalette(object->Palette);
        break;
    case META_CREATEREGION: FObjects.Add(Region(r)); break;
    case META_SELECTCLIPREGION: {
        const TGdiObject* object = FObjects.Get(PU(r, 0));
        if (object && object->Kind == TGdiObject::okRegion)
            c.SelectClipRegion(&object->Region, RGN_COPY, false);
        else
            c.SelectClipRegion(nullptr, RGN_COPY, false);
        break;
    }
    case META_FILLREGION:
    case META_FRAMEREGION: {
        const TGdiObject* region = FObjects.Get(PU(r, 0));
        const TGdiObject* brush = FObjects.Get(PU(r, 1));
        if (!region || region->Kind != TGdiObject::okRegion || !brush || brush->Kind != TGdiObject::okBrush)
            break;
        if (function == META_FILLREGION)
            c.FillRegion(region->Region, brush->Brush);
        else
            c.FrameRegion(region->Region, brush->Brush, P(r, 3), P(r, 2));
        break;
    }
    case META_INVERTREGION:
    case META_PAINTREGION: {
        const TGdiObject* region = FObjects.Get(PU(r, 0));
        if (!region || region->Kind != TGdiObject::okRegion)
            break;
        if (function == META_INVERTREGION)
            c.InvertRegion(region->Region);
        else
            c.FillRegion(region->Region, c.CurrentBrush());
        break;
    }
    case META_CREATEPATTERNBRUSH:
    case META_CREATEBRUSH:
    case META_CREATEBITMAPINDIRECT:
    case META_CREATEBITMAP: {
        TGdiObject placeholder;
        placeholder.Kind = TGdiObject::okBrush;
        placeholder.Brush.Color = Qt::black;
        FObjects.Add(std::move(placeholder));
        break;
    }
    default: break; // records without a drawing effect here, and unknown ones
    }
}

} // namespace

void PlayWmfRecords(const uint8_t* data, uint64_t size, uint64_t start, TGdiContext& context)
{
    TWmfPlayer player(context);
    uint64_t position = start;
    for (;;) {
        if (size - position < 6)
            throw EInvalidGraphic(Format(msg::MetafileUnexpectedEnd, "WMF"));
        const TRecordData head(data + position, 6, position, "WMF");
        const uint64_t bytes = uint64_t(head.U32(0)) * 2;
        if (bytes < 6 || bytes > size - position)
            head.Fail();
        const uint16_t function = head.U16(4);
        if (function == META_EOF)
            return;
        player.Play(TRecordData(data + position, bytes, position, "WMF"), function);
        position += bytes;
    }
}
