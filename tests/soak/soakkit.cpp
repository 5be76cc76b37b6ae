#include "soakkit.h"

#include "lineassembler.h"
#include "mainform.h"
#include "memopane.h"
#include "nrcommthreads.h"
#include "ptypair.h"
#include "replayprocess.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QThreadPool>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

TProcessResources CurrentProcessResources() {
    TProcessResources resources;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile name(tasks.filePath(task + QStringLiteral("/comm")));
        resources.ThreadNames << (name.open(QIODevice::ReadOnly)
                                      ? QString::fromLocal8Bit(name.readAll()).trimmed()
                                      : QStringLiteral("?"));
    }
    resources.Threads = static_cast<int>(resources.ThreadNames.size());
    // The listing's own descriptor is open while the folder is read; it is in every
    // listing alike and drops out of the comparisons.
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char target[512];
        const ssize_t n = ::readlink(fds.filePath(fd).toLocal8Bit().constData(), target, sizeof target - 1);
        resources.DescriptorTargets << QString::fromLocal8Bit(target, n > 0 ? n : 0);
    }
    resources.Descriptors = static_cast<int>(resources.DescriptorTargets.size());
    return resources;
}

namespace {

QString Difference(const QStringList& before, const QStringList& after) {
    QMap<QString, int> change;
    for (const QString& item : before)
        --change[item];
    for (const QString& item : after)
        ++change[item];
    QStringList text;
    for (auto it = change.cbegin(); it != change.cend(); ++it)
        if (it.value() != 0)
            text << (it.value() > 0 ? QStringLiteral("+") : QString()) + QString::number(it.value()) + ' ' +
                        it.key();
    return text.join(QStringLiteral(", "));
}

} // namespace

QString DescriptorDifference(const TProcessResources& before, const TProcessResources& after) {
    // By target: a descriptor number may be reused for another file.
    return Difference(before.DescriptorTargets, after.DescriptorTargets);
}

QString ThreadDifference(const TProcessResources& before, const TProcessResources& after) {
    return Difference(before.ThreadNames, after.ThreadNames);
}

TProcessResources CountWithGpsPortClosed(TForm1& form) {
    form.nrComm1->SetActive(false);
    // Nobody joins a closed port's threads: they end on their own.
    const int aisThreads = form.nrComm2->Active() ? 2 : 0;
    WaitUntil([&] { return CommThreadsRunning() == aisThreads; }, std::chrono::seconds(10));
    // The count drops just before a thread's last instructions: wait until the process
    // shows the same figures twice in a row.
    TProcessResources counts = CurrentProcessResources();
    for (int i = 0; i < 100; ++i) {
        ProcessEventsFor(std::chrono::milliseconds(20));
        const TProcessResources again = CurrentProcessResources();
        const bool steady = again.Threads == counts.Threads && again.Descriptors == counts.Descriptors;
        counts = again;
        if (steady) break;
    }
    form.nrComm1->SetActive(true);
    form.nrComm1PortOpen(&form);
    return counts;
}

void KeepToolkitWorkerThreads() {
    QThreadPool::globalInstance()->setExpiryTimeout(-1);
}

int SoakSize(const char* variable, int shortDefault) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(variable, &ok);
    return ok && value > 0 ? value : shortDefault;
}

QByteArray RecordingOnTheWire(const QString& fileName) {
    QFile file(QDir(NmeaDataFolder()).filePath(fileName));
    if (!file.open(QIODevice::ReadOnly)) return {};
    QByteArray wire;
    for (QByteArray line : file.readAll().split('\n')) {
        if (line.endsWith('\r')) line.chop(1);
        if (line.isEmpty() || line.startsWith('#')) continue;
        wire += line + "\r\n";
    }
    return wire;
}

