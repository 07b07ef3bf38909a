// The residual report's PDF read back as a reader of it would: pdftotext
// finds the parameters, the root mean squares and every figure of the table.
#include "georef/fit_quality.h"
#include "tools/report/residual_report_pdf.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

TEST(ResidualReportPdf, TextReadsBackWithEveryFigure)
{
    // Six points on a sheet of 10 units a pixel, turned 2 degrees, two of
    // them off by a few pixels, one a check point.
    TControlPoints points;
    const double c = 10 * std::cos(2 * M_PI / 180), s = 10 * std::sin(2 * M_PI / 180);
    const double at[6][4] = {{100, 100, 0, 0}, {1900, 120, 3, -2}, {1880, 1400, 0, 0},
                             {90, 1390, 0, 4},  {1000, 700, 0, 0},  {500, 300, 1, 1}};
    for (int i = 0; i < 6; ++i) {
        const double col = at[i][0], row = at[i][1];
        points.push_back({i + 1, col + at[i][2], row + at[i][3], 3500000 + c * col + s * row,
                          5400000 + s * col - c * row, i == 5 ? TPointRole::Check : TPointRole::Fitted});
    }
    const TFitResult fit = FitControlPoints("affine", points);
    const TFitQuality quality = AssessFit(fit, points, {2000, 1500});
    const TResidualReport report = MakeResidualReport("sheet.png", 2000, 1500, points, fit, quality);
    pwtest::TempDir dir;
    const std::string pdf = dir.File("report.pdf");
    WriteResidualReportPdf(report, nullptr, pdf);
    const auto text = pwtest::Run({"pdftotext", "-layout", pdf, "-"});
    ASSERT_EQ(text.ExitCode, 0) << text.Err;

    const std::vector<std::string> expected = {
        "Residual report: sheet.png",
        "Transformation affine, 5 fitted and 1 check points, picture 2000 x 1500 pixels",
        "residual of 2 pixels; vectors drawn 100 times their length",
        "2 (largest, 1.09 px)",
        "Translation east: 3499993.908 map units (centre of pixel 0,0)",
        "Scale down columns: 9.976801 map units a pixel",
        "Rotation: 1.9034 degrees",
        "Shear: -0.1613 degrees",
        "RMS of the 5 fitted points: 0.882 pixels, 8.818 map units",
        "RMS with n - k = 5 - 3 degrees of freedom: 1.394 pixels, 13.943 map units",
        "RMS of the 1 check points: 0.856 pixels, 8.549 map units"};
    for (const std::string& e : expected)
        EXPECT_NE(text.Out.find(e), std::string::npos) << e << "\n" << text.Out;
    // Each point's row: its figures in the table's order, on one line.
    for (const TReportRow& r : report.Rows) {
        std::ostringstream row;
        row << r.Id << " " << (r.Check ? "check" : "fitted") << " " << ReportNumber("%.3f", r.Col) << " "
            << ReportNumber("%.3f", r.Row) << " " << ReportNumber("%.3f", r.East) << " "
            << ReportNumber("%.3f", r.North) << " " << ReportNumber("%.3f", r.ResidualEast) << " "
            << ReportNumber("%.3f", r.ResidualNorth) << " " << ReportNumber("%.3f", r.ResidualMap) << " "
            << ReportNumber("%.3f", r.ResidualPixels) << " " << (r.LeftOut ? ReportNumber("%.3f", *r.LeftOut) : "-");
        std::istringstream lines(text.Out);
        bool found = false;
        for (std::string line; std::getline(lines, line);) {
            std::istringstream words(line);
            std::string joined, word;
            while (words >> word)
                joined += (joined.empty() ? "" : " ") + word;
            found = found || joined == row.str();
        }
        EXPECT_TRUE(found) << row.str() << "\n" << text.Out;
    }
}

} // namespace
