#pragma once
// The drawing state that both metafile players drive: the graphics objects,
// the mapping from logical units to the bitmap, and the drawing operations of
// the records, done with a QPainter on an image that views the target bitmap.
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QString>
#include <QTransform>

#include <cstdint>
#include <optional>
#include <vector>

enum : int {
    MM_TEXT = 1, MM_LOMETRIC, MM_HIMETRIC, MM_LOENGLISH, MM_HIENGLISH, MM_TWIPS, MM_ISOTROPIC, MM_ANISOTROPIC
};
enum : int { RGN_AND = 1, RGN_OR, RGN_XOR, RGN_DIFF, RGN_COPY };

struct TGdiPen {
    uint32_t Style = 0;   // PS_* with end cap, join and type bits
    double Width = 0;     // logical units; 0 draws one pixel wide
    QColor Color = Qt::black;
};

struct TGdiBrush {
    uint32_t Style = 0;   // BS_*
    QColor Color = Qt::white;
    uint32_t Hatch = 0;
    QImage Pattern;       // BS_PATTERN and BS_DIBPATTERN
};

struct TGdiFont {
    double Height = 0;    // logical units; < 0 is the character height, > 0 the cell height
    double Width = 0;
    int Escapement = 0;   // tenths of a degree, counter-clockwise
    int Weight = 400;
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;
    QString Face;
};

struct TGdiObject {
    enum TKind { okNone, okPen, okBrush, okFont, okPalette, okRegion } Kind = okNone;
    TGdiPen Pen;
    TGdiBrush Brush;
    TGdiFont Font;
    std::vector<QRgb> Palette;
    QRegion Region; // logical units
};

class TGdiContext {
public:
    // Paints onto image (which must stay alive), filled white first.
    // deviceToImage maps device units (see SetDeviceUnits) to the image.
    TGdiContext(QImage& image, bool antialiased);
    ~TGdiContext();
    TGdiContext(const TGdiContext&) = delete;
    TGdiContext& operator=(const TGdiContext&) = delete;

    // Device units per millimetre for the fixed mapping modes, and the map
    // from device units to the image.
    void SetDevice(double unitsPerMmX, double unitsPerMmY, const QTransform& deviceToImage);

    // ---- state --------------------------------------------------------
    void SetMapMode(int mode);
    void SetWindowOrg(double x, double y);
    void SetWindowExt(double x, double y);
    void SetViewportOrg(double x, double y);
    void SetViewportExt(double x, double y);
    void OffsetWindowOrg(double dx, double dy);
    void OffsetViewportOrg(double dx, double dy);
    void ScaleWindowExt(double xNum, double xDenom, double yNum, double yDenom);
    void ScaleViewportExt(double xNum, double xDenom, double yNum, double yDenom);
    // World transform (EMF): mode 1 identity, 2 left multiply, 3 right
    // multiply, 4 set. Singular or non-finite transforms are ignored.
    void ModifyWorldTransform(const QTransform& transform, int mode);

    void SetBkMode(int mode) { S.BkMode = mode; }
    void SetBkColor(QColor color) { S.BkColor = color; }
    void SetTextColor(QColor color) { S.TextColor = color; }
    void SetTextAlign(uint32_t align) { S.TextAlign = align; }
    void SetPolyFillMode(int mode) { S.PolyFillMode = mode; }
    void SetRop2(int rop) { S.Rop2 = rop; }
    void SetStretchMode(int mode) { S.StretchMode = mode; }
    void SetArcDirection(int direction) { S.ArcClockwise = direction == 2; }
    void SetMiterLimit(double limit) { S.MiterLimit = limit; }
    void MoveTo(QPointF p);
    QPointF Position() const { return S.Position; }

    void SaveDC();
    // relative < 0: that many levels back; > 0: that absolute level.
    void RestoreDC(int relative);

    // ---- objects --------------------------------------------------------
    void SelectPen(const TGdiPen& pen) { S.Pen = pen; }
    void SelectBrush(const TGdiBrush& brush) { S.Brush = brush; }
    void SelectFont(const TGdiFont& font) { S.Font = font; }
    const TGdiBrush& CurrentBrush() const { return S.Brush; }
    void SelectPalette(const std::vector<QRgb>& palette) { Palette = palette; }
    // Resolves a COLORREF, palette indexes included.
    QColor Color(uint32_t colorRef) const;
    std::vector<QRgb> Palette;

