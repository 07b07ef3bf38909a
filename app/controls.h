#pragma once
// Small controls the windows are built from: a panel with inner and outer
// bevels, a clickable picture, and a status bar of fixed-width panels.
#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QWidget>

#include <vector>

class QHBoxLayout;
class QProgressBar;

enum TPanelBevel { bvNone, bvLowered, bvRaised };

class TPanel : public QWidget {
    Q_OBJECT
public:
    explicit TPanel(QWidget* parent = nullptr);

    TPanelBevel BevelInner() const { return FBevelInner; }
    TPanelBevel BevelOuter() const { return FBevelOuter; }
    void SetBevelInner(TPanelBevel bevel);
    void SetBevelOuter(TPanelBevel bevel);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TPanelBevel FBevelInner = bvNone;
    TPanelBevel FBevelOuter = bvRaised;
};

// A picture that reports a click (press and release over it). Drawn centred
// when asked, greyed while disabled.
class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget* parent = nullptr);

    void SetPicture(const QPixmap& picture);
    const QPixmap& Picture() const { return FPicture; }
    void SetCenter(bool center);

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPixmap FPicture;
    bool FCenter = false;
    bool FPressed = false;
};

// Status bar with panels of fixed widths, left to right, and a progress bar
// that appears to their right while a picture loads.
class TStatusBar : public QWidget {
    Q_OBJECT
public:
    TStatusBar(const std::vector<int>& panelWidths, QWidget* parent = nullptr);

    int PanelCount() const { return static_cast<int>(FPanels.size()); }
    QLabel* Panel(int index) const { return FPanels.at(static_cast<size_t>(index)); }
    QProgressBar* ProgressBar() const { return FProgressBar; }
    // Room right of the panels, for controls of the window's own; the
    // progress bar covers it while a picture loads.
    QHBoxLayout* Room() const { return FRoom; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    std::vector<QLabel*> FPanels;
    QProgressBar* FProgressBar;
    QHBoxLayout* FRoom;
    int FPanelsWidth = 0;
};
