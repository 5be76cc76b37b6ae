#include "savedialog.h"

#include <QFileInfo>
#include <QMessageBox>

QString ChangeFileExt(const QString& fileName, const QString& extension) {
    const int slash = fileName.lastIndexOf(u'/');
    const int dot = fileName.lastIndexOf(u'.');
    if (dot > slash) return fileName.left(dot) + extension;
    return fileName + extension;
}

TTextSaveDialog::TTextSaveDialog(QWidget* parent) : QFileDialog(parent) {
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    setNameFilter(QStringLiteral("Text files (*.txt)"));
    // The toolkit's own question would be about the typed name; accept() asks about the
    // file that will be written. The toolkit's dialog is used so that accept() runs.
    setOptions(QFileDialog::DontConfirmOverwrite | QFileDialog::DontUseNativeDialog);
    setSizeGripEnabled(true);
}

QString TTextSaveDialog::Execute(const QString& initialDir) {
    if (fFileName.isEmpty()) {
        setDirectory(initialDir);
        selectFile(QString());
    } else {
        const QFileInfo last(fFileName);
        setDirectory(last.absolutePath());
        selectFile(last.fileName());
    }
    if (exec() != QDialog::Accepted) return QString();
    const QStringList files = selectedFiles();
    if (files.isEmpty()) return QString();
    fFileName = files.first();
    return TargetFor(fFileName);
}

void TTextSaveDialog::accept() {
    const QStringList files = selectedFiles();
    // A folder name opens the folder; the toolkit handles that.
    if (files.size() == 1 && !files.first().isEmpty() && !QFileInfo(files.first()).isDir()) {
        const QFileInfo target(TargetFor(files.first()));
        if (target.exists()) {
            const QString question =
                QFileDialog::tr("%1 already exists.\nDo you want to replace it?").arg(target.fileName());
            const auto answer = QMessageBox::warning(this, windowTitle(), question,
                                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
            if (answer != QMessageBox::Yes) return;
        }
    }
    QFileDialog::accept();
}
