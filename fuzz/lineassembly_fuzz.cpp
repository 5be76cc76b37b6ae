// Fuzz target: received bytes -> pane lines, the road of a channel's receive handler.
//
// The input is a byte stream cut into deliveries at points the fuzzer picks. The bytes go
// through TLineAssembler into a text pane (TMemoPane, which keeps them in its TLineStore),
// as the main window does. Properties:
//   - every CR ends exactly one line, and no line holds a CR;
//   - the lines and the pending bytes, joined, are the input without its CRs;
//   - each line shows as the Windows-1252 characters of its bytes and maps back to the
//     same bytes; the pane saves each line followed by CR LF, byte for byte.
// Then the fuzzer edits a line store the way the pane's editing does (replace ranges by
// typed text, append, clear) and the store is compared with a plain list of strings.
#include "fuzzsupport.h"
#include "lineassembler.h"
#include "linestore.h"
#include "memopane.h"
#include "nrcodepage.h"

#include <QByteArrayList>
#include <QStringList>
#include <algorithm>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

// Enough lines to fill and split the store's index blocks, few enough to compare the
// whole store after every step.
constexpr qsizetype kMaxLines = 12000;

// Every byte maps to its own character and back; checked once, the per-line checks rely
// on it.
void CheckCodePageIsABijection() {
    QString seen;
    for (int b = 0; b < 256; ++b) {
        const QChar ch = AnsiToChar(static_cast<std::uint8_t>(b));
        FUZZ_CHECK(CharToAnsi(ch) == b, QStringLiteral("byte %1 does not come back").arg(b));
        FUZZ_CHECK(!seen.contains(ch), QStringLiteral("byte %1 shares its character").arg(b));
        seen += ch;
    }
}

QString Show(const QString& s) {
    QString out;
    for (const QChar c : s)
        out += c.unicode() >= 0x20 && c.unicode() < 0x7F
                   ? QString(c)
                   : QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    return out;
}

void CheckAssembly(FuzzedDataProvider& fdp) {
    const std::size_t streamSize = fdp.ConsumeIntegralInRange<std::size_t>(0, fdp.remaining_bytes());
    // Cut points come from the end of the input, the stream from its front.
    std::vector<std::size_t> cuts;
    while (cuts.size() < 64 && fdp.remaining_bytes() > streamSize)
        cuts.push_back(fdp.ConsumeIntegralInRange<std::size_t>(0, 64));
    const std::vector<std::uint8_t> stream = fdp.ConsumeBytes<std::uint8_t>(streamSize);

    TLineAssembler assembler;
    // One pane for the process: building a widget costs far more than a run. Emptied first,
    // as the user's "Effacer" does.
    static TMemoPane* const shared = new TMemoPane;
    TMemoPane& pane = *shared;
    pane.Clear();
    QByteArrayList lines;
    std::size_t at = 0;
    std::size_t cut = 0;
    auto sink = [&](const char* bytes, std::size_t n) {
        FUZZ_CHECK(std::find(bytes, bytes + n, '\r') == bytes + n, QStringLiteral("a line holds a CR"));
        lines.append(QByteArray(bytes, static_cast<qsizetype>(n)));
        pane.AppendLine(bytes, n);
    };
    while (at < stream.size()) {
        // A cut of 0 is a delivery of no byte, which must change nothing.
        std::size_t n = cut < cuts.size() ? cuts[cut++] : stream.size() - at;
        n = std::min(n, stream.size() - at);
        const qsizetype before = lines.size();
        const QByteArray pendingBefore = assembler.PendingBytes();
        assembler.Feed(stream.data() + at, n, sink);
        if (n == 0)
            FUZZ_CHECK(lines.size() == before && assembler.PendingBytes() == pendingBefore,
                       QStringLiteral("an empty delivery changed something"));
        at += n;
    }

    const QByteArray input(reinterpret_cast<const char*>(stream.data()),
                           static_cast<qsizetype>(stream.size()));
    FUZZ_CHECK(lines.size() == input.count('\r'),
               QStringLiteral("%1 lines for %2 CRs").arg(lines.size()).arg(input.count('\r')));
    QByteArray withoutCr = input;
    withoutCr.replace("\r", "");
    const QByteArray joined = lines.join(QByteArray()) + assembler.PendingBytes();
    FUZZ_CHECK(joined == withoutCr, QStringLiteral("lines + pending = %1, input without CRs = %2")
                                        .arg(Escaped(joined), Escaped(withoutCr)));
    FUZZ_CHECK(assembler.PendingText() == AnsiToUnicode(assembler.PendingBytes()),
               QStringLiteral("pending text is not the code page's"));
    FUZZ_CHECK(!assembler.PendingBytes().contains('\r'), QStringLiteral("the pending line holds a CR"));

    FUZZ_CHECK(pane.LineCount() == lines.size(),
               QStringLiteral("pane has %1 lines, %2 expected").arg(pane.LineCount()).arg(lines.size()));
    QByteArray saved;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString shown = pane.Line(i);
        FUZZ_CHECK(shown.size() == lines[i].size(), QStringLiteral("line %1 changed length").arg(i));
        for (qsizetype k = 0; k < shown.size(); ++k)
            FUZZ_CHECK(shown[k] == AnsiToChar(static_cast<std::uint8_t>(lines[i][k])),
                       QStringLiteral("line %1 column %2 is not the code page's character").arg(i).arg(k));
        FUZZ_CHECK(UnicodeToAnsi(shown) == lines[i], QStringLiteral("line %1 does not map back").arg(i));
        saved += lines[i] + "\r\n";
    }
    FUZZ_CHECK(pane.SaveBytes() == saved,
               QStringLiteral("saved pane differs: %1").arg(Escaped(pane.SaveBytes())));
}