namespace {

QByteArray NumberedSentence(qint64 number) {
    const QByteArray body = "GPTXT,01,01,02,SOAK " + QByteArray::number(number).rightJustified(7, '0');
    std::uint8_t sum = 0;
    for (const char c : body)
        sum ^= static_cast<std::uint8_t>(c);
    return '$' + body + '*' + QByteArray::number(sum, 16).toUpper().rightJustified(2, '0') + "\r\n";
}

} // namespace

QByteArray NumberedSentences(int count) {
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += NumberedSentence(i);
    return out;
}

int GapsInCopy(const QByteArray& received, const QByteArray& sent, QString* where) {
    // How far ahead a stretch may resume: more than a terminal ever drops at once.
    constexpr qsizetype kWindow = 1 << 20;
    constexpr qsizetype kLongestProbe = 64;
    int gaps = 0;
    qsizetype r = 0;
    qsizetype s = 0;
    while (r < received.size()) {
        if (s < sent.size() && received[r] == sent[s]) {
            ++r;
            ++s;
            continue;
        }
        // Bytes left out: the next stretch starts further along, never back. Take the
        // longest beginning of the rest that occurs ahead (halving search: a beginning
        // that occurs has all its shorter beginnings occur too), at its first place.
        const QByteArrayView ahead = QByteArrayView(sent).sliced(s, std::min(kWindow, sent.size() - s));
        const auto placeOf = [&](qsizetype length) {
            return ahead.indexOf(QByteArrayView(received).sliced(r, length));
        };
        qsizetype low = 0;
        qsizetype high = std::min(kLongestProbe, received.size() - r);
        while (low < high) {
            const qsizetype middle = (low + high + 1) / 2;
            if (placeOf(middle) >= 0)
                low = middle;
            else
                high = middle - 1;
        }
        if (low == 0) {
            if (where)
                *where =
                    QStringLiteral("received byte %1 (\"%2\") is not found ahead of sent byte %3 (\"%4\")")
                        .arg(r)
                        .arg(QString::fromLatin1(received.mid(std::max<qsizetype>(0, r - 40), 80)))
                        .arg(s)
                        .arg(QString::fromLatin1(sent.mid(std::max<qsizetype>(0, s - 40), 80)));
            return -1;
        }
        ++gaps;
        s += placeOf(low);
    }
    // A repeated or moved sentence may still fit in as stretches: its number gives it away.
    // Only whole sentences count (a gap may join the two ends of different numbers).
    const qsizetype prefix = QByteArray("$GPTXT,01,01,02,").size();
    qint64 last = -1;
    for (qsizetype at = received.indexOf("SOAK "); at >= 0; at = received.indexOf("SOAK ", at + 5)) {
        bool digits = false;
        const qint64 number = received.mid(at + 5, 7).toLongLong(&digits);
        const QByteArray sentence = digits ? NumberedSentence(number) : QByteArray();
        if (!digits || at < prefix || received.mid(at - prefix, sentence.size()) != sentence) continue;
        if (number <= last) {
            if (where)
                *where = QStringLiteral("sentence %1 comes after sentence %2, at received byte %3 (\"%4\")")
                             .arg(number)
                             .arg(last)
                             .arg(at)
                             .arg(QString::fromLatin1(received.mid(std::max<qsizetype>(0, at - 60), 120)));
            return -1;
        }
        last = number;
    }
    return gaps;
}

QByteArray ReceivedBytes(const QByteArray& savedPane, const QByteArray& pending) {
    // A line holds no CR: each CR LF of the saved text is the CR that ended a line and the
    // LF the save put after it.
    QByteArray received = savedPane;
    received.replace("\r\n", "\r");
    return received + pending;
}

QByteArray RepeatedPrefix(const QByteArray& stream, std::uint64_t count) {
    QByteArray out;
    if (stream.isEmpty()) return out;
    out.reserve(static_cast<qsizetype>(count));
    while (static_cast<std::uint64_t>(out.size()) < count)
        out += stream.left(static_cast<qsizetype>(std::min<std::uint64_t>(
            static_cast<std::uint64_t>(stream.size()), count - static_cast<std::uint64_t>(out.size()))));
    return out;
}

