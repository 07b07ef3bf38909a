#include "app/panel_host.h"

#include "app/panel_kinds.h"

#include <QBoxLayout>
#include <QEvent>
#include <QSettings>
#include <QSignalBlocker>
#include <QToolButton>

#include <algorithm>

namespace {

constexpr int kMinPanelHeight = 110;

QSettings Settings()
{
    return QSettings(QStringLiteral("Pinwright"), QStringLiteral("pinwright"));
}

QString Key(const QString& name)
{
    return QStringLiteral("window/") + name.toLower();
}

} // namespace

TPanelHost::TPanelHost(const TWorkbench& workbench, QBoxLayout& buttons, QBoxLayout& column, QWidget& room)
    : QObject(&room), FRoom(room)
{
    for (const TPanelKind& kind : PanelKinds()) {
        auto* button = new QToolButton;
        button->setText(kind.Name);
        button->setToolTip(kind.Tip);
        button->setCheckable(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setFixedHeight(21);
        buttons.addWidget(button);
        QWidget* panel = kind.Make(workbench);
        panel->hide();
        column.addWidget(panel);
        FEntries.push_back({kind.Name, button, panel});
        connect(button, &QToolButton::toggled, this, [this, name = kind.Name](bool shown) { Show(name, shown); });
        if (Settings().value(Key(kind.Name)).toBool())
            Show(kind.Name, true);
    }
    FRoom.installEventFilter(this);
    Limit();
}

QWidget* TPanelHost::Panel(const QString& name) const
{
    for (const TEntry& entry : FEntries)
        if (entry.Name == name)
            return entry.Panel;
    return nullptr;
}

QToolButton* TPanelHost::Button(const QString& name) const
{
    for (const TEntry& entry : FEntries)
        if (entry.Name == name)
            return entry.Button;
    return nullptr;
}

void TPanelHost::Show(const QString& name, bool shown)
{
    for (const TEntry& entry : FEntries) {
        if (entry.Name != name)
            continue;
        const QSignalBlocker quiet(entry.Button);
        entry.Button->setChecked(shown);
        entry.Panel->setVisible(shown);
        QSettings settings = Settings();
        if (settings.value(Key(name)).toBool() != shown)
            settings.setValue(Key(name), shown);
    }
}

// A panel takes the room its rows need, up to half of the image area's.
void TPanelHost::Limit()
{
    const int most = std::max(kMinPanelHeight, FRoom.height() / 2);
    for (const TEntry& entry : FEntries)
        entry.Panel->setMaximumHeight(most);
}

bool TPanelHost::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &FRoom && event->type() == QEvent::Resize)
        Limit();
    return false;
}
