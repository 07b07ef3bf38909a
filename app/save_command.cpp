#include "app/save_command.h"

#include "app/converter_wait.h"
#include "app/fit_monitor.h"
#include "app/georef_bar.h"
#include "app/main_window.h"
#include "app/message_service.h"
#include "app/point_list.h"
#include "app/points_exchange.h"
#include "georef/coordinates.h"
#include "georef/export_pipeline.h"
#include "georef/gcp_points_file.h"
#include "georef/save_request.h"
#include "platform/durable_files.h"
#include "platform/exceptions.h"

#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include <algorithm>

namespace {

// A converter wait pumps events, so Save could be clicked again inside
// itself; a nested Save would work on the same temporary files.
bool SaveRunning = false;

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

std::string FileName(const QString& name)
{
    return QFile::encodeName(name).toStdString();
}

void WriteWorldFile(TForm1& form)
{
    // An unknown system stops Save before it asks for a target.
    TGeorefOptions options = form.Fit->Options();
    options.Crs = form.Bar->CurrentCrs();
    // The sign toggle's state is its look.
    options.Negate = form.Panel1->BevelInner() == bvLowered;
    if (!form.SaveDialog1.Execute(&form))
        return;

    TExportSource source;
    source.FileName = FileName(form.OpenDialog1.FileName);
    source.Format = OpenFilterFormat(form.OpenDialog1.FilterIndex, source.FileName);
    const TSaveRequest request = BuildSaveRequest(form.Points->ReadAll(), options, FileName(form.SaveDialog1.FileName),
                                                  static_cast<TTargetFilter>(form.SaveDialog1.FilterIndex), source);

    if (request.TargetFilterIndex == TTargetFilter::Points) {
        // The same checks as a save of the world file, then the points alone
        // with the residuals of the fit, replacing an earlier file only once
        // they are on the disk.
        ReplaceFileDurably(request.TargetFileName, SavedPointsText(form, request));
    } else {
        TExportPipeline pipeline(form.StartDir);
        pipeline.ShowMessage = [](const std::string& text) { MessageService().ShowMessage(QString::fromStdString(text)); };
        pipeline.WhileWaiting = RunEventsWhileConverting;
        TSaveRunningScope running(form.Button11);
        WriteWorldFile(request, pipeline);
    }
    form.Bar->RememberCrs();
    MessageService().Beep();
    MessageService().ShowMessage(form.MessageTable.value(1));
}

} // namespace

void SaveWorkbench(TForm1& form)
{
    if (SaveRunning)
        return;
    int filled = 0;
    for (const QLineEdit* edit : {form.Edit16, form.Edit17, form.Edit18, form.Edit19})
        if (!edit->text().isEmpty())
            ++filled;
    const std::vector<TPointEntry>& entries = form.Points->Entries();
    const bool othersFilled = std::all_of(entries.begin() + 2, entries.end(), [](const TPointEntry& entry) {
        return !entry.East.isEmpty() && !entry.North.isEmpty();
    });
    if (filled < 4 || !othersFilled) {
        MessageService().Beep();
        MessageService().ShowMessage(form.MessageTable.value(2));
        return;
    }
    WriteWorldFile(form);
}

void LoadPointFile(TForm1& form)
{
    if (!form.OpenDialog2.Execute(&form))
        return;
    const std::string fileName = FileName(form.OpenDialog2.FileName);
    if (LoadExchangedPoints(form, fileName))
        return;
    if (IsGcpPointsFile(fileName)) {
        LoadGcpPointsFile(form, fileName);
        return;
    }
    QLineEdit* const boxes[] = {form.Edit16, form.Edit17, form.Edit18, form.Edit19};
    ReadPointFile(fileName, LocaleDecimalSeparator(),
                  [&boxes](int box, const std::string& text) { boxes[box]->setText(QString::fromStdString(text)); });
}

void LoadGcpPointsFile(TForm1& form, const std::string& fileName)
{
    const TGcpPoints file = ReadEveryGcpPoint(fileName);
    if (file.Points.size() < 2)
        throw Exception("The point file '" + fileName + "' holds fewer than two points");
    const std::vector<std::string> outside = CheckLoadedPoints(form, file, fileName);
    const char separator = LocaleDecimalSeparator();
    auto show = [separator](double value) { return QString::fromStdString(FloatToStr(value, separator)); };
    std::vector<TPointEntry> entries;
    for (const TControlPoint& p : file.Points)
        entries.push_back({show(p.Col), show(p.Row), show(p.East), show(p.North), p.Role});
    if (file.Crs.Given())
        form.Bar->SetCrs(QString::fromStdString(file.Crs.Id()));
    form.Points->SetEntries(std::move(entries));
    if (file.Points.size() > 2)
        form.ShowPointsTable(true);
    ShowOutsideWarnings(outside);
}
