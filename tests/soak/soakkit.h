// What the soak tests share: the process's threads and descriptors, the soak sizes, the
// bytes a recording puts on the wire and what a pane then holds, and a feeder thread that
// writes a pseudo-terminal's master side at a steady rate.
//
// The sizes are short by default, so the tests fit in the normal test run; scripts/soak
// runs the same tests long by setting BRISEMER_SOAK_CYCLES and BRISEMER_SOAK_VANISHINGS.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <thread>

class TForm1;
class TLineAssembler;
class TMemoPane;
class TPtyPair;

// Threads and open descriptors of this process, from /proc/self.
struct TProcessResources {
    int Threads = 0;
    int Descriptors = 0;
    // What each descriptor refers to and each thread's name, to name a leaked one in a
    // failure message.
    QStringList DescriptorTargets;
    QStringList ThreadNames;
};
TProcessResources CurrentProcessResources();
// The descriptors gained and lost between two counts, by what they refer to
// ("+2 anon_inode:[eventfd]"); empty when they are alike.
QString DescriptorDifference(const TProcessResources& before, const TProcessResources& after);
// The same for the threads, by name.
QString ThreadDifference(const TProcessResources& before, const TProcessResources& after);

// The counts with the window's GPS port closed and its threads ended, then the port
// opened again as the start-up opens it. An open port's device keeps as many wake-up
// descriptors as calls were ever blocked in it at once: at most two for a port that only
// receives (the event wait and a read), reached with the first bytes. So counts taken
// with the GPS port closed and the AIS port open and receiving compare exactly.
TProcessResources CountWithGpsPortClosed(TForm1& form);

// The toolkit's worker pool keeps its threads from now on instead of ending them after
// 30 s idle, so that the thread count of a long soak shows only the threads it made.
void KeepToolkitWorkerThreads();

// The soak size in the environment variable, or shortDefault when it is unset or invalid.
int SoakSize(const char* variable, int shortDefault);

// A recording of the project's data folder as a device sends it: header lines ('#') and
// blank lines left out, every line ended by CR LF.
QByteArray RecordingOnTheWire(const QString& fileName);
// `count` sentences "$GPTXT,01,01,02,SOAK n*hh" with CR LF, numbered from 0: every
// stretch of a few dozen bytes occurs once, so a received copy can be placed in it.
QByteArray NumberedSentences(int count);
// How many gaps `received` has as a copy of `sent`: 0 when it is the start of `sent`, n
// when it is n + 1 stretches of `sent` in their order with bytes left out between them;
// -1 when a byte was altered, repeated or moved (for NumberedSentences, also when a
// sentence number repeats or goes back).
// `where` gets a description of the damage.
int GapsInCopy(const QByteArray& received, const QByteArray& sent, QString* where = nullptr);
// The bytes a pane and its pending line were given: each line and its CR, then the
// pending bytes.
QByteArray ReceivedBytes(const QByteArray& savedPane, const QByteArray& pending);
// The first `count` bytes of `stream` played over and over.
QByteArray RepeatedPrefix(const QByteArray& stream, std::uint64_t count);
// What a pane saves after receiving `received` from empty: every line a carriage return
// ended, followed by CR LF. The bytes after the last CR are still pending (PendingPart).
QByteArray SavedPaneOf(const QByteArray& received);
QByteArray PendingPartOf(const QByteArray& received);

// Expects the pane and the pending line of a channel to hold exactly `sent` (the pane was
// empty before it); waits for the port to catch up first.
void ExpectEverythingShown(const char* channel, const TMemoPane* pane, const TLineAssembler& pending,
                           const QByteArray& sent);

// Writes `stream` over and over to the master side of a pseudo-terminal, from a thread of
// its own, at about `bytesPerSecond`. With closeAfter, the feeder closes the master side
// once it has written that many bytes: the device vanishes in the middle of the flow.
//
// Threads: constructed, stopped and destroyed on one thread; the feeder thread alone
// writes to the master side until Stop() has joined it. Written() may be read anywhere.
class TPtyFeeder {
public:
    TPtyFeeder(TPtyPair& pty, QByteArray stream, std::uint64_t bytesPerSecond, std::uint64_t closeAfter = 0);
    ~TPtyFeeder();
    TPtyFeeder(const TPtyFeeder&) = delete;
    TPtyFeeder& operator=(const TPtyFeeder&) = delete;

    // Ends the thread and waits for it.
    void Stop();
    std::uint64_t Written() const { return fWritten.load(std::memory_order_acquire); }
    // The master side has been closed after closeAfter bytes.
    bool Vanished() const { return fVanished.load(std::memory_order_acquire); }
    // Every byte written so far (call after Stop() for the final figure).
    QByteArray Sent() const { return RepeatedPrefix(fStream, Written()); }
    // The last write error (errno), 0 when none.
    int Error() const { return fError.load(std::memory_order_acquire); }

private:
    void Run();

    TPtyPair& fPty;
    const QByteArray fStream;
    const std::uint64_t fRate;
    const std::uint64_t fCloseAfter;
    std::atomic<std::uint64_t> fWritten{0};
    std::atomic<bool> fStop{false};
    std::atomic<bool> fVanished{false};
    std::atomic<int> fError{0};
    std::thread fThread;
};