// Typed text: mostly code-page characters, sometimes ones the code page lacks.
QString TypedText(FuzzedDataProvider& fdp) {
    QString text;
    const int n = fdp.ConsumeIntegralInRange(0, 12);
    for (int i = 0; i < n; ++i) {
        switch (fdp.ConsumeIntegralInRange(0, 3)) {
        case 0:
            text += QChar(static_cast<char16_t>(0x4E00 + fdp.ConsumeIntegral<std::uint8_t>()));
            break;
        case 1:
            text += QChar(static_cast<char16_t>(0x2000 + fdp.ConsumeIntegral<std::uint8_t>()));
            break;
        default:
            text += AnsiToChar(fdp.ConsumeIntegral<std::uint8_t>());
            break;
        }
    }
    return text;
}

bool InCodePage(const QString& s) {
    for (const QChar c : s)
        if (AnsiToChar(CharToAnsi(c)) != c) return false;
    return true;
}

// A line of the model: its text, and the bytes and storage kind the store must give for it
// (worked out once, when the line is made).
struct TModelLine {
    QString text;
    QByteArray saved;
    bool codePage = true;
};
using TModel = QList<TModelLine>;

TModelLine ModelLine(const QString& text) {
    return {text, UnicodeToAnsi(text), InCodePage(text)};
}

void CheckLine(const TLineStore& store, const TModel& model, qsizetype i, bool whole) {
    const TModelLine& expected = model[i];
    FUZZ_CHECK(store.Length(i) == expected.text.size(), QStringLiteral("line %1 length").arg(i));
    FUZZ_CHECK(store.IsCodePageLine(i) == expected.codePage, QStringLiteral("line %1 storage kind").arg(i));
    FUZZ_CHECK(store.SavedBytes(i) == expected.saved, QStringLiteral("line %1 saved bytes").arg(i));
    if (expected.codePage) {
        const std::string_view bytes = store.Bytes(i);
        FUZZ_CHECK(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())) == expected.saved,
                   QStringLiteral("line %1 raw bytes").arg(i));
    }
    // The text of a long line costs a walk over every character: at the end only.
    if (whole || expected.text.size() <= 4096) {
        const QString text = store.Text(i);
        FUZZ_CHECK(
            text == expected.text,
            QStringLiteral("line %1 is '%2', expected '%3'").arg(i).arg(Show(text), Show(expected.text)));
    }
}

// Every line when `whole` or the store is small; otherwise the lines around the index's
// block boundaries, around the last edit and a spread of others (all of them are compared
// at the end of the input).
void CompareStore(const TLineStore& store, const TModel& model, qsizetype longest, qsizetype edited,
                  qsizetype editedEnd, bool whole, FuzzedDataProvider& fdp) {
    FUZZ_CHECK(store.Count() == model.size(),
               QStringLiteral("store has %1 lines, model %2").arg(store.Count()).arg(model.size()));
    std::uint64_t size = 0;
    for (const TModelLine& line : model)
        size += static_cast<std::uint64_t>(line.text.size());
    FUZZ_CHECK(store.TextSize() == size,
               QStringLiteral("text size %1, expected %2").arg(store.TextSize()).arg(size));
    FUZZ_CHECK(store.LongestLine() == longest,
               QStringLiteral("longest line %1, expected %2").arg(store.LongestLine()).arg(longest));
    const qsizetype n = model.size();
    if (whole || n <= 600) {
        for (qsizetype i = 0; i < n; ++i)
            CheckLine(store, model, i, whole);
    } else {
        auto around = [&](qsizetype at) {
            for (qsizetype i = std::max<qsizetype>(0, at - 3); i < std::min(n, at + 4); ++i)
                CheckLine(store, model, i, false);
        };
        around(0);
        around(n - 1);
        around(edited);
        around(editedEnd);
        for (qsizetype boundary = 4096; boundary < n; boundary += 4096)
            around(boundary);
        for (qsizetype i = 0; i < n; i += n / 97 + 1)
            CheckLine(store, model, i, false);
    }
    // A few slices, as the view asks for them while painting.
    for (int k = 0; k < 4 && !model.isEmpty(); ++k) {
        const qsizetype line = fdp.ConsumeIntegralInRange<qsizetype>(0, model.size() - 1);
        const QString& text = model[line].text;
        const qsizetype from = fdp.ConsumeIntegralInRange<qsizetype>(0, text.size() + 2);
        const qsizetype count =
            fdp.ConsumeIntegralInRange<qsizetype>(-1, std::min<qsizetype>(text.size() + 2, 300));
        const QString expected = count <= 0 ? QString() : text.mid(from, count);
        FUZZ_CHECK(store.Mid(line, from, count) == expected,
                   QStringLiteral("Mid(%1, %2, %3)").arg(line).arg(from).arg(count));
    }
    FUZZ_CHECK(store.Text(model.size()).isEmpty() && store.Length(-1) == 0, QStringLiteral("out of range"));
}

