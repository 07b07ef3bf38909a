#pragma once
// "Report..." of the workbench: the residual report of the points and the
// fit the table shows, written as the PDF that the command line's
// --report FILE.pdf writes.
class QToolButton;
class TForm1;

// The button, beside the panels' buttons.
QToolButton* AddReportButton(TForm1& form);
// Asks for the PDF's name and writes it; raises naming the file, or when
// the points do not make a fit yet.
void WriteWorkbenchReport(TForm1& form);
