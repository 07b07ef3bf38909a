#pragma once
// The residual report as a PDF a surveyor files: the sheet with its points
// and residual vectors to a stated scale, the transformation's parameters,
// the root mean squares and the table of every point. Drawn with Qt's PDF
// writer from georef's report data.
#include "georef/residual_report.h"

#include <string>

class TBitmap;

// Writes fileName whole; sheet, when given, is drawn faintly under the
// points. Raises an Exception naming the file when it cannot be written.
void WriteResidualReportPdf(const TResidualReport& report, const TBitmap* sheet, const std::string& fileName);
