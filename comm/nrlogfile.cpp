#include "nrlogfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QSysInfo>
#include <QThread>

namespace {
[[noreturn]] void Abstract() { throw EAbstractError(QStringLiteral("Abstract Error")); }
} // namespace

TnrCustomLogFile::TnrCustomLogFile(QObject* AOwner) : TComponent(AOwner) {}

void TnrCustomLogFile::DoFatalError(std::uint32_t ErrorCode, std::uint32_t Detail, const QString& ErrorMsg) {
    bool raiseException = true;
    if (OnFatalError)
        OnFatalError(this, ErrorCode, Detail, ErrorMsg, raiseException);
    if (raiseException)
        throw ENrException(ErrorMsg);
}

void TnrCustomLogFile::Save() { Abstract(); }
void TnrCustomLogFile::Clear() { Abstract(); }
void TnrCustomLogFile::Add(const QString&) { Abstract(); }
void TnrCustomLogFile::AddSysInfo() { Abstract(); }
void TnrCustomLogFile::AddLog(TDetailLevel, const QString&) { Abstract(); }
void TnrCustomLogFile::AddFmt(const QString&, const TVarRecs&) { Abstract(); }
void TnrCustomLogFile::AddLogFmt(TDetailLevel, const QString&, const TVarRecs&) { Abstract(); }

TnrLogFile::TnrLogFile(QObject* AOwner)
    : TnrCustomLogFile(AOwner), fClock([] { return QDateTime::currentDateTime(); }) {}

TDetailLevel TnrLogFile::DetailLevel() const {
    std::lock_guard g(fLock);
    return fDetailLevel;
}

void TnrLogFile::SetDetailLevel(TDetailLevel value) {
    std::lock_guard g(fLock);
    fDetailLevel = value;
}

QString TnrLogFile::FileName() const {
    std::lock_guard g(fLock);
    return fFileName;
}

void TnrLogFile::SetFileName(const QString& value) {
    std::lock_guard g(fLock);
    fFileName = value;
}

void TnrLogFile::SetClock(std::function<QDateTime()> clock) {
    std::lock_guard g(fLock);
    fClock = std::move(clock);
}

QStringList TnrLogFile::Lines() const {
    std::lock_guard g(fLock);
    return fLines;
}

void TnrLogFile::Append(const QString& s) {
    std::lock_guard g(fLock);
    fLines.append(fClock().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")) + QLatin1Char(' ') + s);
}

void TnrLogFile::Save() {
    const QString name = FileName();
    const QStringList lines = Lines();
    QSaveFile file(name);
    if (name.isEmpty() || !file.open(QIODevice::WriteOnly)) {
        DoFatalError(1, 0, QStringLiteral("Cannot write log file \"%1\": %2").arg(name, file.errorString()));
        return;
    }
    for (const QString& line : lines)
        file.write(line.toUtf8() + '\n');
    if (!file.commit())
        DoFatalError(1, 0, QStringLiteral("Cannot write log file \"%1\": %2").arg(name, file.errorString()));
}

void TnrLogFile::Clear() {
    std::lock_guard g(fLock);
    fLines.clear();
}

void TnrLogFile::Add(const QString& s) { Append(s); }

void TnrLogFile::AddSysInfo() {
    Append(QStringLiteral("System: %1, kernel %2 %3").arg(QSysInfo::prettyProductName(), QSysInfo::kernelType(),
                                                          QSysInfo::kernelVersion()));
    Append(QStringLiteral("Program: %1, Qt %2, %3 CPU(s)")
               .arg(QCoreApplication::applicationFilePath(), QString::fromLatin1(qVersion()))
               .arg(QThread::idealThreadCount()));
}

void TnrLogFile::AddLog(TDetailLevel l, const QString& s) {
    if (l <= DetailLevel())
        Append(s);
}

void TnrLogFile::AddFmt(const QString& fmt, const TVarRecs& Args) { Append(Format(fmt, Args)); }

void TnrLogFile::AddLogFmt(TDetailLevel l, const QString& fmt, const TVarRecs& Args) {
    if (l <= DetailLevel())
        Append(Format(fmt, Args));
}