    // ---- clipping -------------------------------------------------------
    void IntersectClipRect(const QRectF& logical);
    void ExcludeClipRect(const QRectF& logical);
    void OffsetClip(double dx, double dy);
    // region in logical units (deviceUnits: in device units); mode RGN_*.
    void SelectClipRegion(const QRegion* region, int mode, bool deviceUnits);
    void SelectClipPath(int mode);

    // ---- paths (EMF) -----------------------------------------------------
    void BeginPath();
    void EndPath() { Recording = false; }
    void AbortPath();
    void CloseFigure();
    void FillPath();
    void StrokePath();
    void StrokeAndFillPath();
    bool Recording = false;

    // ---- drawing --------------------------------------------------------
    void LineTo(QPointF p);
    void Polyline(const std::vector<QPointF>& points);
    void PolylineTo(const std::vector<QPointF>& points);
    void PolyBezier(const std::vector<QPointF>& points);
    void PolyBezierTo(const std::vector<QPointF>& points);
    void Polygon(const std::vector<QPointF>& points);
    // counts: points per polygon, summing to points.size().
    void PolyPolygon(const std::vector<QPointF>& points, const std::vector<uint32_t>& counts);
    void PolyPolyline(const std::vector<QPointF>& points, const std::vector<uint32_t>& counts);
    void Rectangle(const QRectF& r);
    void RoundRect(const QRectF& r, double cornerWidth, double cornerHeight);
    void Ellipse(const QRectF& r);
    enum TArcKind { akArc, akArcTo, akPie, akChord };
    void Arc(TArcKind kind, const QRectF& r, QPointF start, QPointF end);
    void AngleArc(QPointF center, double radius, double startAngle, double sweepAngle);
    void SetPixel(QPointF p, QColor color);
    void FillRegion(const QRegion& logical, const TGdiBrush& brush);
    void FrameRegion(const QRegion& logical, const TGdiBrush& brush, double width, double height);
    void InvertRegion(const QRegion& logical);
    // A rectangle filled by the brush combined with the target by rop.
    void PatBlt(const QRectF& r, uint32_t rop);
    // The source part of image onto the destination rectangle (logical),
    // combined by rop. Negative destination sizes mirror.
    void StretchBlt(const QRectF& dest, const QImage& image, const QRectF& source, uint32_t rop);
    // options: ETO_*; rect used by ETO_OPAQUE and ETO_CLIPPED; dx: advances in
    // logical units (empty: the font's own).
    void TextOut(QPointF reference, const QString& text, uint32_t options, const QRectF* rect,
                 const std::vector<double>& dx);

private:
    struct TState {
        TGdiPen Pen;
        TGdiBrush Brush;
        TGdiFont Font;
        QColor TextColor = Qt::black;
        QColor BkColor = Qt::white;
        int BkMode = 2; // OPAQUE
        uint32_t TextAlign = 0;
        int PolyFillMode = 1; // ALTERNATE
        int Rop2 = 13;        // R2_COPYPEN
        int StretchMode = 1;
        bool ArcClockwise = false;
        double MiterLimit = 10;
        QPointF Position;
        int MapMode = MM_TEXT;
        QPointF WindowOrg;
        QPointF WindowExt{1, 1};
        QPointF ViewportOrg;
        QPointF ViewportExt{1, 1};
        QTransform World;
        std::optional<QRegion> Clip; // image pixels; none: unclipped
    };

    QTransform LogicalToImage() const;
    QTransform PageTransform() const;
    void Apply();
    bool PenVisible() const;
    // inImagePixels: the pen's width is in image pixels, for a path mapped to them.
    QPen MakePen(bool& inImagePixels) const;
    QBrush MakeBrush(const TGdiBrush& brush) const;
    // Fills and/or strokes a path in logical units under the current state.
    void DrawPath(const QPainterPath& path, bool fill, bool stroke);
    void AddToPath(const QPainterPath& figure, bool connect);
    QPainterPath ArcPath(TArcKind kind, const QRectF& r, QPointF start, QPointF end) const;
    QFont MakeFont(double& pixelHeight) const;
    void SetClip(std::optional<QRegion> clip);
    void CombineClip(const QRegion& imageRegion, int mode);

    QImage& FImage;
    QPainter FPainter;
    bool FAntialiased;
    double FUnitsPerMmX = 96 / 25.4;
    double FUnitsPerMmY = 96 / 25.4;
    QTransform FDeviceToImage;
    TState S;
    std::vector<TState> FSaved;
    QPainterPath FPath;
    bool FTextAvailable;
};
