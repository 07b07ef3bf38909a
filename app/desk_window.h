#pragma once
// A window at a real desk: it opens where it was last closed (centred on
// the screen the first time) and opens a single file dropped on it.
#include <QWidget>

class TDeskWindow : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

signals:
    void closed();

protected:
    // A file dropped on the window, while it takes one.
    virtual bool TakesDrops() const = 0;
    virtual void Dropped(const QString& fileName) = 0;

    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool FPlaced = false;
};
