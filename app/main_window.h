#pragma once
// TForm1: the workbench's main window. The image view and point picking, the
// message table, Open, Close, Help and the two toggles live here; Save and
// Load file are in main_window_save.cpp.
#include "app/controls.h"
#include "app/file_dialogs.h"
#include "app/latest_job.h"
#include "app/point_entries.h"
#include "georef/control_points.h"
#include "georef/crs.h"
#include "georef/fit_model.h"
#include "georef/save_request.h"
#include "platform/graphic.h"

#include <QElapsedTimer>
#include <QPoint>
#include <QPointF>
#include <QStringList>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

class QComboBox;
class QWheelEvent;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QToolButton;
class TForm2;
class THelpHook;
class TImageView;
class TPointsPanel;

class TForm1 : public QWidget {
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
    // Opens fileName as Open does, under the filter its extension picks
    // (a file given on the command line, as the desktop entry passes it, or
    // dropped on the window); "All pictures" for the other types.
    void OpenFile(const QString& fileName);
    void SpeedButton3Click();  // Help
    void SpeedButton4Click();  // Close
    void SpeedButton1Click();  // Load file (main_window_save.cpp)
    void Button11Click();      // Save (main_window_save.cpp)
    void Image2Click();        // sign toggle
    void Image3Click();        // zoom toggle

    // The desk additions (main_window_view.cpp): a resizable window that
    // remembers its place, zoom levels, keyboard and wheel scrolling, files
    // dropped on the window, and the open dialog's folder.
    void ZoomTo(int level, QPoint anchor);   // anchor: point of the viewport kept in place
    void ZoomTo(int level);                  // about the viewport's centre
    int ZoomLevel() const { return FZoomLevel; }
    // Loads a picture as Open does once the dialog has given the name.
    void OpenImageFile(const QString& fileName);
    // The GIS additions (main_window_georef.cpp): the system field, the
    // rotation switch, the check of the two points, the point markers and
    // the cursor's position.
    void CrsEditDone();        // looks the system up and shows its name
    void UpdatePointCheck();   // markers, check and transformation from the controls
    void Image1MouseMove(int x, int y);
    void Image1MouseLeft();
    // The system in the field; raises for an unknown one (Save stops there).
    TCrs CurrentCrs() const;
    void RememberCrs() const;  // after a Save: the field for the next run
    // A ".points" file: every point with its pixel position, coordinates
    // and role, and the system.
    void LoadGcpPointsFile(const std::string& fileName);
    // The two-point panel read into points 1 and 2 (main_window_save.cpp):
    // the labels and boxes converted as Save converts them, raising the same
    // errors.
    TControlPoints ReadPanelPoints() const;
    // The transformation, the sign toggle and the warped copy as the
    // controls show them.
    TGeorefOptions ChosenOptions() const;

    // The points table (main_window_points.cpp). Every control point, the
    // panel's two first; setting them writes points 1 and 2 into the panel.
    std::vector<TPointEntry> PointEntries() const;
    void SetPointEntries(std::vector<TPointEntry> entries);
    // Every point for Save: the panel's two as ReadPanelPoints reads them,
    // then the others, raising for a point not placed or a malformed text.
    TControlPoints ReadAllPoints() const;
    // The point the next click places (from 1): the radio buttons show 1
    // and 2, the table any.
    void SelectPoint(int number);
    void AddPoint();
    void RemovePoint();          // the selected one
    void SwitchPointRole();      // the selected one, fitted or check
    // Places the selected point as a click on pixel (col, row) does, with
    // decimals; a whole pixel reads as Image1MouseDown writes it.
    void PlacePoint(double col, double row);
    void ShowPointsTable(bool shown);
    // Find corners (main_window_corners.cpp): the map frame looked for in
    // the background, its corners placed as points 1 to 4 with the
    // coordinates those points have, or the reason none were found.
    void FindCorners();
    bool FindingCorners() const { return FFindingCorners; }
    // The errors left out and the warnings are still being measured.
    bool Assessing() const;

    // State.
    QStringList MessageTable;   // at least 11 slots, the lines of Memo1 first
    std::string StartDir;       // current directory at start-up, no trailing "/"
    int PointState = 1;         // the point the next click on the image sets

    // Top bar.
    TPanel* Panel4;
    QToolButton* SpeedButton2;
    QToolButton* SpeedButton3;
    QToolButton* SpeedButton4;
    QPlainTextEdit* Memo1;

