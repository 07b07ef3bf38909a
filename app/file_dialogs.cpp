#include "app/file_dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace {

TFileDialog::TRunner& Runner()
{
    static TFileDialog::TRunner runner;
    return runner;
}

} // namespace

void TFileDialog::SetRunner(TRunner runner)
{
    Runner() = std::move(runner);
}

QStringList TFileDialog::QtFilters() const
{
    QStringList filters;
    const QStringList parts = Filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& text = parts[i];
        QString masks = parts[i + 1];
        masks.replace(QLatin1Char(';'), QLatin1Char(' '));
        // Qt takes the patterns from the last parentheses of an entry.
        if (text.endsWith(QLatin1Char(')')) && text.contains(QLatin1Char('(')))
            filters << text;
        else
            filters << text + QStringLiteral(" (") + masks + QLatin1Char(')');
    }
    return filters;
}

bool TFileDialog::Execute(QWidget* parent)
{
    if (Runner())
        return Runner()(*this);
    return RunQtDialog(parent);
}

bool TFileDialog::RunQtDialog(QWidget* parent)
{
    QFileDialog dialog(parent, Title);
    dialog.setAcceptMode(FKind == dkOpen ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(FKind == dkOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    // No overwrite prompt and no default extension: the name is taken as typed.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    const QStringList filters = QtFilters();
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        const int index = FilterIndex >= 1 && FilterIndex <= filters.size() ? FilterIndex : 1;
        dialog.selectNameFilter(filters[index - 1]);
    }
    if (!FileName.isEmpty()) {
        const QFileInfo info(FileName);
        dialog.setDirectory(info.absolutePath());
        dialog.selectFile(info.fileName());
    } else {
        dialog.setDirectory(InitialDir.isEmpty() ? QDir::currentPath() : InitialDir);
    }
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return false;
    FileName = chosen.first();
    const qsizetype selected = filters.indexOf(dialog.selectedNameFilter());
    if (selected >= 0)
        FilterIndex = static_cast<int>(selected) + 1;
    return true;
}
