#include "app/panel_kinds.h"

#include "app/points_panel.h"

namespace {

template <class TPanel>
QWidget* Make(const TWorkbench& workbench)
{
    return new TPanel(workbench);
}

const TPanelKind kPanels[] = {
    {QStringLiteral("Points"), QStringLiteral("Shows or hides the table of the control points"), Make<TPointsPanel>},
};

} // namespace

std::span<const TPanelKind> PanelKinds()
{
    return kPanels;
}
