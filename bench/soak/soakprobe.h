// TSoakProbe: the instruments of the flood soak, attached to the real main window of a
// soak build of the program (brisemer-soak). It reports on standard output and takes
// commands on standard input, one line each, so that a driver script can run the program
// for a long time, keep its panes from holding gigabytes and check what it shows.
//
// Reports (flushed at once; times are milliseconds since the probe started):
//   started gps=A ais=B             start-up has run; A, B: 1 when the port is open
//   refresh T                       the status refresh ran (Timer1)
//   sample T rss_kb=R heap=H gps_kept=K gps_lines=L gps_received=N ais_kept=.. ais_lines=.. ais_received=..
//                                   every second: resident memory, heap bytes in use (0
//                                   when the allocator does not tell), bytes received
//                                   since the pane was last emptied, lines in the pane,
//                                   bytes received in all
//   saved T0 T1 heap=H              reply to save: the save ran from T0 to T1; heap after
//   pending                         reply to pending
//   error TEXT                      an error box the program would have shown
//   closed gps|ais                  the channel's port closed (its OnClose ran)
// Commands:
//   save GPSFILE AISFILE            saves both panes as the save buttons do, then empties
//                                   them as the clear buttons do, in one go: no line can
//                                   arrive in between
//   pending GPSFILE AISFILE         writes each channel's pending line
//   quit                            closes both ports and ends the program (no question)
//
// Threads: user-interface thread only, like the window it watches.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>

class TForm1;

class TSoakProbe : public QObject {
    Q_OBJECT
public:
    explicit TSoakProbe(TForm1& form);

    // Call once the window has been shown (its start-up has run).
    void Started();

private:
    struct TChannelCount {
        std::uint64_t Kept = 0;
        std::uint64_t Received = 0;
    };

    void Report(const QByteArray& line);
    void Sample();
    void RunCommand(const QByteArray& line);
    qint64 Now() const { return fClock.elapsed(); }

    TForm1& fForm;
    QElapsedTimer fClock;
    QTimer fSampler;
    TChannelCount fGps;
    TChannelCount fAis;
};
