// TProgramProbe: the instruments of brisemer-probe, the benchmark build of the program
// (bench/program.py drives it). The shipped brisemer has none of this.
//
// It watches the real windows from outside, through their public members and events, and
// keeps timestamps (CLOCK_MONOTONIC, nanoseconds: the clock Python's time.monotonic_ns
// reads) in memory:
//   - the main window's first paint (printed at once as "painted <ns>");
//   - every delivery of each channel (after the window's receive handler returned) with
//     the pane's line count then: when a line entered the pane;
//   - every paint of each pane's view with its line count: when a line was on screen;
//   - every status refresh of Timer1.
// Commands, one a line on standard input, answers on standard output:
//   dialog        clicks the GPS settings button and answers "dialog <click ns> <painted
//                 ns> <ports listed>" once the settings dialog has painted, then cancels it
//   dump DIR      saves both panes through their own save routine to DIR/gps.txt and
//                 DIR/ais.txt, writes the timestamps to DIR/probe.txt and answers
//                 "dumped <gps lines> <ais lines>"
//   analysis on|off  switches the link analysis of both channels on or off (the capture
//                 and the panes are not affected) and answers "analysis on|off"
//   quit          leaves the event loop (no confirmation box)
//
// Threads: user-interface thread only (the port components deliver there).
#pragma once

#include <QObject>
#include <cstdint>
#include <vector>

class TForm1;
class TForm3;
class TMemoPane;

class TProgramProbe : public QObject {
    Q_OBJECT
public:
    TProgramProbe(TForm1& mainForm, TForm3& settingsForm);
    ~TProgramProbe() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct TMark {
        std::int64_t At;
        std::int64_t Lines;
    };
    // The marks of one channel.
    struct TChannel {
        TMemoPane* Pane = nullptr;
        std::vector<TMark> Delivered;
        std::vector<TMark> Painted;
        bool InPaint = false;
    };

    void Run(const QByteArray& command);
    void OpenSettingsDialog();
    void Dump(const QString& folder);
    bool PaintAndMark(TChannel& channel, QObject* viewport, QEvent* event);

    TForm1& fMainForm;
    TForm3& fSettingsForm;
    TChannel fGps;
    TChannel fAis;
    std::vector<std::int64_t> fRefreshes;
    bool fMainPainted = false;
    // Set while the dialog command waits for the dialog's first paint.
    std::int64_t fDialogClicked = 0;
    bool fDialogPainted = false;
};
