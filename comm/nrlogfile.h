// Log sinks of the serial library.
//
// TnrCustomLogFile is the interface a port or data processor writes to when one is
// attached (property Log). Lines carry a detail level; formatting is the sink's business.
// TnrLogFile is the project's concrete sink: it keeps time-stamped lines in memory,
// filters them by DetailLevel and writes them to FileName on Save.
//
// Threads: a port writes from whichever thread runs the operation (open and close on the
// caller's thread, line errors where port events are processed), so TnrLogFile takes a
// lock around its lines. Its properties are set on the user-interface thread.
#pragma once

#include "nrcomponent.h"
#include "nrformat.h"
#include "nrmethod.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <mutex>

enum TDetailLevel : std::uint8_t { dlSimple = 0, dlDetail = 1, dlDebug = 2 };

using TOnFatalErrorEvent =
    TMethod<void(QObject* Sender, std::uint32_t ErrorCode, std::uint32_t Detail, const QString& ErrorMsg,
                 bool& RaiseException)>;

// Raised when an operation that a concrete sink must supply is called on the abstract one.
class EAbstractError : public ENrException {
public:
    using ENrException::ENrException;
};

class TnrCustomLogFile : public TComponent {
    Q_OBJECT
public:
    explicit TnrCustomLogFile(QObject* AOwner = nullptr);

    TOnFatalErrorEvent OnFatalError;

    // Reports the sink's own failure: OnFatalError first, then an exception unless the
    // handler cleared RaiseException.
    virtual void DoFatalError(std::uint32_t ErrorCode, std::uint32_t Detail, const QString& ErrorMsg);

    virtual void Save();
    virtual void Clear();
    virtual void Add(const QString& s);
    virtual void AddSysInfo();
    virtual void AddLog(TDetailLevel l, const QString& s);
    virtual void AddFmt(const QString& Format, const TVarRecs& Args);
    virtual void AddLogFmt(TDetailLevel l, const QString& Format, const TVarRecs& Args);
};

class TnrLogFile : public TnrCustomLogFile {
    Q_OBJECT
public:
    explicit TnrLogFile(QObject* AOwner = nullptr);

    // Lines above this level are dropped. Default dlDebug: everything is kept.
    TDetailLevel DetailLevel() const;
    void SetDetailLevel(TDetailLevel value);

    // Where Save writes; empty means Save only reports a failure.
    QString FileName() const;
    void SetFileName(const QString& value);

    // The clock that stamps lines; replaceable so tests get fixed stamps.
    void SetClock(std::function<QDateTime()> clock);

    QStringList Lines() const;

    void Save() override;
    void Clear() override;
    void Add(const QString& s) override;
    void AddSysInfo() override;
    void AddLog(TDetailLevel l, const QString& s) override;
    void AddFmt(const QString& Format, const TVarRecs& Args) override;
    void AddLogFmt(TDetailLevel l, const QString& Format, const TVarRecs& Args) override;

private:
    void Append(const QString& s);

    mutable std::mutex fLock;
    QStringList fLines;
    TDetailLevel fDetailLevel = dlDebug;
    QString fFileName;
    std::function<QDateTime()> fClock;
};
