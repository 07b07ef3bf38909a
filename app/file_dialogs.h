#pragma once
// Thin open and save dialogs: FileName, Filter ("Text|mask|Text|mask"),
// FilterIndex (1-based) and Execute. Execute runs a QFileDialog, or the runner
// put in place by the tests.
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

class TFileDialog {
public:
    enum TKind { dkOpen, dkSave };

    virtual ~TFileDialog() = default;

    TKind Kind() const { return FKind; }
    // Shows the dialog; true when the user confirmed a file. FileName and
    // FilterIndex then hold the choice; on cancel they stay as they were.
    bool Execute(QWidget* parent = nullptr);

    QString FileName;
    QString Filter;
    int FilterIndex = 1;
    QString Title;
    // Where the dialog starts while FileName is empty (else the current folder).
    QString InitialDir;

    // The dialog's filter as Qt writes it, one entry per pair of Filter.
    QStringList QtFilters() const;

    // Stands in for the real dialog in every Execute while set (tests); it
    // returns what Execute returns and may change FileName and FilterIndex.
    using TRunner = std::function<bool(TFileDialog& dialog)>;
    static void SetRunner(TRunner runner);

protected:
    explicit TFileDialog(TKind kind) : FKind(kind) {}

private:
    bool RunQtDialog(QWidget* parent);

    TKind FKind;
};

class TOpenDialog : public TFileDialog {
public:
    TOpenDialog() : TFileDialog(dkOpen) {}
};

class TSaveDialog : public TFileDialog {
public:
    TSaveDialog() : TFileDialog(dkSave) {}
};
