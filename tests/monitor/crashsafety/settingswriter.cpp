// The child process of the crash-safety tests: writes the settings file the way the main
// window does when the user quits with Yes (the file is read, both channels' ten values
// are written from the port components, UpdateFile puts it on disk), over and over, until
// the test kills it.
//
//   settingswriter save <ini>                  every round moves the GPS port number on by
//                                              one and saves; prints "writing <port>" before
//                                              and "wrote <port>" after the file is written
//   settingswriter inplace <ini>               the same text, written over the old file in
//                                              place: what the file would be without the
//                                              temporary file and rename (the test's control)
//   settingswriter pane <ini> <txt> <lines>    a pane of <lines> received lines saved to
//                                              <txt>, then the settings saved, in turns;
//                                              prints "saving pane" and "saved pane" around
//                                              each pane save
//   settingswriter limited <ini> <bytes>       one save with files limited to <bytes> (the
//                                              kernel refuses to write further, as on a full
//                                              disk); prints the error, exits 3 on failure
//
// It never opens a serial port: the components only carry the values.
#include "memopane.h"
#include "monitorsettings.h"
#include "settingsfile.h"

#include <QApplication>
#include <QFile>
#include <csignal>
#include <cstdio>
#include <sys/resource.h>

namespace {

// One round of the quit's save: the next GPS port number, the same everything else.
QByteArray NextSettings(TIniFile& ini) {
    TnrComm gps, ais;
    ReadPortSettings(ini, kSectionGPS, kDefaultBaudGPS, &gps);
    ReadPortSettings(ini, kSectionAIS, kDefaultBaudAIS, &ais);
    gps.SetComPortNo(static_cast<std::uint16_t>(gps.ComPortNo() + 1));
    WritePortSettings(ini, kSectionGPS, &gps);
    WritePortSettings(ini, kSectionAIS, &ais);
    return QByteArray::number(gps.ComPortNo());
}

void Report(const QByteArray& line) {
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// "writing" and "wrote" frame the part of a round that touches the file, so that the test
// can aim its kill there rather than at the reading.
void SaveRound(const QString& ini) {
    TIniFile settings(ini);
    const QByteArray port = NextSettings(settings);
    Report("writing " + port);
    settings.UpdateFile();
    Report("wrote " + port);
}

void InPlaceRound(const QString& ini) {
    TIniFile settings(ini);
    const QByteArray port = NextSettings(settings);
    const QByteArray data = settings.Contents();
    Report("writing " + port);
    QFile file(ini);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::exit(2);
    for (qsizetype at = 0; at < data.size(); at += 65536)
        file.write(data.constData() + at, std::min<qsizetype>(65536, data.size() - at));
    file.close();
    Report("wrote " + port);
}

int Usage() {
    std::fputs(
        "usage: settingswriter save|inplace <ini> | pane <ini> <txt> <lines> | limited <ini> <bytes>\n",
        stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) return Usage();
    const QString mode = args[1];
    const QString ini = args[2];

    if (mode == QStringLiteral("save") && args.size() == 3) {
        for (;;)
            SaveRound(ini);
    }
    if (mode == QStringLiteral("inplace") && args.size() == 3) {
        for (;;)
            InPlaceRound(ini);
    }
    if (mode == QStringLiteral("pane") && args.size() == 5) {
        TMemoPane pane;
        const int lines = args[4].toInt();
        for (int i = 0; i < lines; ++i) {
            const QByteArray line =
                "\n$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,," + QByteArray::number(i);
            pane.AppendLine(line.constData(), static_cast<std::size_t>(line.size()));
        }
        for (;;) {
            QString reason;
            Report("saving pane");
            if (!pane.SaveToFile(args[3], &reason)) {
                Report("pane not saved: " + reason.toUtf8());
                return 1;
            }
            Report("saved pane");
            SaveRound(ini);
        }
    }
    if (mode == QStringLiteral("limited") && args.size() == 4) {
        // Past the limit write() fails with EFBIG instead of raising SIGXFSZ.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{args[3].toULongLong(), RLIM_INFINITY};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
        try {
            SaveRound(ini);
            return 0;
        } catch (const ENrException& e) {
            Report("failed: " + e.Message().toUtf8());
            return 3;
        }
    }
    return Usage();
}
