// Fuzz target: the settings file, read into the two port components and written back.
//
// The input is an existing settings file (any bytes) and a few writes of the fuzzer's
// choosing, followed by what the program writes when it quits (the ten values of both
// channels, from components that read the same file). Properties:
//   - integers read as the profile rules say (leading blanks, sign, $/x/0x hexadecimal,
//     32-bit range, otherwise the default), checked against a reading of their own here;
//   - every written value reads back equal, from memory and from the file on disk;
//   - every line the writes do not concern is kept byte for byte and in order, its line end
//     too (a last line without one gets CR LF when a line goes after it); only the written
//     keys change and only missing keys and sections are added;
//   - a file whose lines all ended with CR LF still has only such lines, and the file on
//     disk holds exactly what Contents() said;
//   - the components read back what they wrote (a baud rate above the signed 32-bit range
//     is written as it is and reads back as the default), and writing the same values
//     again changes no byte.
#include "fuzzsupport.h"
#include "monitorsettings.h"
#include "nrcodepage.h"

#include <QByteArrayList>
#include <QRegularExpression>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

const QString kKeys[] = {QStringLiteral("ComNb"), QStringLiteral("BaudRate"), QStringLiteral("DataBits"),
                         QStringLiteral("StopBits"), QStringLiteral("Parity")};

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// --- the integer reading, worked out on its own ---

