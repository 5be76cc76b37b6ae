#include "fuzzsupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

void FuzzFail(const char* file, int line, const char* condition, const QString& what) {
    std::fprintf(stderr, "\n%s:%d: property failed: %s\n  %s\n", file, line, condition, qPrintable(what));
    std::fflush(stderr);
    std::abort();
}

QString FuzzScratchFolder() {
    static const std::unique_ptr<QTemporaryDir> folder = [] {
        const QString base =
            QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        auto dir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/brisemer-fuzz-XXXXXX"));
        if (!dir->isValid()) {
            std::fprintf(stderr, "no scratch folder in %s: %s\n", qPrintable(base),
                         qPrintable(dir->errorString()));
            std::abort();
        }
        return dir;
    }();
    return folder->path();
}

void StartFuzzApplication(int* argc, char*** argv, TFuzzApp kind) {
    // Kept for the life of the process: libFuzzer leaves through exit(), not through main.
    if (kind == TFuzzApp::faWidgets) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        new QApplication(*argc, *argv);
    } else {
        new QCoreApplication(*argc, *argv);
    }
}

void FuzzWriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(path), qPrintable(f.errorString()));
        std::abort();
    }
}

QByteArray FuzzReadFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s: %s\n", qPrintable(path), qPrintable(f.errorString()));
        std::abort();
    }
    return f.readAll();
}

QString Escaped(const QByteArray& bytes) {
    QString out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '\\')
            out += QStringLiteral("\\\\");
        else if (b == '\r')
            out += QStringLiteral("\\r");
        else if (b == '\n')
            out += QStringLiteral("\\n");
        else if (b < 0x20 || b >= 0x7F)
            out += QStringLiteral("\\x%1").arg(b, 2, 16, QLatin1Char('0'));
        else
            out += QLatin1Char(static_cast<char>(b));
    }
    return out;
}
