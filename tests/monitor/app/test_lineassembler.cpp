// Received bytes into lines: only CR ends a line, everything else is kept, and a line may
// be split anywhere between deliveries.
#include "lineassembler.h"

#include <QByteArrayList>
#include <gtest/gtest.h>
#include <random>
#include <stdexcept>

namespace {

struct TCollected {
    QByteArrayList lines;
    TLineAssembler assembler;
    void Feed(const QByteArray& bytes) {
        assembler.Feed(
            reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()),
            [this](const char* p, std::size_t n) { lines.append(QByteArray(p, static_cast<qsizetype>(n))); });
    }
};

} // namespace

TEST(LineAssembler, LineSplitOverTwoDeliveriesKeepsTheLineFeedForTheNextLine) {
    TCollected c;
    c.Feed("$GPGGA,1");
    EXPECT_TRUE(c.lines.isEmpty());
    c.Feed(",2\r\n$GPRMC");
    EXPECT_EQ(c.lines, QByteArrayList{"$GPGGA,1,2"});
    EXPECT_EQ(c.assembler.PendingBytes(), QByteArray("\n$GPRMC"));
    c.Feed("");
    EXPECT_EQ(c.lines.size(), 1);
    c.Feed("\r");
    EXPECT_EQ(c.lines.last(), QByteArray("\n$GPRMC"));
    EXPECT_TRUE(c.assembler.PendingBytes().isEmpty());
}

TEST(LineAssembler, ConsecutiveCarriageReturnsGiveEmptyLines) {
    TCollected c;
    c.Feed("A\r\r");
    EXPECT_EQ(c.lines, (QByteArrayList{"A", ""}));
    c.Feed("\r");
    EXPECT_EQ(c.lines, (QByteArrayList{"A", "", ""}));
}

TEST(LineAssembler, EveryOtherByteIsKeptAsItIs) {
    TCollected c;
    const QByteArray garbage("\x00\x01\n\xE9\xFF\x81\x7F", 7);
    c.Feed(garbage + "\r");
    ASSERT_EQ(c.lines.size(), 1);
    EXPECT_EQ(c.lines[0], garbage);
    c.Feed("caf\xE9");
    EXPECT_EQ(c.assembler.PendingText(), QStringLiteral("café"));
}

TEST(LineAssembler, RandomSplitsGiveTheSameLinesAsOneDelivery) {
    std::mt19937 random(20240611);
    QByteArray stream;
    for (int i = 0; i < 20000; ++i) {
        const int r = static_cast<int>(random() % 40);
        stream.append(r == 0 ? '\r' : (r == 1 ? '\n' : static_cast<char>(random() % 256)));
    }
    const QByteArrayList expected = [&] {
        QByteArrayList parts = stream.split('\r');
        parts.removeLast(); // the tail after the last CR is still pending
        return parts;
    }();

    TCollected c;
    for (qsizetype at = 0; at < stream.size();) {
        const qsizetype n = std::min<qsizetype>(static_cast<qsizetype>(random() % 300), stream.size() - at);
        c.Feed(stream.mid(at, n));
        at += n;
    }
    EXPECT_EQ(c.lines, expected);
    EXPECT_EQ(c.assembler.PendingBytes(), stream.mid(stream.lastIndexOf('\r') + 1));
}

TEST(LineAssembler, ASinkThatThrowsNeitherLosesNorRepeatsTheNextLines) {
    TLineAssembler assembler;
    QByteArrayList lines;
    bool fail = true;
    auto sink = [&](const char* p, std::size_t n) {
        if (fail) throw std::runtime_error("sink failed");
        lines.append(QByteArray(p, static_cast<qsizetype>(n)));
    };
    const QByteArray first("half");
    assembler.Feed(reinterpret_cast<const std::uint8_t*>(first.constData()), 4, sink);
    const QByteArray second(" line\rnext");
    EXPECT_THROW(assembler.Feed(reinterpret_cast<const std::uint8_t*>(second.constData()), 10, sink),
                 std::runtime_error);
    fail = false;
    const QByteArray third("ok\r");
    assembler.Feed(reinterpret_cast<const std::uint8_t*>(third.constData()), 3, sink);
    EXPECT_EQ(lines, QByteArrayList{"ok"});
}
