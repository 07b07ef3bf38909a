#pragma once
// What a panel of the workbench takes: the point list, the fit monitor, the
// picture view and the finders' actions.
#include <QList>

class QAction;
class TFitMonitor;
class TImageView;
class TPointList;

struct TWorkbench {
    TPointList* Points = nullptr;
    TFitMonitor* Fit = nullptr;
    TImageView* View = nullptr;
    QList<QAction*> Finders;
};
