#pragma once
// What the status bar shows while a picture loads or decodes: the progress
// bar with the stage's text, the window repainted now and then meanwhile,
// and, for a picture whose file ended early, the row it ends at (with a
// notice, once per picture).
#include "platform/graphic.h"

#include <QElapsedTimer>
#include <QObject>

#include <functional>
#include <string>

class TImageView;
class TStatusBar;

class TLoadProgress : public QObject {
    Q_OBJECT
public:
    using TStatus = std::function<void(const QString& text, const QString& tip)>;
    TLoadProgress(TImageView& view, TStatusBar& bar, TStatus status);
    ~TLoadProgress() override;

    // A picture was put in place by Open.
    void Opened();
    void SetBusy(bool busy);

private:
    void Progress(TProgressStage stage, int percent, const std::string& text);
    void ReportEarlyEnd();

    TImageView& FView;
    TStatusBar& FBar;
    TStatus FStatus;
    QElapsedTimer FLastPump;
    QElapsedTimer FLastBarValue;
    const TGraphic* FEarlyEndReported = nullptr;
};
