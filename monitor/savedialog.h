// The save dialog of a pane: "Text files" (*.txt), a question before an existing file is
// replaced, and the ".txt" rule: whatever extension the user types is replaced by ".txt"
// (a name without one gets it appended).
//
// The overwrite question is about the file that will really be written: typing
// capture.log asks about an existing capture.txt, not about capture.log, so the change of
// extension never replaces a file silently. Answering No keeps the dialog open.
//
// The dialog remembers the name chosen last and offers it again.
//
// Threads: user-interface thread only.
#pragma once

#include <QFileDialog>
#include <QString>

// The file name with its extension (from the last "." of the file name part on) replaced,
// or the extension appended when there is none.
QString ChangeFileExt(const QString& fileName, const QString& extension);

class TTextSaveDialog : public QFileDialog {
    Q_OBJECT
public:
    explicit TTextSaveDialog(QWidget* parent);

    // The name chosen last, as the user typed it (before the ".txt" rule); empty at first.
    QString FileName() const { return fFileName; }

    // Shows the dialog modally, starting in initialDir with the last name offered. Returns
    // the file to write (with ".txt"), or an empty text when the user cancelled.
    QString Execute(const QString& initialDir);

    // The file the chosen name leads to.
    static QString TargetFor(const QString& chosen) { return ChangeFileExt(chosen, QStringLiteral(".txt")); }

public slots:
    void accept() override;

private:
    QString fFileName;
};