void CheckStoreEdits(FuzzedDataProvider& fdp) {
    TLineStore store;
    TModel model;
    qsizetype longest = 0;
    bool longLine = false;
    auto seen = [&](const QString& s) { longest = std::max(longest, s.size()); };
    qsizetype edited = 0;
    qsizetype editedEnd = 0;
    const int steps = fdp.ConsumeIntegralInRange(0, 24);
    for (int step = 0; step < steps && fdp.remaining_bytes() > 0; ++step) {
        switch (fdp.ConsumeIntegralInRange(0, 5)) {
        case 0: { // received lines in bulk: crosses the index's block boundaries
            const int count = fdp.ConsumeIntegralInRange(1, 9000);
            if (model.size() + count > kMaxLines) break;
            const QByteArray bytes(fdp.ConsumeIntegralInRange(0, 3),
                                   static_cast<char>(fdp.ConsumeIntegral<std::uint8_t>()));
            edited = model.size();
            const TModelLine line = ModelLine(AnsiToUnicode(bytes));
            for (int i = 0; i < count; ++i) {
                store.Append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
                model.append(line);
            }
            editedEnd = model.size();
            seen(AnsiToUnicode(bytes));
            break;
        }
        case 1: { // one long received line, in a chunk of its own (one per input: they are slow)
            if (longLine) break;
            longLine = true;
            const QByteArray bytes(fdp.ConsumeIntegralInRange(0, 300000), 'L');
            store.Append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
            model.append(ModelLine(AnsiToUnicode(bytes)));
            seen(model.last().text);
            break;
        }
        case 2: {
            const QString text = TypedText(fdp);
            store.Append(text);
            model.append(ModelLine(text));
            seen(text);
            break;
        }
        case 3:
        case 4: { // an edit: replace a range by typed lines
            const qsizetype first = fdp.ConsumeIntegralInRange<qsizetype>(-2, model.size() + 2);
            const qsizetype remove = fdp.ConsumeIntegralInRange<qsizetype>(-2, model.size() + 2);
            QStringList lines;
            const int added = fdp.ConsumeIntegralInRange(0, fdp.ConsumeBool() ? 9000 : 4);
            if (model.size() + added > kMaxLines) break;
            const QString text = TypedText(fdp);
            for (int i = 0; i < added; ++i)
                lines.append(i % 2 ? text : QString());
            for (const QString& line : std::as_const(lines))
                seen(line);
            store.Replace(first, remove, lines);
            const qsizetype at = std::clamp<qsizetype>(first, 0, model.size());
            const qsizetype n = std::clamp<qsizetype>(remove, 0, model.size() - at);
            TModel inserted;
            const TModelLine typed = ModelLine(text);
            for (const QString& line : std::as_const(lines))
                inserted.append(line.isEmpty() ? TModelLine{} : typed);
            model = model.mid(0, at) + inserted + model.mid(at + n);
            edited = at;
            editedEnd = at + lines.size();
            break;
        }
        case 5:
            store.Clear();
            model.clear();
            longest = 0;
            break;
        }
        CompareStore(store, model, longest, edited, editedEnd, false, fdp);
    }
    CompareStore(store, model, longest, edited, editedEnd, true, fdp);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    StartFuzzApplication(argc, argv, TFuzzApp::faWidgets);
    CheckCodePageIsABijection();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider fdp(data, size);
    // One byte picks the part; the assembly is the main one.
    if (fdp.ConsumeIntegral<std::uint8_t>() < 192)
        CheckAssembly(fdp);
    else
        CheckStoreEdits(fdp);
    return 0;
}
