// EMF records: a 32-bit type and size, then the record's fields. Comment
// records, and so the EMF+ records they carry, are passed over: the EMF
// records beside them draw the same picture.
#include "imaging/byte_reader.h"
#include "imaging/strings/messages.h"
#include "metafile/gdi_context.h"
#include "metafile/metafile_players.h"
#include "metafile/record_data.h"
#include "platform/exceptions.h"

#include <QStringDecoder>

#include <algorithm>
#include <cmath>

namespace {

enum : uint32_t {
    EMR_POLYBEZIER = 2, EMR_POLYGON, EMR_POLYLINE, EMR_POLYBEZIERTO, EMR_POLYLINETO, EMR_POLYPOLYLINE,
    EMR_POLYPOLYGON, EMR_SETWINDOWEXTEX, EMR_SETWINDOWORGEX, EMR_SETVIEWPORTEXTEX, EMR_SETVIEWPORTORGEX,
    EMR_EOF = 14, EMR_SETPIXELV, EMR_SETMAPMODE = 17, EMR_SETBKMODE, EMR_SETPOLYFILLMODE, EMR_SETROP2,
    EMR_SETSTRETCHBLTMODE, EMR_SETTEXTALIGN, EMR_SETTEXTCOLOR = 24, EMR_SETBKCOLOR, EMR_OFFSETCLIPRGN,
    EMR_MOVETOEX, EMR_EXCLUDECLIPRECT = 29, EMR_INTERSECTCLIPRECT, EMR_SCALEVIEWPORTEXTEX, EMR_SCALEWINDOWEXTEX,
    EMR_SAVEDC, EMR_RESTOREDC, EMR_SETWORLDTRANSFORM, EMR_MODIFYWORLDTRANSFORM, EMR_SELECTOBJECT, EMR_CREATEPEN,
    EMR_CREATEBRUSHINDIRECT, EMR_DELETEOBJECT, EMR_ANGLEARC, EMR_ELLIPSE, EMR_RECTANGLE, EMR_ROUNDRECT, EMR_ARC,
    EMR_CHORD, EMR_PIE, EMR_SELECTPALETTE, EMR_CREATEPALETTE, EMR_LINETO = 54, EMR_ARCTO, EMR_SETARCDIRECTION = 57,
    EMR_SETMITERLIMIT, EMR_BEGINPATH, EMR_ENDPATH, EMR_CLOSEFIGURE, EMR_FILLPATH, EMR_STROKEANDFILLPATH,
    EMR_STROKEPATH, EMR_SELECTCLIPPATH = 67, EMR_ABORTPATH, EMR_FILLRGN = 71, EMR_FRAMERGN, EMR_INVERTRGN,
    EMR_PAINTRGN, EMR_EXTSELECTCLIPRGN, EMR_BITBLT, EMR_STRETCHBLT, EMR_SETDIBITSTODEVICE = 80, EMR_STRETCHDIBITS,
    EMR_EXTCREATEFONTINDIRECTW, EMR_EXTTEXTOUTA, EMR_EXTTEXTOUTW, EMR_POLYBEZIER16, EMR_POLYGON16,
    EMR_POLYLINE16, EMR_POLYBEZIERTO16, EMR_POLYLINETO16, EMR_POLYPOLYLINE16, EMR_POLYPOLYGON16,
    EMR_CREATEMONOBRUSH = 93, EMR_CREATEDIBPATTERNBRUSHPT, EMR_EXTCREATEPEN,
};
constexpr uint32_t StockObject = 0x80000000u;
constexpr uint32_t ETO_GLYPH_INDEX = 0x10;
constexpr uint32_t ETO_PDY = 0x2000;
constexpr uint32_t SRCCOPY = 0x00CC0020;
// Rectangles kept of one region: merging rectangles costs more with each one.
constexpr uint32_t MaxRegionRects = 4096;

class TEmfPlayer {
public:
    explicit TEmfPlayer(TGdiContext& context) : FContext(context) {}
    void Play(const TRecordData& r, uint32_t type);

private:
    QPointF Point32(const TRecordData& r, uint64_t at) const { return QPointF(r.I32(at), r.I32(at + 4)); }
    QRectF Rect(const TRecordData& r, uint64_t at) const
    {
        return QRectF(QPointF(r.I32(at), r.I32(at + 4)), QPointF(r.I32(at + 8), r.I32(at + 12)));
    }
    std::vector<QPointF> Points(const TRecordData& r, uint64_t at, uint64_t count, bool small) const
    {
        r.NeedItems(at, count, small ? 4 : 8);
        std::vector<QPointF> points;
        points.reserve(count);
        for (uint64_t i = 0; i < count; ++i)
            points.push_back(small ? QPointF(r.I16(at + 4 * i), r.I16(at + 4 * i + 2)) : Point32(r, at + 8 * i));
        return points;
    }
    QTransform Transform(const TRecordData& r, uint64_t at) const
    {
        return QTransform(r.F32(at), r.F32(at + 4), r.F32(at + 8), r.F32(at + 12), r.F32(at + 16), r.F32(at + 20));
    }
    // Region data: a 32-byte header with the rectangle count, then the rectangles.
    QRegion Region(const TRecordData& r, uint64_t at, uint64_t size) const;
    TGdiObject* Object(uint32_t index);
    void Store(uint32_t index, TGdiObject object);
    void SelectObject(uint32_t index);
    void Poly(const TRecordData& r, uint32_t type);
    void PolyPoly(const TRecordData& r, uint32_t type);
    void Text(const TRecordData& r, bool wide);
    void Bitmap(const TRecordData& r, uint32_t type);

