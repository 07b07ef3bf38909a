#include "app/report_command.h"

#include "app/application.h"
#include "app/fit_monitor.h"
#include "app/georef_bar.h"
#include "app/image_view.h"
#include "app/main_window.h"
#include "app/message_service.h"
#include "app/point_list.h"
#include "georef/residual_report.h"
#include "georef/save_request.h"
#include "platform/bitmap.h"
#include "platform/exceptions.h"
#include "tools/report/residual_report_pdf.h"

#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QToolButton>

#include <filesystem>
#include <system_error>

QToolButton* AddReportButton(TForm1& form)
{
    auto* button = new QToolButton(form.Bar);
    button->setText(QStringLiteral("Report..."));
    button->setToolTip(QStringLiteral("Writes the residual report of the points and their fit as a PDF: the sheet "
                                      "with the residual vectors, the transformation and the table of the points"));
    button->setFocusPolicy(Qt::NoFocus);
    form.Bar->PanelButtons->addWidget(button);
    QObject::connect(button, &QToolButton::clicked, &form, [&form] { RunGuarded([&] { WriteWorkbenchReport(form); }); });
    return button;
}

void WriteWorkbenchReport(TForm1& form)
{
    std::vector<size_t> rowOf;
    const TControlPoints points = form.Points->ReadComplete(rowOf);
    if (points.empty())
        throw Exception("A report needs points 1 and 2 placed and their map coordinates typed");
    TGeorefOptions options = form.Fit->Options();
    options.Crs = form.Bar->CurrentCrs();
    const TSaveRequest request = BuildSaveRequest(points, options);

    // The PDF beside the picture, named after it, unless one was asked for before.
    TSaveDialog dialog;
    dialog.Filter = QStringLiteral("PDF report (*.pdf)|*.pdf");
    const QFileInfo picture(form.OpenDialog1.FileName);
    static QString lastName;
    dialog.FileName = !lastName.isEmpty()          ? lastName
                      : picture.fileName().isEmpty() ? QString()
                                                     : picture.absolutePath() + QLatin1Char('/') +
                                                           picture.completeBaseName() + QStringLiteral("_report.pdf");
    if (!dialog.Execute(&form))
        return;
    QString target = dialog.FileName;
    if (QFileInfo(target).suffix().isEmpty())
        target += QStringLiteral(".pdf");
    lastName = target;

    form.Image1->DecodeNow();
    const TBitmap* sheet = form.Image1->Bitmap();
    const QSize size = form.Image1->PictureSize();
    const TFitQuality quality = AssessFit(request.Fit, request.Points, {size.width(), size.height()});
    const TResidualReport report =
        MakeResidualReport(picture.fileName().toStdString(), size.width(), size.height(), request.Points, request.Fit,
                           quality);
    // Written aside and put in place whole, so that an earlier report is
    // not lost to a failed one.
    const std::string fileName = QFile::encodeName(target).toStdString();
    const std::string aside = fileName + ".part";
    std::error_code error;
    try {
        WriteResidualReportPdf(report, sheet && !sheet->Empty() ? sheet : nullptr, aside);
        std::filesystem::rename(aside, fileName, error);
    } catch (...) {
        std::filesystem::remove(aside, error);
        throw;
    }
    if (error) {
        std::filesystem::remove(aside, error);
        throw Exception("Cannot write the report '" + fileName + "'");
    }
    form.StatusBar1->Panel(0)->setText(QStringLiteral("Report written: ") + QFileInfo(target).fileName());
}