    // Right panel, " Local ".
    TPanel* Panel2;
    QGroupBox* GroupBox6;
    QRadioButton* RadioButton1;
    QRadioButton* RadioButton2;
    QLabel* Label20;            // "y1 :"
    QLabel* Label22;            // "x1 :"
    QLabel* Label26;            // "y2 :"
    QLabel* Label28;            // "x2 :"
    QLabel* Label21;            // row of point 1
    QLabel* Label23;            // column of point 1
    QLabel* Label27;            // row of point 2
    QLabel* Label29;            // column of point 2
    TPanel* Panel3;             // zoom toggle
    TImage* Image3;

    // Right panel, " Global ".
    QGroupBox* GroupBox7;
    QLabel* Label16;            // "Y1"
    QLabel* Label17;            // "X1"
    QLabel* Label18;            // "Y2"
    QLabel* Label19;            // "X2"
    QLineEdit* Edit16;          // Y of point 1
    QLineEdit* Edit17;          // X of point 1
    QLineEdit* Edit18;          // Y of point 2
    QLineEdit* Edit19;          // X of point 2
    QToolButton* SpeedButton1;  // Load file
    TPanel* Panel1;             // sign toggle, pressed while its inner bevel is lowered
    TImage* Image2;
    QPushButton* Button11;      // Save

    // Image area and status bar.
    TPanel* Panel5;
    QScrollArea* ScrollBox1;
    TImageView* Image1;
    TStatusBar* StatusBar1;
    QComboBox* ZoomBox = nullptr;       // the zoom level, right end of the status bar

    // Dialogs.
    TOpenDialog OpenDialog1;    // image
    TOpenDialog OpenDialog2;    // point file
    TSaveDialog SaveDialog1;    // save target

    // GIS additions: top bar and status bar.
    QLabel* CrsCaption;
    QLineEdit* CrsEdit;         // EPSG code or name of the coordinate reference system
    QLabel* CrsNameLabel;       // its full name, or why it is unknown
    QCheckBox* RotateCheck;     // similarity transformation instead of the two-point one
    QLabel* CheckLabel;         // the check of the two points, or the residuals of many
    QCheckBox* SnapCheck;       // a click snaps to the printed crossing under it
    QToolButton* PointsButton;  // shows and hides the points panel
    TPointsPanel* PointsPanel;
    QLabel* CursorPanel;        // pixel under the cursor and its map coordinates

    TForm2* Form2 = nullptr;

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void BuildTopBar();
    void BuildRightPanel();
    void BuildGlobalGroup();
    void BuildImageArea();
    void ConnectHandlers();
    void BuildGisControls();
    void BuildPointsControls();
    void BuildSnapControls();
    void LayOutPoints();
    void AssessInBackground(const TSaveRequest& request, const std::vector<size_t>& rowOf);
    void ShowCheck(const QString& text, const QString& details, bool warning);
    void CornersFound(const struct TMapFrame& frame);
    void PointEdited(int row, int column, const QString& text);
    void TransformChosen();
    // A press on the picture (main_window_snap.cpp).
    void ImageClicked(int x, int y, QPointF at, Qt::KeyboardModifiers modifiers);
    void PictureProgress(TProgressStage stage, int percent, const std::string& text);
    void SetBusy(bool busy);
    void BuildDeskAdditions();
    void LayOut();
    void WatchKeys();
    bool ScrollKey(int key);
    bool WheelOverImage(QWheelEvent* event);
    bool RestorePlace();
    void RememberPlace();
    void RememberFolder(const QString& fileName);
    double FitScaleNow() const;
    // Status bar text and a non-modal notice for a picture from a short file.
    void ReportEarlyEnd();

    static inline const QString WarningStyle = QStringLiteral("color: #b00000;");

    std::unique_ptr<THelpHook> FHelpHook;
    QElapsedTimer FLastPump;
    QElapsedTimer FLastBarValue;
    const TGraphic* FEarlyEndReported = nullptr;
    bool FCentred = false;
    int FZoomLevel = 1;
    // Where the cursor lies on the map, once the points allow a fit.
    TFitModelPtr FCursorModel;
    int FCursorDecimals = 3;
    std::vector<TPointEntry> FMorePoints;   // points 3 and on
    TPointRole FPanelRoles[2] = {TPointRole::Fitted, TPointRole::Fitted};
    bool FHoldUpdates = false;              // while the entries are written
    // Each change of the points counts one up; an assessment made for an
    // earlier count is dropped. Leaving each point out of the fit in turn
    // takes long for many points, so it runs in the background.
    int FFitGeneration = 0;
    int FShownGeneration = 0;               // the count the figures shown are for
    TLatestJob FAssessment;                 // last: stops before the rest goes
    bool FFindingCorners = false;
    TLatestJob FCornerFinder;               // reads the bitmap, so it stops first
};
