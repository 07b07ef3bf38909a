#pragma once
// The panels under the image view, each shown and hidden by a button of its
// own in the top bar and remembered between runs. A panel is one file: a
// widget that takes the workbench and a function that makes it, named in
// one line of panel_list.def.
#include "app/workbench.h"

#include <QString>

#include <functional>
#include <span>

class QWidget;

struct TPanelKind {
    QString Name;   // the button's caption, and the setting "window/<name>"
    QString Tip;
    std::function<QWidget*(const TWorkbench& workbench)> Make;
};

std::span<const TPanelKind> PanelKinds();
