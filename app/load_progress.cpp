#include "app/load_progress.h"

#include "app/controls.h"
#include "app/image_view.h"
#include "app/message_service.h"
#include "imaging/loaded_picture.h"

#include <QCoreApplication>
#include <QProgressBar>

namespace {

// Progress handlers let the window repaint at most this often.
constexpr int kPumpIntervalMs = 100;
// The progress bar takes a new value at most this often while a stage runs
// (the first value after a stage starts always): each new value repaints
// it at once, which costs about half a millisecond every time.
constexpr int kBarIntervalMs = 50;

} // namespace

TLoadProgress::TLoadProgress(TImageView& view, TStatusBar& bar, TStatus status)
    : FView(view), FBar(bar), FStatus(std::move(status))
{
    connect(&FView, &TImageView::decodeBusy, this, [this](bool busy) {
        SetBusy(busy);
        if (!busy)
            ReportEarlyEnd();
    });
    FView.Picture().OnProgress = [this](TGraphic*, TProgressStage stage, uint8_t percent, bool, const TRect&,
                                        const std::string& text) { Progress(stage, percent, text); };
}

TLoadProgress::~TLoadProgress()
{
    FView.Picture().OnProgress = nullptr;
}

void TLoadProgress::Opened()
{
    FEarlyEndReported = nullptr;
    ReportEarlyEnd();
}

void TLoadProgress::ReportEarlyEnd()
{
    // A JPEG knows only once it is decoded (at its first paint), so this also
    // runs when a decode ends; each picture is reported once.
    TGraphic* graphic = FView.Picture().Graphic();
    if (!graphic || !graphic->EndedEarly() || graphic == FEarlyEndReported)
        return;
    FEarlyEndReported = graphic;
    const QString notice = QString::fromStdString(EarlyEndNotice(*graphic));
    FStatus(QStringLiteral("Ends early at row %1").arg(graphic->EarlyEndRow()), notice);
    MessageService().ShowNotice(notice);
}

void TLoadProgress::Progress(TProgressStage stage, int percent, const std::string& text)
{
    QProgressBar* bar = FBar.ProgressBar();
    if (stage == psEnding) {
        SetBusy(false);
        return;
    }
    if (stage != psRunning || !FLastBarValue.isValid() || FLastBarValue.elapsed() >= kBarIntervalMs) {
        bar->setValue(qBound(0, percent, 100));
        if (stage == psRunning)
            FLastBarValue.restart();
        else
            FLastBarValue.invalidate();
    }
    bar->setFormat(text.empty() ? QStringLiteral("%p%") : QString::fromStdString(text) + QStringLiteral(" %p%"));
    const bool appearing = bar->isHidden();
    if (appearing)
        bar->show();
    if (appearing || !FLastPump.isValid() || FLastPump.elapsed() >= kPumpIntervalMs) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        FLastPump.restart();
    }
}

void TLoadProgress::SetBusy(bool busy)
{
    if (!busy)
        FBar.ProgressBar()->hide();
    FLastPump.invalidate();
}