    TGdiContext& FContext;
    std::vector<TGdiObject> FObjects;
};

TGdiObject* TEmfPlayer::Object(uint32_t index)
{
    return index < FObjects.size() && FObjects[index].Kind != TGdiObject::okNone ? &FObjects[index] : nullptr;
}

void TEmfPlayer::Store(uint32_t index, TGdiObject object)
{
    // Index 0 is the metafile itself; 16-bit handle counts bound the table.
    if (index == 0 || index >= 0x10000)
        return;
    if (index >= FObjects.size())
        FObjects.resize(index + 1);
    FObjects[index] = std::move(object);
}

void TEmfPlayer::SelectObject(uint32_t index)
{
    TGdiContext& c = FContext;
    if (index & StockObject) {
        TGdiBrush brush;
        TGdiPen pen;
        switch (index & ~StockObject) {
        case 0: case 18: c.SelectBrush(brush); break; // white, DC brush
        case 1: brush.Color = QColor(192, 192, 192); c.SelectBrush(brush); break;
        case 2: brush.Color = QColor(128, 128, 128); c.SelectBrush(brush); break;
        case 3: brush.Color = QColor(64, 64, 64); c.SelectBrush(brush); break;
        case 4: brush.Color = Qt::black; c.SelectBrush(brush); break;
        case 5: brush.Style = 1; c.SelectBrush(brush); break;
        case 6: pen.Color = Qt::white; c.SelectPen(pen); break;
        case 7: case 19: c.SelectPen(pen); break; // black, DC pen
        case 8: pen.Style = 5; c.SelectPen(pen); break;
        case 10: case 11: case 12: case 13: case 14: case 16: case 17: c.SelectFont(TGdiFont()); break;
        case 15: c.SelectPalette({}); break;
        default: break;
        }
        return;
    }
    const TGdiObject* object = Object(index);
    if (!object)
        return;
    switch (object->Kind) {
    case TGdiObject::okPen: c.SelectPen(object->Pen); break;
    case TGdiObject::okBrush: c.SelectBrush(object->Brush); break;
    case TGdiObject::okFont: c.SelectFont(object->Font); break;
    default: break;
    }
}

QRegion TEmfPlayer::Region(const TRecordData& r, uint64_t at, uint64_t size) const
{
    r.Need(at, size);
    if (size < 32)
        r.Fail();
    const uint32_t count = r.U32(at + 8);
    r.NeedItems(at + 32, count, 16);
    QRegion region;
    for (uint32_t i = 0; i < count && i < MaxRegionRects; ++i) {
        // Kept to a billion units each way, so that no width overflows an int.
        const auto clamped = [&](uint64_t field) {
            return static_cast<int>(std::clamp<int64_t>(r.I32(at + 32 + 16 * uint64_t(i) + field), -1000000000,
                                                        1000000000));
        };
        const int left = clamped(0), top = clamped(4), right = clamped(8), bottom = clamped(12);
        if (right > left && bottom > top)
            region += QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
    }
    return region;
}

void TEmfPlayer::Poly(const TRecordData& r, uint32_t type)
{
    const bool small = type >= EMR_POLYBEZIER16;
    const uint32_t base = small ? type - EMR_POLYBEZIER16 + EMR_POLYBEZIER : type;
    const auto points = Points(r, 28, r.U32(24), small);
    TGdiContext& c = FContext;
    switch (base) {
    case EMR_POLYBEZIER: c.PolyBezier(points); break;
    case EMR_POLYGON: c.Polygon(points); break;
    case EMR_POLYLINE: c.Polyline(points); break;
    case EMR_POLYBEZIERTO: c.PolyBezierTo(points); break;
    case EMR_POLYLINETO: c.PolylineTo(points); break;
    default: break;
    }
}

void TEmfPlayer::PolyPoly(const TRecordData& r, uint32_t type)
{
    const bool small = type >= EMR_POLYPOLYLINE16;
    const uint32_t polygons = r.U32(24);
    const uint32_t total = r.U32(28);
    r.NeedItems(32, polygons, 4);
    std::vector<uint32_t> counts(polygons);
    uint64_t sum = 0;
    for (uint32_t i = 0; i < polygons; ++i) {
        counts[i] = r.U32(32 + 4 * uint64_t(i));
        sum += counts[i];
    }
    if (sum != total)
        r.Fail();
    const auto points = Points(r, 32 + 4 * uint64_t(polygons), total, small);
    if (type == EMR_POLYPOLYGON || type == EMR_POLYPOLYGON16)
        FContext.PolyPolygon(points, counts);
    else
        FContext.PolyPolyline(points, counts);
}

void TEmfPlayer::Text(const TRecordData& r, bool wide)
{
    const QPointF reference = Point32(r, 36);
    const uint32_t count = r.U32(44);
    const uint32_t stringOffset = r.U32(48);
    const uint32_t options = r.U32(52);
    const QRectF rect = Rect(r, 56);
    const uint32_t dxOffset = r.U32(72);
    QString text;
    if (count > 0) {
        r.NeedItems(stringOffset, count, wide ? 2 : 1);
        const uint8_t* bytes = r.Data() + stringOffset;
        if (wide) {
            text.resize(count);
            for (uint32_t i = 0; i < count; ++i)
                text[i] = QChar(static_cast<char16_t>(LoadU16LE(bytes + 2 * uint64_t(i))));
        } else {
            QStringDecoder decoder("windows-1252");
            text = decoder.isValid() ? decoder.decode(QByteArrayView(bytes, count))
                                     : QString::fromLatin1(reinterpret_cast<const char*>(bytes), count);
        }
    }
    // Glyph indexes name no characters our fonts could be asked for.
    if (options & ETO_GLYPH_INDEX)
        text.clear();
    std::vector<double> dx;
    const uint64_t step = (options & ETO_PDY) ? 8 : 4;
    if (dxOffset != 0 && count > 0 && r.Has(dxOffset, step * count)) {
        dx.reserve(count);
        for (uint32_t i = 0; i < count; ++i)
            dx.push_back(r.I32(dxOffset + step * i));
    }
    if (static_cast<size_t>(text.size()) != dx.size())
        dx.clear();
    FContext.TextOut(reference, text, options, &rect, dx);
}

void TEmfPlayer::Bitmap(const TRecordData& r, uint32_t type)
{
    QRectF dest;
    QRectF source;
    uint32_t rop = SRCCOPY;
    uint32_t usage = 0;
    uint32_t infoOffset = 0, infoSize = 0, bitsOffset = 0, bitsSize = 0;
    switch (type) {
    case EMR_BITBLT:
    case EMR_STRETCHBLT: {
        dest = QRectF(r.I32(24), r.I32(28), r.I32(32), r.I32(36));
        rop = r.U32(40);
        usage = r.U32(80);
        infoOffset = r.U32(84);
        infoSize = r.U32(88);
        bitsOffset = r.U32(92);
        bitsSize = r.U32(96);
        const bool stretch = type == EMR_STRETCHBLT;
        source = QRectF(r.I32(44), r.I32(48), stretch ? r.I32(100) : dest.width(),
                        stretch ? r.I32(104) : dest.height());
        break;
    }
    case EMR_STRETCHDIBITS:
    case EMR_SETDIBITSTODEVICE:
        source = QRectF(r.I32(32), r.I32(36), r.I32(40), r.I32(44));
        infoOffset = r.U32(48);
        infoSize = r.U32(52);
        bitsOffset = r.U32(56);
        bitsSize = r.U32(60);
        usage = r.U32(64);
        if (type == EMR_STRETCHDIBITS) {
            rop = r.U32(68);
            dest = QRectF(r.I32(24), r.I32(28), r.I32(72), r.I32(76));
        } else {
            dest = QRectF(r.I32(24), r.I32(28), source.width(), source.height());
        }
        break;
    default: return;
    }
    if (infoSize == 0 || bitsOffset == 0) {
        FContext.PatBlt(dest, rop);
        return;
    }
    bool bottomUp = true;
    const QImage image = DibImage(r, infoOffset, infoSize, bitsOffset, bitsSize, usage, FContext.Palette, &bottomUp);
    // Source rows count from the bottom of a bottom-up bitmap.
    if (bottomUp && type != EMR_BITBLT && type != EMR_STRETCHBLT)
        source.moveTop(image.height() - source.top() - source.height());
    FContext.StretchBlt(dest, image, source, rop);
}

void TEmfPlayer::Play(const TRecordData& r, uint32_t type)
{
    TGdiContext& c = FContext;
    switch (type) {
    case EMR_POLYBEZIER: case EMR_POLYGON: case EMR_POLYLINE: case EMR_POLYBEZIERTO: case EMR_POLYLINETO:
    case EMR_POLYBEZIER16: case EMR_POLYGON16: case EMR_POLYLINE16: case EMR_POLYBEZIERTO16: case EMR_POLYLINETO16:
        Poly(r, type);
        break;
    case EMR_POLYPOLYLINE: case EMR_POLYPOLYGON: case EMR_POLYPOLYLINE16: case EMR_POLYPOLYGON16:
        PolyPoly(r, type);
        break;
    case EMR_SETWINDOWEXTEX: c.SetWindowExt(r.I32(8), r.I32(12)); break;
    case EMR_SETWINDOWORGEX: c.SetWindowOrg(r.I32(8), r.I32(12)); break;
    case EMR_SETVIEWPORTEXTEX: c.SetViewportExt(r.I32(8), r.I32(12)); break;
    case EMR_SETVIEWPORTORGEX: c.SetViewportOrg(r.I32(8), r.I32(12)); break;
    case EMR_SCALEVIEWPORTEXTEX: c.ScaleViewportExt(r.I32(8), r.I32(12), r.I32(16), r.I32(20)); break;
    case EMR_SCALEWINDOWEXTEX: c.ScaleWindowExt(r.I32(8), r.I32(12), r.I32(16), r.I32(20)); break;
    case EMR_SETPIXELV: c.SetPixel(Point32(r, 8), c.Color(r.U32(16))); break;
    case EMR_SETMAPMODE: c.SetMapMode(static_cast<int>(r.U32(8))); break;
    case EMR_SETBKMODE: c.SetBkMode(static_cast<int>(r.U32(8))); break;
    case EMR_SETPOLYFILLMODE: c.SetPolyFillMode(static_cast<int>(r.U32(8))); break;
    case EMR_SETROP2: c.SetRop2(static_cast<int>(r.U32(8))); break;
    case EMR_SETSTRETCHBLTMODE: c.SetStretchMode(static_cast<int>(r.U32(8))); break;
    case EMR_SETTEXTALIGN: c.SetTextAlign(r.U32(8)); break;
    case EMR_SETTEXTCOLOR: c.SetTextColor(c.Color(r.U32(8))); break;
    case EMR_SETBKCOLOR: c.SetBkColor(c.Color(r.U32(8))); break;
    case EMR_OFFSETCLIPRGN: c.OffsetClip(r.I32(8), r.I32(12)); break;
    case EMR_MOVETOEX: c.MoveTo(Point32(r, 8)); break;
    case EMR_LINETO: c.LineTo(Point32(r, 8)); break;
    case EMR_EXCLUDECLIPRECT: c.ExcludeClipRect(Rect(r, 8)); break;
    case EMR_INTERSECTCLIPRECT: c.IntersectClipRect(Rect(r, 8)); break;
    case EMR_SAVEDC: c.SaveDC(); break;
    case EMR_RESTOREDC: c.RestoreDC(r.I32(8)); break;
    case EMR_SETWORLDTRANSFORM: c.ModifyWorldTransform(Transform(r, 8), 4); break;
    case EMR_MODIFYWORLDTRANSFORM: c.ModifyWorldTransform(Transform(r, 8), static_cast<int>(r.U32(32))); break;
    case EMR_SELECTOBJECT: SelectObject(r.U32(8)); break;
    case EMR_DELETEOBJECT:
        if (TGdiObject* object = Object(r.U32(8)))
            *object = TGdiObject();
        break;
    case EMR_CREATEPEN: {
        TGdiObject object;
        object.Kind = TGdiObject::okPen;
        object.Pen.Style = r.U32(12);
        object.Pen.Width = r.I32(16);
        object.Pen.Color = c.Color(r.U32(24));
        Store(r.U32(8), std::move(object));
        break;
    }
    case EMR_EXTCREATEPEN: {
        TGdiObject object;
        object.Kind = TGdiObject::okPen;
        object.Pen.Style = r.U32(28);
        object.Pen.Width = r.U32(32);
        object.Pen.Color = c.Color(r.U32(40));
        if (r.U32(36) == 1) // BS_NULL brush: nothing to draw with
            object.Pen.Style = (object.Pen.Style & ~0x0Fu) | 5u;
        Store(r.U32(8), std::move(object));
        break;
    }
    case EMR_CREATEBRUSHINDIRECT: {
        TGdiObject object;
        object.Kind = TGdiObject::okBrush;
        object.Brush.Style = r.U32(12);
        object.Brush.Color = c.Color(r.U32(16));
        object.Brush.Hatch = r.U32(20);
        Store(r.U32(8), std::move(object));
        break;
    }
    case EMR_CREATEMONOBRUSH:
    case EMR_CREATEDIBPATTERNBRUSHPT: {
        TGdiObject object;
        object.Kind = TGdiObject::okBrush;
        object.Brush.Style = 5; // BS_DIBPATTERN
        object.Brush.Pattern = DibImage(r, r.U32(16), r.U32(20), r.U32(24), r.U32(28), r.U32(12), c.Palette);
        Store(r.U32(8), std::move(object));
        break;
    }
    case EMR_EXTCREATEFONTINDIRECTW: {
        TGdiObject object;
        object.Kind = TGdiObject::okFont;
        TGdiFont& font = object.Font;
        font.Height = r.I32(12);
        font.Width = r.I32(16);
        font.Escapement = r.I32(20);
        font.Weight = r.I32(28);
        font.Italic = r.U8(32) != 0;
        font.Underline = r.U8(33) != 0;
        font.StrikeOut = r.U8(34) != 0;
        for (uint64_t i = 0; i < 32 && r.Has(40 + 2 * i, 2) && r.U16(40 + 2 * i) != 0; ++i)
            font.Face.append(QChar(static_cast<char16_t>(r.U16(40 + 2 * i))));
        Store(r.U32(8), std::move(object));
        break;
    }
    case EMR_CREATEPALETTE: {
        TGdiObject object;
        object.Kind = TGdiObject::okPalette;
        const uint16_t count = r.U16(14);
        r.NeedItems(16, count, 4);
        for (uint16_t i = 0; i < count; ++i)
            object.Palette.push_back(qRgb(r.U8(16 + 4 * i), r.U8(17 + 4 * i), r.U8(18 + 4 * i)));
        Store(r.U32(8), std::move(object));
        break;
    }
    case EMR_SELECTPALETTE:
        if (const TGdiObject* object = Object(r.U32(8)); object && object->Kind == TGdiObject::okPalette)
            c.SelectPalette(object->Palette);
        break;
    case EMR_ANGLEARC: c.AngleArc(Point32(r, 8), r.U32(16), r.F32(20), r.F32(24)); break;
    case EMR_ELLIPSE: c.Ellipse(Rect(r, 8)); break;
    case EMR_RECTANGLE: c.Rectangle(Rect(r, 8)); break;
    case EMR_ROUNDRECT: c.RoundRect(Rect(r, 8), r.I32(24), r.I32(28)); break;
    case EMR_ARC: case EMR_CHORD: case EMR_PIE: case EMR_ARCTO: {
        const auto kind = type == EMR_ARC     ? TGdiContext::akArc
                          : type == EMR_CHORD ? TGdiContext::akChord
                          : type == EMR_PIE   ? TGdiContext::akPie
                                              : TGdiContext::akArcTo;
        c.Arc(kind, Rect(r, 8), Point32(r, 24), Point32(r, 32));
        break;
    }
    case EMR_SETARCDIRECTION: c.SetArcDirection(static_cast<int>(r.U32(8))); break;
    case EMR_SETMITERLIMIT: c.SetMiterLimit(std::min<uint32_t>(r.U32(8), 1000)); break;
    case EMR_BEGINPATH: c.BeginPath(); break;
    case EMR_ENDPATH: c.EndPath(); break;
    case EMR_CLOSEFIGURE: c.CloseFigure(); break;
    case EMR_ABORTPATH: c.AbortPath(); break;
    case EMR_FILLPATH: c.FillPath(); break;
    case EMR_STROKEPATH: c.StrokePath(); break;
    case EMR_STROKEANDFILLPATH: c.StrokeAndFillPath(); break;
    case EMR_SELECTCLIPPATH: c.SelectClipPath(static_cast<int>(r.U32(8))); break;
    case EMR_FILLRGN:
    case EMR_FRAMERGN: {
        const TGdiObject* brush = Object(r.U32(28));
        const QRegion region = Region(r, type == EMR_FILLRGN ? 32 : 40, r.U32(24));
        if (!brush || brush->Kind != TGdiObject::okBrush)
            break;
        if (type == EMR_FILLRGN)
            c.FillRegion(region, brush->Brush);
        else
            c.FrameRegion(region, brush->Brush, r.I32(32), r.I32(36));
        break;
    }
    case EMR_INVERTRGN: c.InvertRegion(Region(r, 28, r.U32(24))); break;
    case EMR_PAINTRGN: c.FillRegion(Region(r, 28, r.U32(24)), c.CurrentBrush()); break;
    case EMR_EXTSELECTCLIPRGN: {
        const uint32_t size = r.U32(8);
        const int mode = static_cast<int>(r.U32(12));
        if (size == 0) {
            c.SelectClipRegion(nullptr, mode, true);
        } else {
            const QRegion region = Region(r, 16, size);
            c.SelectClipRegion(&region, mode, true);
        }
        break;
    }
    case EMR_BITBLT: case EMR_STRETCHBLT: case EMR_STRETCHDIBITS: case EMR_SETDIBITSTODEVICE:
        Bitmap(r, type);
        break;
    case EMR_EXTTEXTOUTA: Text(r, false); break;
    case EMR_EXTTEXTOUTW: Text(r, true); break;
    default: break; // comments (and the EMF+ records in them), and records without a drawing effect here
    }
}

} // namespace

void PlayEmfRecords(const uint8_t* data, uint64_t size, uint64_t headerSize, TGdiContext& context)
{
    TEmfPlayer player(context);
    uint64_t position = headerSize;
    for (;;) {
        if (size - position < 8)
            throw EInvalidGraphic(Format(msg::MetafileUnexpectedEnd, "EMF"));
        const TRecordData head(data + position, 8, position, "EMF");
        const uint32_t type = head.U32(0);
        const uint64_t bytes = head.U32(4);
        if (bytes < 8 || bytes % 4 != 0 || bytes > size - position)
            head.Fail();
        if (type == EMR_EOF)
            return;
        player.Play(TRecordData(data + position, bytes, position, "EMF"), type);
        position += bytes;
    }
}
