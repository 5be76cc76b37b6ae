// TAnalysisWindow: "Analyse de la liaison", the health of both channels at a glance.
//
// A non-modal window with one tab per channel ("GPS", "AIS"). Each tab shows the channel's
// byte and line counts, a table of its sentence keys (sortable by any column; the "État"
// column carries ✔ or ✖ as well as its colour, so it reads without colour), the AIS
// figures, the diagnosis in plain words, and two buttons: "Remettre à zéro" starts that
// channel's analysis again, "Exporter…" writes its table as CSV.
//
// The figures are read from the channels' analyses at most twice a second, and only
// while the window is shown: a hidden window costs nothing.
//
// Threads: a window; user-interface thread only (the analyses live there too).
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QTabWidget;
class QTableWidget;
class QTimer;
class TReceiveTap;

class TAnalysisWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 500;

    TAnalysisWindow(TReceiveTap& gps, TReceiveTap& ais, QWidget* parent = nullptr);

    // Shows the window (raised if already shown) on the tab of a channel: 0 GPS, 1 AIS.
    void ShowChannel(int channel);
    // Reads the figures now (the timer does this while the window is shown).
    void Refresh();

    QTabWidget* Tabs() const { return fTabs; }
    QTableWidget* Table(int channel) const { return fChannels[channel].Table; }
    QLabel* Diagnosis(int channel) const { return fChannels[channel].Diagnosis; }
    QPushButton* ResetButton(int channel) const { return fChannels[channel].Reset; }
    QPushButton* ExportButton(int channel) const { return fChannels[channel].Export; }
    int Refreshes() const { return fRefreshes; }

    // Writes the channel's CSV table; false with the system's reason when it cannot.
    bool ExportTo(int channel, const QString& path, QString* reason);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct TChannelTab {
        TReceiveTap* Tap = nullptr;
        const char* Name = "";
        QLabel* Summary = nullptr;
        QTableWidget* Table = nullptr;
        QLabel* Ais = nullptr;
        QLabel* Diagnosis = nullptr;
        QPushButton* Reset = nullptr;
        QPushButton* Export = nullptr;
    };

    QWidget* MakeTab(TChannelTab& channel);
    void RefreshChannel(TChannelTab& channel);
    void AskExport(int channel);

    QTabWidget* fTabs;
    QTimer* fTimer;
    TChannelTab fChannels[2];
    int fRefreshes = 0;
};
