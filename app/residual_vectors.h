#pragma once
// The residual vectors drawn over the picture while the points table shows:
// from each point measured by the fit monitor's fit, an arrow to where its
// map coordinates lie on the picture, drawn the same round number of times
// its length as the residual report draws them (the largest about a tenth
// of the picture), fitted and check points in their markers' colours, the
// largest named, and a scale bar in the view's lower left corner.
#include "app/image_view.h"

#include <QFont>
#include <QObject>
#include <QRect>
#include <QPointF>
#include <QPointer>
#include <QString>

#include <vector>

class QWidget;
class TFitMonitor;
class TPointList;

struct TResidualArrow {
    int Number = 0;
    QPointF From;        // the picked pixel (column, row), pixel centres at integers
    QPointF To;          // From plus Scale() times the residual in pixels
    bool Check = false;
    bool Largest = false;
    double Pixels = 0;   // the residual's length in pixels
};

class TResidualVectors : public QObject, public TCanvasItem {
    Q_OBJECT
public:
    TResidualVectors(TPointList& points, TFitMonitor& fit, TImageView& view, QObject* parent = nullptr);
    ~TResidualVectors() override;

    // Shown while panel is (the points table), from now on.
    void FollowPanel(QWidget* panel);
    void SetShown(bool shown);
    bool Shown() const { return FShown; }

    // The arrows of the last fit, in image pixels, and the factor they are
    // drawn at; none when no point has a residual.
    const std::vector<TResidualArrow>& Arrows() const { return FArrows; }
    double Scale() const { return FScale; }
    // The scale bar: its length in pixels of residual, and its caption.
    double BarPixels(double viewScale) const;
    QString Caption(double viewScale) const;

    void Paint(QPainter& painter, const TImageView& view) const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Measure();
    QFont LegendFont() const;
    QRect LegendBox(const TImageView& view) const;
    void MoveLegend();

    TPointList& FPoints;
    TFitMonitor& FFit;
    TImageView& FView;
    QPointer<TImageView> FViewAlive;
    QWidget* FPanel = nullptr;
    bool FShown = false;
    std::vector<TResidualArrow> FArrows;
    double FScale = 1;
    mutable QRect FLegend; // where the legend was painted last
};