QByteArray SavedPaneOf(const QByteArray& received) {
    const qsizetype lastCr = received.lastIndexOf('\r');
    QByteArray complete = received.left(lastCr + 1);
    return complete.replace("\r", "\r\n");
}

QByteArray PendingPartOf(const QByteArray& received) {
    return received.mid(received.lastIndexOf('\r') + 1);
}

namespace {

std::string FirstDifference(const QByteArray& got, const QByteArray& expected) {
    qsizetype n = 0;
    const qsizetype limit = std::min(got.size(), expected.size());
    while (n < limit && got[n] == expected[n])
        ++n;
    return "got " + std::to_string(got.size()) + " bytes, expected " + std::to_string(expected.size()) +
           "; first difference at byte " + std::to_string(n) + ": got \"" + got.mid(n, 40).toStdString() +
           "\", expected \"" + expected.mid(n, 40).toStdString() + "\"";
}

} // namespace

void ExpectEverythingShown(const char* channel, const TMemoPane* pane, const TLineAssembler& pending,
                           const QByteArray& sent) {
    const QByteArray saved = SavedPaneOf(sent);
    const QByteArray rest = PendingPartOf(sent);
    const qsizetype lines = sent.count('\r');
    EXPECT_TRUE(
        WaitUntil([&] { return pane->LineCount() >= lines && pending.PendingBytes().size() >= rest.size(); },
                  std::chrono::seconds(60)))
        << channel << ": " << pane->LineCount() << " lines shown, " << lines << " sent";
    const QByteArray shown = pane->SaveBytes();
    EXPECT_TRUE(shown == saved) << channel << ": " << FirstDifference(shown, saved);
    EXPECT_TRUE(pending.PendingBytes() == rest) << channel << ": the pending line differs";
}

// --- TPtyFeeder ---

TPtyFeeder::TPtyFeeder(TPtyPair& pty, QByteArray stream, std::uint64_t bytesPerSecond,
                       std::uint64_t closeAfter)
    : fPty(pty), fStream(std::move(stream)), fRate(std::max<std::uint64_t>(bytesPerSecond, 1)),
      fCloseAfter(closeAfter) {
    // Non-blocking, so that a port that stopped reading never keeps Stop() waiting.
    const int fd = fPty.MasterFd();
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    fThread = std::thread([this] { Run(); });
}

TPtyFeeder::~TPtyFeeder() {
    Stop();
}

void TPtyFeeder::Stop() {
    fStop.store(true, std::memory_order_release);
    if (fThread.joinable()) fThread.join();
}

void TPtyFeeder::Run() {
    using TClock = std::chrono::steady_clock;
    const auto start = TClock::now();
    const int fd = fPty.MasterFd();
    const auto size = static_cast<std::uint64_t>(fStream.size());
    std::uint64_t written = 0;
    while (!fStop.load(std::memory_order_acquire) && size > 0) {
        if (fCloseAfter != 0 && written >= fCloseAfter) {
            fPty.CloseMaster();
            fVanished.store(true, std::memory_order_release);
            return;
        }
        const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
        const auto due = static_cast<std::uint64_t>(seconds * static_cast<double>(fRate));
        if (due <= written) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        const std::uint64_t at = written % size;
        std::uint64_t count = std::min({due - written, size - at, std::uint64_t(4096)});
        if (fCloseAfter != 0) count = std::min(count, fCloseAfter - written);
        const ssize_t n = ::write(fd, fStream.constData() + at, static_cast<size_t>(count));
        if (n > 0) {
            written += static_cast<std::uint64_t>(n);
            fWritten.store(written, std::memory_order_release);
        } else if (n < 0 && errno == EAGAIN) {
            // The port is closed or behind: wait until the terminal takes bytes again.
            pollfd pfd{fd, POLLOUT, 0};
            ::poll(&pfd, 1, 10);
        } else if (n < 0 && errno != EINTR) {
            fError.store(errno, std::memory_order_release);
            return;
        }
    }
}
