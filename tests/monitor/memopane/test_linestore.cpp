// The line store on its own: bytes kept exactly across chunk boundaries, the side store
// for characters outside the code page, and edits in the middle of the block index
// checked against a plain list of strings.
#include "linestore.h"
#include "printers.h"

#include "nrcodepage.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

QByteArray PatternLine(int seed, int length) {
    QByteArray line(length, Qt::Uninitialized);
    for (int i = 0; i < length; ++i)
        line[i] = static_cast<char>((seed * 131 + i * 7) & 0xFF);
    return line;
}

void ExpectSameLines(const TLineStore& store, const QStringList& model) {
    ASSERT_EQ(store.Count(), model.size());
    for (qsizetype i = 0; i < model.size(); ++i) {
        ASSERT_EQ(store.Text(i), model.at(i)) << "line " << i;
        ASSERT_EQ(store.Length(i), model.at(i).size()) << "line " << i;
    }
}

} // namespace

TEST(LineStore, KeepsEveryByteOfEveryLine) {
    TLineStore store;
    store.Append("abc", 3);
    store.Append("", 0);
    const char withNul[] = {'\n', 'x', '\0', 'y', char(0xE9)};
    store.Append(withNul, sizeof withNul);
    ASSERT_EQ(store.Count(), 3);
    EXPECT_EQ(store.Text(0), QStringLiteral("abc"));
    EXPECT_EQ(store.Length(1), 0);
    EXPECT_EQ(store.SavedBytes(1), QByteArray());
    EXPECT_EQ(store.SavedBytes(2), QByteArray(withNul, sizeof withNul));
    EXPECT_EQ(store.Text(2), QString::fromUtf16(u"\nx\0y\u00E9", 5));
    EXPECT_EQ(store.Mid(2, 1, 3), QString::fromUtf16(u"x\0y", 3));
    EXPECT_EQ(store.Mid(2, 3, 100), QString::fromUtf16(u"y\u00E9", 2));
    EXPECT_EQ(store.TextSize(), 8u);
    // Out of range asks give nothing rather than reading past the index.
    EXPECT_EQ(store.Text(3), QString());
    EXPECT_EQ(store.Length(-1), 0);
}

TEST(LineStore, LinesAcrossChunksAndLongLinesStayIntact) {
    TLineStore store;
    QList<QByteArray> expected;
    // Short lines fill several chunks; long ones (a quarter chunk and more, beyond a whole
    // chunk) are mixed in so that every way of placing a line is used.
    const QList<int> longLengths = {300 * 1024, 1 << 20, (1 << 20) + 17, 3 << 20};
    int seed = 0;
    for (int round = 0; round < 4; ++round) {
        for (int i = 0; i < 20000; ++i) {
            expected.append(PatternLine(seed++, 40 + i % 60));
            store.Append(expected.back().constData(), static_cast<std::size_t>(expected.back().size()));
        }
        expected.append(PatternLine(seed++, longLengths[round]));
        store.Append(expected.back().constData(), static_cast<std::size_t>(expected.back().size()));
    }
    ASSERT_EQ(store.Count(), expected.size());
    std::uint64_t total = 0;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        const std::string_view bytes = store.Bytes(i);
        ASSERT_EQ(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())), expected.at(i))
            << "line " << i;
        total += static_cast<std::uint64_t>(expected.at(i).size());
    }
    EXPECT_EQ(store.TextSize(), total);
    EXPECT_EQ(store.LongestLine(), 3 << 20);
    // Chunks and index together stay close to the text itself.
    EXPECT_LT(store.AllocatedBytes(), total + total / 2);
}

TEST(LineStore, CharactersOutsideTheCodePageAreKeptAsTyped) {
    TLineStore store;
    const QString western =
        QString::fromUtf16(u"\u20AC caf\u00E9 \u0153"); // euro, é, œ: all in the code page
    const QString foreign = QString::fromUtf16(u"\u0142\u00F3d\u017A \U0001F600"); // ł, ź, an emoji: not
    store.Append(western);
    store.Append(foreign);
    EXPECT_TRUE(store.IsCodePageLine(0));
    EXPECT_FALSE(store.IsCodePageLine(1));
    EXPECT_EQ(store.Text(0), western);
    EXPECT_EQ(store.Text(1), foreign);
    EXPECT_EQ(store.SavedBytes(0), QByteArray("\x80 caf\xE9 \x9C"));
    // One '?' per character the code page lacks, the emoji's surrogate pair included.
    EXPECT_EQ(store.SavedBytes(1), QByteArray("?\xF3"
                                              "d? ?"));
    EXPECT_EQ(store.Mid(1, 1, 2), QStringLiteral("\u00F3d"));
    // The five bytes the code page leaves undefined survive a round trip through text.
    const char undefined[] = {char(0x81), char(0x8D), char(0x8F), char(0x90), char(0x9D)};
    store.Append(undefined, sizeof undefined);
    store.Replace(2, 1, {store.Text(2)});
    EXPECT_TRUE(store.IsCodePageLine(2));
    EXPECT_EQ(store.SavedBytes(2), QByteArray(undefined, sizeof undefined));
}

TEST(LineStore, EditsMatchAPlainListOfLines) {
    // Random appends and replacements, across block boundaries, with lines of both kinds;
    // the store must always read back exactly like the list.
    TLineStore store;
    QStringList model;
    QRandomGenerator random(20240611);
    auto randomLine = [&](int n) {
        QString line = QStringLiteral("L%1-").arg(n);
        if (random.bounded(5) == 0) line += QChar(0x0142); // a side-store line
        if (random.bounded(7) == 0) line.prepend(QLatin1Char('\n'));
        return line;
    };
    int serial = 0;
    for (int step = 0; step < 300; ++step) {
        const int kind = random.bounded(3);
        if (kind == 0 || model.isEmpty()) {
            const int count = random.bounded(1, 1500);
            for (int i = 0; i < count; ++i) {
                const QString line = randomLine(serial++);
                if (line.contains(QChar(0x0142))) {
                    store.Append(line);
                } else {
                    const QByteArray bytes = UnicodeToAnsi(line);
                    store.Append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
                }
                model.append(line);
            }
        } else {
            const qsizetype first = random.bounded(model.size() + 1);
            const qsizetype remove = random.bounded(std::min<qsizetype>(model.size() - first, 6000) + 1);
            QStringList added;
            const int addCount = random.bounded(kind == 1 ? 4 : 5000);
            for (int i = 0; i < addCount; ++i)
                added.append(randomLine(serial++));
            store.Replace(first, remove, added);
            model = model.mid(0, first) + added + model.mid(first + remove);
        }
        ASSERT_EQ(store.Count(), model.size()) << "step " << step;
    }
    ExpectSameLines(store, model);
    std::uint64_t total = 0;
    for (const QString& line : model)
        total += static_cast<std::uint64_t>(line.size());
    EXPECT_EQ(store.TextSize(), total);

    store.Clear();
    EXPECT_EQ(store.Count(), 0);
    EXPECT_EQ(store.TextSize(), 0u);
    EXPECT_EQ(store.LongestLine(), 0);
    store.Append("after", 5);
    ExpectSameLines(store, {QStringLiteral("after")});
}

TEST(LineStore, RemovingEverythingAndStartingAgain) {
    TLineStore store;
    for (int i = 0; i < 10000; ++i)
        store.Append(QStringLiteral("x%1").arg(i));
    store.Replace(0, store.Count(), {});
    EXPECT_EQ(store.Count(), 0);
    store.Replace(0, 0, {QStringLiteral("a"), QStringLiteral("b")});
    store.Append("c", 1);
    ExpectSameLines(store, {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
}