std::optional<std::int32_t> ReferenceInteger(QString text) {
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) text = u'$' + text.mid(2);
    static const QRegularExpression form(
        QStringLiteral("^[ \\t]*([+-]?)(?:(\\$|x|X|0x|0X)([0-9A-Fa-f]+)|([0-9]+))$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch()) return std::nullopt;
    const bool negative = m.captured(1) == QStringLiteral("-");
    const bool hex = m.capturedLength(2) > 0;
    QString digits = hex ? m.captured(3) : m.captured(4);
    while (digits.size() > 1 && digits[0] == u'0')
        digits.remove(0, 1);
    if (digits.size() > (hex ? 8 : 10)) return std::nullopt;
    const unsigned long long value = std::strtoull(digits.toLatin1().constData(), nullptr, hex ? 16 : 10);
    if (hex) {
        const auto bits = static_cast<std::uint32_t>(negative ? 0ull - value : value);
        return static_cast<std::int32_t>(bits);
    }
    if (value > (negative ? 2147483648ull : 2147483647ull)) return std::nullopt;
    return static_cast<std::int32_t>(negative ? -static_cast<long long>(value)
                                              : static_cast<long long>(value));
}

// --- lines as the profile rules see them ---

enum class TKind { tkOther, tkSection, tkKey };
struct TLine {
    TKind kind = TKind::tkOther;
    QString name;
};

QString TrimBlanks(QString s) {
    while (!s.isEmpty() && (s.front() == u' ' || s.front() == u'\t'))
        s.remove(0, 1);
    while (!s.isEmpty() && (s.back() == u' ' || s.back() == u'\t'))
        s.chop(1);
    return s;
}

// A line without its line end.
QByteArray LineText(QByteArray raw) {
    if (raw.endsWith('\n')) {
        raw.chop(1);
        if (raw.endsWith('\r')) raw.chop(1);
    }
    return raw;
}

TLine Classify(const QByteArray& raw) {
    const QString text = TrimBlanks(AnsiToUnicode(LineText(raw)));
    if (text.isEmpty() || text[0] == u';' || text[0] == u'#') return {};
    if (text[0] == u'[') {
        const qsizetype close = text.indexOf(u']');
        return {TKind::tkSection, TrimBlanks(close < 0 ? text.mid(1) : text.mid(1, close - 1))};
    }
    const qsizetype eq = text.indexOf(u'=');
    const QString name = eq > 0 ? TrimBlanks(text.left(eq)) : QString();
    if (name.isEmpty()) return {};
    return {TKind::tkKey, name};
}

// The lines with their line ends; the last may have none.
QByteArrayList SplitLines(const QByteArray& data) {
    QByteArrayList lines;
    for (qsizetype at = 0; at < data.size();) {
        const qsizetype feed = data.indexOf('\n', at);
        const qsizetype next = feed < 0 ? data.size() : feed + 1;
        lines << data.mid(at, next - at);
        at = next;
    }
    return lines;
}

bool OnlyCrLf(const QByteArray& data) {
    for (qsizetype i = data.indexOf('\n'); i >= 0; i = data.indexOf('\n', i + 1))
        if (i == 0 || data[i - 1] != '\r') return false;
    return data.isEmpty() || data.endsWith("\r\n");
}

struct TWrite {
    QString section;
    QString ident;
    QString value;
};

bool Written(const QList<TWrite>& writes, const QString& section, const QString& ident) {
    for (const TWrite& w : writes)
        if (SameName(w.section, section) && (ident.isNull() || SameName(w.ident, ident))) return true;
    return false;
}

// The lines with the written keys of each written section taken out (in the first section
// of that name, the one reads and writes use), and with the headers of sections that the
// writes added. What is left must be the same before and after writing.
QByteArrayList Untouched(const QByteArrayList& lines, const QList<TWrite>& writes,
                         const QStringList& addedSections) {
    QByteArrayList kept;
    QStringList seen;
    QString current;
    bool inWritten = false;
    for (const QByteArray& raw : lines) {
        const TLine line = Classify(raw);
        if (line.kind == TKind::tkSection) {
            const bool first = std::none_of(seen.begin(), seen.end(),
                                            [&](const QString& s) { return SameName(s, line.name); });
            seen << line.name;
            current = line.name;
            inWritten = first && Written(writes, line.name, QString());
            const bool added = std::any_of(addedSections.begin(), addedSections.end(),
                                           [&](const QString& s) { return SameName(s, line.name); });
            if (inWritten && added) continue;
        } else if (line.kind == TKind::tkKey && inWritten && Written(writes, current, line.name)) {
            continue;
        }
        kept << raw;
    }
    return kept;
}

// --- names and values the fuzzer writes ---

QString FuzzText(FuzzedDataProvider& fdp, int maxLength, bool name) {
    QByteArray bytes;
    const int n = fdp.ConsumeIntegralInRange(name ? 1 : 0, maxLength);
    for (int i = 0; i < n; ++i) {
        auto b = fdp.ConsumeIntegral<std::uint8_t>();
        // Line ends never; brackets, '=' and comment marks would make a name something else.
        if (b == '\r' || b == '\n' || (name && (b == '[' || b == ']' || b == '=' || b == ';' || b == '#')))
            b = 'a';
        bytes += static_cast<char>(b);
    }
    QString text = TrimBlanks(AnsiToUnicode(bytes));
    if (name && text.isEmpty()) text = QStringLiteral("n");
    return text;
}

QString FuzzSection(FuzzedDataProvider& fdp) {
    switch (fdp.ConsumeIntegralInRange(0, 4)) {
    case 0:
        return kSectionGPS;
    case 1:
        return QStringLiteral("comport ais");
    case 2:
        return QStringLiteral("Display");
    default:
        return FuzzText(fdp, 12, true);
    }
}

QString FuzzIdent(FuzzedDataProvider& fdp) {
    if (fdp.ConsumeBool()) return kKeys[fdp.ConsumeIntegralInRange(0, 4)];
    return FuzzText(fdp, 12, true);
}

QString FuzzValue(FuzzedDataProvider& fdp, TIniFile& ini, TWrite& w) {
    switch (fdp.ConsumeIntegralInRange(0, 2)) {
    case 0: {
        const auto v = fdp.ConsumeIntegral<std::int32_t>();
        ini.WriteInteger(w.section, w.ident, v);
        return QString::number(v);
    }
    case 1: {
        const auto v = fdp.ConsumeIntegral<std::uint32_t>();
        ini.WriteUnsigned(w.section, w.ident, v);
        return QString::number(v);
    }
    default: {
        const QString v = FuzzText(fdp, 40, false);
        ini.WriteString(w.section, w.ident, v);
        return v;
    }
    }
}

void RecordWrite(QList<TWrite>& writes, const TWrite& w) {
    for (TWrite& old : writes)
        if (SameName(old.section, w.section) && SameName(old.ident, w.ident)) {
            old.value = w.value;
            return;
        }
    writes << w;
}

void CheckIntegers(const TIniFile& ini) {
    for (const QString& section : {kSectionGPS, kSectionAIS})
        for (const QString& key : kKeys) {
            const QString text = ini.ReadString(section, key, QString());
            FUZZ_CHECK(text.size() <= 2047, QStringLiteral("a value of %1 characters").arg(text.size()));
            const std::int32_t read = ini.ReadInteger(section, key, -12345);
            const std::int32_t expected = ReferenceInteger(text).value_or(-12345);
            FUZZ_CHECK(read == expected, QStringLiteral("'%1' read as %2, expected %3")
                                             .arg(Escaped(UnicodeToAnsi(text)))
                                             .arg(read)
                                             .arg(expected));
        }
}

struct TPortValues {
    std::uint16_t port;
    std::uint32_t baud;
    std::uint8_t byteSize;
    TStopBits stopBits;
    TParity parity;
    bool operator==(const TPortValues&) const = default;
};

TPortValues ValuesOf(const TnrComm& com) {
    return {com.ComPortNo(), com.BaudRate(), com.ByteSize(), com.StopBits(), com.Parity()};
}

QString Describe(const TPortValues& v) {
    return QStringLiteral("port %1, %2 baud, %3 bits, stop %4, parity %5")
        .arg(v.port)
        .arg(v.baud)
        .arg(v.byteSize)
        .arg(static_cast<int>(v.stopBits))
        .arg(static_cast<int>(v.parity));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    StartFuzzApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const QString path = FuzzScratchFolder() + QStringLiteral("/brisemer.INI");
    FuzzedDataProvider fdp(data, size);
    const int writeCount = fdp.ConsumeIntegralInRange(0, 8);
    const bool programWrites = fdp.ConsumeIntegralInRange(0, 3) != 0;
    // The writes are chosen from the end of the input, so the file's bytes are its front:
    // plain settings files make good seeds. Pick them before the file is cut off.
    const std::size_t reserved = 64 * static_cast<std::size_t>(writeCount);
    const std::size_t fileSize = fdp.remaining_bytes() > reserved ? fdp.remaining_bytes() - reserved : 0;
    const QByteArray original = QByteArray::fromStdString(fdp.ConsumeBytesAsString(fileSize));
    FuzzWriteFile(path, original);

    const TIniFile before(path);
    TIniFile ini(path);
    CheckIntegers(ini);
    TnrComm gps, ais;
    ReadPortSettings(ini, kSectionGPS, kDefaultBaudGPS, &gps);
    ReadPortSettings(ini, kSectionAIS, kDefaultBaudAIS, &ais);

    QList<TWrite> writes;
    for (int i = 0; i < writeCount; ++i) {
        TWrite w{FuzzSection(fdp), FuzzIdent(fdp), QString()};
        w.value = FuzzValue(fdp, ini, w);
        RecordWrite(writes, w);
    }
    if (programWrites) {
        WritePortSettings(ini, kSectionGPS, &gps);
        WritePortSettings(ini, kSectionAIS, &ais);
        const TPortValues values[] = {ValuesOf(gps), ValuesOf(ais)};
        for (int c = 0; c < 2; ++c) {
            const QString section = c == 0 ? kSectionGPS : kSectionAIS;
            const TPortValues& v = values[c];
            RecordWrite(writes, {section, kKeys[0], QString::number(v.port)});
            RecordWrite(writes, {section, kKeys[1], QString::number(v.baud)});
            RecordWrite(writes, {section, kKeys[2], QString::number(v.byteSize)});
            RecordWrite(writes,
                        {section, kKeys[3], v.stopBits == sbOne ? QStringLiteral("1") : QStringLiteral("2")});
            RecordWrite(writes, {section, kKeys[4], QString::number(static_cast<int>(v.parity))});
        }
    }

    // Every written value reads back from memory.
    for (const TWrite& w : writes)
        FUZZ_CHECK(ini.ReadString(w.section, w.ident, QStringLiteral("<none>")) == w.value.left(2047),
                   QStringLiteral("[%1] %2 reads '%3' after writing '%4'")
                       .arg(w.section, w.ident, ini.ReadString(w.section, w.ident, QStringLiteral("<none>")),
                            w.value));

    const QByteArray contents = ini.Contents();
    if (OnlyCrLf(original))
        FUZZ_CHECK(OnlyCrLf(contents), QStringLiteral("a line without CR LF in a file of CR LF lines"));

    // Only the written keys change; only missing keys and sections are added.
    QStringList addedSections;
    int addedLines = 0;
    for (int i = 0; i < writes.size(); ++i) {
        if (!before.ValueExists(writes[i].section, writes[i].ident)) ++addedLines;
        const bool newSection = !before.SectionExists(writes[i].section);
        const bool counted = std::any_of(addedSections.begin(), addedSections.end(),
                                         [&](const QString& s) { return SameName(s, writes[i].section); });
        if (newSection && !counted) {
            addedSections << writes[i].section;
            ++addedLines;
        }
    }
    const QByteArrayList oldLines = SplitLines(original);
    const QByteArrayList newLines = SplitLines(contents);
    FUZZ_CHECK(newLines.size() == oldLines.size() + addedLines, QStringLiteral("%1 lines became %2, %3 added")
                                                                    .arg(oldLines.size())
                                                                    .arg(newLines.size())
                                                                    .arg(addedLines));
    QByteArrayList keptBefore = Untouched(oldLines, writes, addedSections);
    const QByteArrayList keptAfter = Untouched(newLines, writes, addedSections);
    // The old last line without a line end gets one when a line now follows it.
    if (!keptBefore.isEmpty() && !keptBefore.last().endsWith('\n') && keptAfter.size() == keptBefore.size() &&
        keptAfter.last() == keptBefore.last() + "\r\n")
        keptBefore.last() += "\r\n";
    FUZZ_CHECK(keptBefore == keptAfter,
               QStringLiteral("other lines changed:\n  %1\n  %2")
                   .arg(Escaped(keptBefore.join('|')), Escaped(keptAfter.join('|'))));

    // On disk, and read again.
    ini.UpdateFile();
    FUZZ_CHECK(FuzzReadFile(path) == contents, QStringLiteral("the file differs from Contents()"));
    const TIniFile again(path);
    FUZZ_CHECK(again.Contents() == contents, QStringLiteral("reading the written file changes it"));
    for (const TWrite& w : writes)
        FUZZ_CHECK(again.ReadString(w.section, w.ident, QStringLiteral("<none>")) == w.value.left(2047),
                   QStringLiteral("[%1] %2 reads back '%3'")
                       .arg(w.section, w.ident, again.ReadString(w.section, w.ident, QString())));
    CheckIntegers(again);

    if (programWrites) {
        TnrComm gps2, ais2;
        ReadPortSettings(again, kSectionGPS, kDefaultBaudGPS, &gps2);
        ReadPortSettings(again, kSectionAIS, kDefaultBaudAIS, &ais2);
        TPortValues expectGps = ValuesOf(gps), expectAis = ValuesOf(ais);
        if (expectGps.baud > 2147483647u) expectGps.baud = kDefaultBaudGPS;
        if (expectAis.baud > 2147483647u) expectAis.baud = kDefaultBaudAIS;
        FUZZ_CHECK(ValuesOf(gps2) == expectGps, QStringLiteral("GPS read back %1, wrote %2")
                                                    .arg(Describe(ValuesOf(gps2)), Describe(ValuesOf(gps))));
        FUZZ_CHECK(ValuesOf(ais2) == expectAis, QStringLiteral("AIS read back %1, wrote %2")
                                                    .arg(Describe(ValuesOf(ais2)), Describe(ValuesOf(ais))));
        if (expectGps == ValuesOf(gps) && expectAis == ValuesOf(ais)) {
            TIniFile third(path);
            WritePortSettings(third, kSectionGPS, &gps2);
            WritePortSettings(third, kSectionAIS, &ais2);
            FUZZ_CHECK(third.Contents() == contents,
                       QStringLiteral("writing the same values again moved something"));
        }
    }
    return 0;
}
