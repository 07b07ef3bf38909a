// Save and Load file of the main window: the controls are read and written
// here, everything else is the georeferencing core in georef/.
#include "app/main_window.h"

#include "app/converter_wait.h"
#include "app/message_service.h"
#include "app/points_panel.h"
#include "georef/coordinates.h"
#include "georef/export_pipeline.h"
#include "georef/gcp_points_file.h"
#include "georef/save_request.h"
#include "platform/durable_files.h"

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include <algorithm>

namespace {

// A converter wait pumps events, so Save could be clicked again inside
// itself; a nested Save would work on the same temporary files.
bool SaveRunning = false;

std::string Text(const QLabel* label)
{
    return label->text().toStdString();
}

std::string Text(const QLineEdit* edit)
{
    return edit->text().toStdString();
}

class TSaveRunningScope {
public:
    explicit TSaveRunningScope(QPushButton* button) : FButton(button)
    {
        SaveRunning = true;
        FButton->setEnabled(false);
    }
    ~TSaveRunningScope()
    {
        SaveRunning = false;
        if (FButton)
            FButton->setEnabled(true);
    }
    TSaveRunningScope(const TSaveRunningScope&) = delete;
    TSaveRunningScope& operator=(const TSaveRunningScope&) = delete;

private:
    QPointer<QPushButton> FButton;
};

void WriteWorldFile(TForm1& form)
{
    // An unknown system stops Save before it asks for a target.
    TGeorefOptions options = form.ChosenOptions();
    options.Crs = form.CurrentCrs();
    if (!form.SaveDialog1.Execute(&form))
        return;

    TExportSource source;
    source.FileName = QFile::encodeName(form.OpenDialog1.FileName).toStdString();
    source.Format = OpenFilterFormat(form.OpenDialog1.FilterIndex, source.FileName);
    const TSaveRequest request =
        BuildSaveRequest(form.ReadAllPoints(), options, QFile::encodeName(form.SaveDialog1.FileName).toStdString(),
                         static_cast<TTargetFilter>(form.SaveDialog1.FilterIndex), source);

    if (request.TargetFilterIndex == TTargetFilter::Points) {
        // The same checks as a save of the world file, then the points alone
        // with the residuals of the fit, replacing an earlier file only once
        // they are on the disk.
        ReplaceFileDurably(request.TargetFileName, GcpPointsText(request.Points, request.Crs, request.Fit));
    } else {
        TExportPipeline pipeline(form.StartDir);
        pipeline.ShowMessage = [](const std::string& text) { MessageService().ShowMessage(QString::fromStdString(text)); };
        pipeline.WhileWaiting = RunEventsWhileConverting;
        TSaveRunningScope running(form.Button11);
        WriteWorldFile(request, pipeline);
    }
    form.RememberCrs();
    MessageService().Beep();
    MessageService().ShowMessage(form.MessageTable.value(1));
}

} // namespace

TControlPoints TForm1::ReadPanelPoints() const
{
    TControlTexts texts;
    texts.Row1 = Text(Label21);
    texts.Col1 = Text(Label23);
    texts.Row2 = Text(Label27);
    texts.Col2 = Text(Label29);
    texts.Y1 = Text(Edit16);
    texts.X1 = Text(Edit17);
    texts.Y2 = Text(Edit18);
    texts.X2 = Text(Edit19);
    texts.DecimalSeparator = LocaleDecimalSeparator();
    return ReadControlPoints(texts);
}

TGeorefOptions TForm1::ChosenOptions() const
{
    TGeorefOptions options;
    options.Transform = PointsPanel->Transform().toStdString();
    options.Negate = Panel1->BevelInner() == bvLowered;
    options.Warp = PointsPanel->WarpCheck->isEnabled() && PointsPanel->WarpCheck->isChecked();
    return options;
}

void TForm1::Button11Click()
{
    if (SaveRunning)
        return;
    int filled = 0;
    for (const QLineEdit* edit : {Edit16, Edit17, Edit18, Edit19})
        if (!edit->text().isEmpty())
            ++filled;
    const bool othersFilled = std::all_of(FMorePoints.begin(), FMorePoints.end(), [](const TPointEntry& entry) {
        return !entry.East.isEmpty() && !entry.North.isEmpty();
    });
    if (filled < 4 || !othersFilled) {
        MessageService().Beep();
        MessageService().ShowMessage(MessageTable.value(2));
        return;
    }
    WriteWorldFile(*this);
}

void TForm1::SpeedButton1Click()
{
    if (!OpenDialog2.Execute(this))
        return;
    const std::string fileName = QFile::encodeName(OpenDialog2.FileName).toStdString();
    if (IsGcpPointsFile(fileName)) {
        LoadGcpPointsFile(fileName);
        return;
    }
    QLineEdit* const boxes[] = {Edit16, Edit17, Edit18, Edit19};
    ReadPointFile(fileName, LocaleDecimalSeparator(),
                  [&boxes](int box, const std::string& text) { boxes[box]->setText(QString::fromStdString(text)); });
}
