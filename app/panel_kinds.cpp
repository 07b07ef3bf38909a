#include "app/panel_kinds.h"

#define PW_PANEL(name, tip, make) QWidget* make(const TWorkbench& workbench);
#include "app/panel_list.def"
#undef PW_PANEL

namespace {

const TPanelKind kPanels[] = {
#define PW_PANEL(name, tip, make) {QStringLiteral(name), QStringLiteral(tip), make},
#include "app/panel_list.def"
#undef PW_PANEL
};

} // namespace

std::span<const TPanelKind> PanelKinds()
{
    return kPanels;
}
