#include "soakprobe.h"

#include "mainform.h"
#include "memopane.h"
#include "nrapplication.h"
#include "probeio.h"

#include <QCoreApplication>
#include <QFile>
#include <malloc.h>
#include <unistd.h>

namespace {

std::uint64_t ResidentKilobytes() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() < 2) return 0;
    return fields[1].toULongLong() * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)) / 1024;
}

// Bytes the allocator has handed out and not got back, arenas and mapped blocks together.
std::uint64_t HeapInUse() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#else
    return 0;
#endif
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace

TSoakProbe::TSoakProbe(TForm1& form) : fForm(form) {
    fClock.start();

    // Count what each channel delivers, then let the window handle it as always.
    auto count = [](TChannelCount& channel, TOnReceived handler) {
        return TOnReceived(
            [&channel, handler](QObject* Com, const std::uint8_t* Buffer, std::uint32_t Received) {
                channel.Kept += Received;
                channel.Received += Received;
                handler(Com, Buffer, Received);
            });
    };
    fForm.nrComm1->OnAfterReceive = count(fGps, fForm.nrComm1->OnAfterReceive);
    fForm.nrComm2->OnAfterReceive = count(fAis, fForm.nrComm2->OnAfterReceive);
    auto closed = [this](const char* name, TNotifyEvent handler) {
        return TNotifyEvent([this, name, handler](QObject* Sender) {
            Report(QByteArray("closed ") + name);
            handler(Sender);
        });
    };
    fForm.nrComm1->OnClose = closed("gps", fForm.nrComm1->OnClose);
    fForm.nrComm2->OnClose = closed("ais", fForm.nrComm2->OnClose);

    // An error box would stop an unattended run: report it instead.
    SetUserMessageHandler([this](TUserMessageKind, const QString& text, const QString&) {
        Report("error " + text.simplified().toUtf8());
    });

    connect(fForm.Timer1, &QTimer::timeout, this, [this] { Report("refresh " + QByteArray::number(Now())); });
    fSampler.setInterval(1000);
    fSampler.setTimerType(Qt::PreciseTimer);
    connect(&fSampler, &QTimer::timeout, this, &TSoakProbe::Sample);

    // The driver gone, nobody will ask for anything any more.
    new TProbeCommands([this](const QByteArray& line) { RunCommand(line); }, [this] { RunCommand("quit"); }, this);
}

void TSoakProbe::Started() {
    Report(QByteArray("started gps=") + (fForm.nrComm1->Active() ? "1" : "0") +
           " ais=" + (fForm.nrComm2->Active() ? "1" : "0"));
    Sample();
    fSampler.start();
}

void TSoakProbe::Report(const QByteArray& line) {
    ProbeSay(line);
}

void TSoakProbe::Sample() {
    Report(QByteArray("sample ") + QByteArray::number(Now()) +
           " rss_kb=" + QByteArray::number(ResidentKilobytes()) + " heap=" + QByteArray::number(HeapInUse()) +
           " gps_kept=" + QByteArray::number(fGps.Kept) +
           " gps_lines=" + QByteArray::number(fForm.Memo1->LineCount()) + " gps_received=" +
           QByteArray::number(fGps.Received) + " ais_kept=" + QByteArray::number(fAis.Kept) +
           " ais_lines=" + QByteArray::number(fForm.Memo2->LineCount()) +
           " ais_received=" + QByteArray::number(fAis.Received));
}

void TSoakProbe::RunCommand(const QByteArray& line) {
    const QList<QByteArray> words = line.split(' ');
    const QByteArray& command = words.front();
    if (command == "save" && words.size() == 3) {
        const qint64 start = Now();
        QString reason;
        if (!fForm.Memo1->SaveToFile(QString::fromLocal8Bit(words[1]), &reason) ||
            !fForm.Memo2->SaveToFile(QString::fromLocal8Bit(words[2]), &reason))
            Report("error save: " + reason.toUtf8());
        fForm.btnClearGPStxtClick(&fForm);
        fForm.btnClearAIStxtClick(&fForm);
        fGps.Kept = 0;
        fAis.Kept = 0;
        Report("saved " + QByteArray::number(start) + ' ' + QByteArray::number(Now()) +
               " heap=" + QByteArray::number(HeapInUse()));
    } else if (command == "pending" && words.size() == 3) {
        if (!WriteFile(QString::fromLocal8Bit(words[1]), fForm.PendingGPS().PendingBytes()) ||
            !WriteFile(QString::fromLocal8Bit(words[2]), fForm.PendingAIS().PendingBytes()))
            Report("error pending: cannot write");
        Report("pending");
    } else if (command == "quit") {
        fSampler.stop();
        fForm.nrComm1->SetActive(false);
        fForm.nrComm2->SetActive(false);
        Sample();
        Report("bye");
        // exit(), not quit(): quit() first asks the windows to close, and the main window
        // would ask its question.
        QCoreApplication::exit(0);
    } else {
        Report("error unknown command: " + line);
    }
}
