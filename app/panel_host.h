#pragma once
// Where the panels of the table live: each under the image view, shown and
// hidden by its button, up to half of the room, its state remembered for
// the next run.
#include "app/workbench.h"

#include <QObject>

#include <vector>

class QBoxLayout;
class QToolButton;
class QWidget;

class TPanelHost : public QObject {
    Q_OBJECT
public:
    // Buttons go into buttons, panels into column below what it holds; the
    // room is column's parent widget's.
    TPanelHost(const TWorkbench& workbench, QBoxLayout& buttons, QBoxLayout& column, QWidget& room);

    QWidget* Panel(const QString& name) const;
    QToolButton* Button(const QString& name) const;
    void Show(const QString& name, bool shown);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct TEntry {
        QString Name;
        QToolButton* Button;
        QWidget* Panel;
    };
    void Limit();

    std::vector<TEntry> FEntries;
    QWidget& FRoom;
};
