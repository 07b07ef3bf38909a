#pragma once
// TForm1: the workbench's main window. Its designed controls (form_controls.h)
// and their handlers, wired to the point list, the fit monitor, the tools
// and the panels, which do the work.
#include "app/cursor_readout.h"
#include "app/desk_window.h"
#include "app/file_dialogs.h"
#include "app/fit_monitor.h"
#include "app/form_controls.h"
#include "app/panel_host.h"
#include "app/point_list.h"
#include "app/tools/finder_tool.h"
#include "app/view_navigator.h"

#include <QStringList>

#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QToolButton;
class TClickTool;
class TExistingGeorefView;
class TForm2;
class TGeorefBar;
class THelpHook;
class TLoadProgress;
class TPointsPanel;
class TResidualVectors;

class TForm1 : public TDeskWindow, public TForm1Controls {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // The magnifier the zoom toggle shows and closes.
    // It enlarges the picture's own pixels while the view shows it reduced.
    void SetZoomWindow(TForm2* form);

    // Handlers.
    void FormCreate();
    void FormDestroy();
    void RadioButton1Click();
    void RadioButton2Click();
    void Image1MouseDown(int x, int y);
    void SpeedButton2Click();  // Open
    void SpeedButton3Click();  // Help
    void SpeedButton4Click();  // Close
    void SpeedButton1Click();  // Load file
    void Button11Click();      // Save
    void Image2Click();        // sign toggle
    void Image3Click();        // zoom toggle
    void Image1MouseMove(int x, int y);

    // Opens fileName as Open does, under the filter its extension picks
    // (a file given on the command line, as the desktop entry passes it, or
    // dropped on the window); "All pictures" for the other types.
    void OpenFile(const QString& fileName);
    // Loads a picture as Open does once the dialog has given the name.
    void OpenImageFile(const QString& fileName);
    void ZoomTo(int level) { Navigator->ZoomTo(level); }
    int ZoomLevel() const { return Navigator->Level(); }
    void ShowPointsTable(bool shown) { Panels->Show(QStringLiteral("Points"), shown); }
    void SelectPoint(int number) { Points->Select(number); }
    bool FindingCorners() const { return Finders.front()->Running(); }
    bool Assessing() const { return Fit->Assessing(); }

    // State.
    QStringList MessageTable;   // at least 11 slots, the lines of Memo1 first
    std::string StartDir;       // current directory at start-up, no trailing "/"
    int PointState = 1;         // the point the next click on the image sets

    // Dialogs.
    TOpenDialog OpenDialog1;    // image
    TOpenDialog OpenDialog2;    // point file
    TSaveDialog SaveDialog1;    // save target

    // The workbench: every point, their fit, the tools and the panels.
    std::unique_ptr<TLoadProgress> Progress;
    TPointList* Points;
    TFitMonitor* Fit;
    std::unique_ptr<TClickTool> PickTool, SnapTool;
    std::vector<std::unique_ptr<TFinderTool>> Finders; // they read the bitmap, so they stop first
    TViewNavigator* Navigator;
    TPanelHost* Panels;
    TGeorefBar* Bar;

    // Controls beyond the designed ones, for the tests and the probe.
    QComboBox* ZoomBox;         // the zoom level, right end of the status bar
    QLineEdit* CrsEdit;
    QLabel* CrsNameLabel;
    QCheckBox* RotateCheck;
    QCheckBox* SnapCheck;
    QLabel* CheckLabel;
    QToolButton* PointsButton;
    TPointsPanel* PointsPanel;
    TCursorReadout* CursorPanel;
    TExistingGeorefView* Existing; // the georeferencing the picture has
    TResidualVectors* Residuals; // shown with the points table
    QToolButton* ReportButton;

    TForm2* Form2 = nullptr;

protected:
    bool TakesDrops() const override;
    void Dropped(const QString& fileName) override;

private:
    void BuildWorkbench();
    void ConnectHandlers();
    void ShowStatus(const QString& text, const QString& tip);

    std::unique_ptr<THelpHook> FHelpHook;
};
