#pragma once
// The fit of the workbench's points as they change: it listens to the point
// list and to the chosen transformation, fits every complete point once
// points 1 and 2 are complete (a point still being placed or typed is left
// out until it is), and tells what it found: each point's residual at once,
// the errors left out and the warnings once the background has measured
// them, the summary for the top bar, and the model that maps the cursor.
#include "georef/fit_methods.h"
#include "georef/fit_model.h"
#include "georef/fit_quality.h"
#include "georef/save_request.h"
#include "app/latest_job.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class TPointList;

struct TPointFigures {
    std::optional<TPointResidual> Residual; // once a fit measures the point
    std::optional<double> LeftOut;          // pixels off the fit made without it
};

class TFitMonitor : public QObject {
    Q_OBJECT
public:
    TFitMonitor(TPointList& points, QObject* parent = nullptr);

    // The settings of the fit: a name of the fit table, the sign toggle,
    // the warped copy (only for a fit no world file holds).
    QString Transform() const { return FTransform; }
    void SetTransform(const QString& name);
    void SetNegate(bool negate);
    void SetWarp(bool warp) { FWarp = warp; }
    bool WarpPossible() const;
    TGeorefOptions Options() const;
    // The picture's size, for the warnings about points far apart.
    std::function<TImageSize()> ImageSize;

    // What the last fit found; figures per row of the list.
    const std::vector<TPointFigures>& Figures() const { return FFigures; }
    QString Summary() const { return FSummary; }
    QString Details() const { return FDetails; }
    bool Warning() const { return FWarning; }
    TFitModelPtr Model() const { return FModel; }
    int MapDecimals() const { return FMapDecimals; }
    // The errors left out and the warnings are still being measured.
    bool Assessing() const { return FShownGeneration != FGeneration; }

    void Update();

signals:
    void settingsChanged();
    void updated();

private:
    void Show(const QString& summary, const QString& details, bool warning);
    void Fit(std::vector<TPointFigures>& figures);
    void AssessInBackground(const TSaveRequest& request, const std::vector<size_t>& rowOf);

    TPointList& FPoints;
    QString FTransform;
    bool FNegate = false;
    bool FWarp = false;
    std::vector<TPointFigures> FFigures;
    QString FSummary, FDetails;
    bool FWarning = false;
    TFitModelPtr FModel;
    int FMapDecimals = 3;
    bool FAssessing = false;
    // Each change of the points counts one up; an assessment made for an
    // earlier count is dropped. Leaving each point out of the fit in turn
    // takes long for many points, so it runs in the background.
    int FGeneration = 0;
    int FShownGeneration = 0;
    TLatestJob FAssessment;
};
