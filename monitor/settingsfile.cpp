#include "settingsfile.h"

#include "nrcodepage.h"
#include "nrcomponent.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <unistd.h>

namespace {

// Longest value text a profile read returns.
constexpr int kMaxValueLength = 2047;

bool IsBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

QString TrimBlanks(const QString& s) {
    int first = 0;
    int last = s.size();
    while (first < last && IsBlank(s[first]))
        ++first;
    while (last > first && IsBlank(s[last - 1]))
        --last;
    return s.mid(first, last - first);
}

enum class TLineKind { lkOther, lkSection, lkKey };

struct TParsedLine {
    TLineKind kind = TLineKind::lkOther;
    QString name;
    QString value;
};

TParsedLine ParseLine(const QByteArray& raw) {
    TParsedLine result;
    const QString text = TrimBlanks(AnsiToUnicode(raw));
    if (text.isEmpty() || text[0] == u';' || text[0] == u'#') return result;
    if (text[0] == u'[') {
        const int close = text.indexOf(u']', 1);
        result.kind = TLineKind::lkSection;
        result.name = TrimBlanks(text.mid(1, close < 0 ? -1 : close - 1));
        return result;
    }
    const int eq = text.indexOf(u'=');
    if (eq <= 0) return result;
    result.name = TrimBlanks(text.left(eq));
    if (result.name.isEmpty()) return result;
    result.kind = TLineKind::lkKey;
    result.value = TrimBlanks(text.mid(eq + 1));
    return result;
}

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

int HexDigit(QChar c) {
    if (c >= u'0' && c <= u'9') return c.unicode() - u'0';
    if (c >= u'a' && c <= u'f') return c.unicode() - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c.unicode() - u'A' + 10;
    return -1;
}

} // namespace

QString SettingsFileNameFor(const QString& executablePath) {
    const int slash = executablePath.lastIndexOf(u'/');
    const int dot = executablePath.lastIndexOf(u'.');
    // Only a dot in the file name part starts an extension, never one in a folder name.
    if (dot > slash) return executablePath.left(dot) + QStringLiteral(".INI");
    return executablePath + QStringLiteral(".INI");
}

namespace {

// Whether the program's own folder may take its files: one the user can write (access()
// answers for the user the program runs as, root included), but never one of the package
// manager's, not even for root: a file left there would outlive the package.
bool ProgramFolderTakesFiles(const QString& folder) {
    const QString path = QDir::cleanPath(folder) + u'/';
    const bool system = (path.startsWith(QStringLiteral("/usr/")) && !path.startsWith(QStringLiteral("/usr/local/"))) ||
                        path.startsWith(QStringLiteral("/bin/")) || path.startsWith(QStringLiteral("/sbin/"));
    return !system && ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

QString UserConfigFolder() {
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg)) return xdg;
    return QDir::homePath() + QStringLiteral("/.config");
}

} // namespace

QString SettingsFileLocationFor(const QString& executablePath) {
    const QString beside = SettingsFileNameFor(executablePath);
    const QFileInfo besideInfo(beside);
    if (besideInfo.exists() || besideInfo.isSymLink() || ProgramFolderTakesFiles(besideInfo.absolutePath()))
        return beside;
    return UserConfigFolder() + QStringLiteral("/brisemer/brisemer.INI");
}

QString SaveFolderFor(const QString& executablePath) {
    const QString folder = QFileInfo(executablePath).absolutePath();
    return ProgramFolderTakesFiles(folder) ? folder : QDir::homePath();
}

std::optional<std::int32_t> TryStrToInt(const QString& text) {
    const int n = text.size();
    int i = 0;
    while (i < n && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    bool hex = false;
    if (i < n && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        hex = true;
        i += 2;
    }
    if (i >= n) return std::nullopt;

    std::uint64_t value = 0;
    // A hexadecimal number may use all 32 bits; a decimal one must fit the signed range.
    const std::uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    for (; i < n; ++i) {
        const int digit =
            hex ? HexDigit(text[i]) : (text[i] >= u'0' && text[i] <= u'9' ? text[i].unicode() - u'0' : -1);
        if (digit < 0) return std::nullopt;
        value = value * (hex ? 16 : 10) + static_cast<unsigned>(digit);
        if (value > limit) return std::nullopt;
    }
    std::uint32_t bits = static_cast<std::uint32_t>(value);
    if (negative) bits = 0u - bits;
    return static_cast<std::int32_t>(bits);
}

std::int32_t StrToIntDef(const QString& text, std::int32_t defaultValue) {
    return TryStrToInt(text).value_or(defaultValue);
}

TIniFile::TIniFile(const QString& fileName) : fFileName(fileName) {
    QFile file(fileName);
    if (!QFileInfo(fileName).isFile() || !file.open(QIODevice::ReadOnly)) return;
    const QByteArray data = file.readAll();
    for (qsizetype at = 0; at < data.size();) {
        const qsizetype feed = data.indexOf('\n', at);
        TLine line;
        if (feed < 0) {
            line.text = data.mid(at);
            at = data.size();
        } else {
            line.text = data.mid(at, feed - at);
            line.end = "\n";
            at = feed + 1;
            if (line.text.endsWith('\r')) {
                line.text.chop(1);
                line.end = "\r\n";
            }
        }
        fLines.append(line);
    }
}

void TIniFile::InsertLine(int at, const QByteArray& text) {
    // Only the file's last line can lack an end; a line after it needs one.
    if (at > 0 && fLines[at - 1].end.isEmpty()) fLines[at - 1].end = "\r\n";
    fLines.insert(at, TLine{text, "\r\n"});
}

TIniFile::TKeyPos TIniFile::Find(const QString& section, const QString& ident) const {
    TKeyPos pos;
    for (int i = 0; i < fLines.size(); ++i) {
        const TParsedLine parsed = ParseLine(fLines[i].text);
        if (pos.sectionLine < 0) {
            if (parsed.kind == TLineKind::lkSection && SameName(parsed.name, section)) {
                pos.sectionLine = i;
                pos.insertAt = i + 1;
            }
            continue;
        }
        if (parsed.kind == TLineKind::lkSection) break; // the end of the first section of that name
        if (!TrimBlanks(AnsiToUnicode(fLines[i].text)).isEmpty()) pos.insertAt = i + 1;
        if (parsed.kind == TLineKind::lkKey && SameName(parsed.name, ident)) {
            pos.keyLine = i;
            return pos;
        }
    }
    return pos;
}

bool TIniFile::SectionExists(const QString& section) const {
    return Find(section, QString()).sectionLine >= 0;
}

bool TIniFile::ValueExists(const QString& section, const QString& ident) const {
    return Find(section, ident).keyLine >= 0;
}

QString TIniFile::ReadString(const QString& section, const QString& ident,
                             const QString& defaultValue) const {
    const TKeyPos pos = Find(section, ident);
    if (pos.keyLine < 0) return defaultValue;
    return ParseLine(fLines[pos.keyLine].text).value.left(kMaxValueLength);
}

std::int32_t TIniFile::ReadInteger(const QString& section, const QString& ident,
                                   std::int32_t defaultValue) const {
    QString text = ReadString(section, ident, QString());
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) text = u'$' + text.mid(2);
    return StrToIntDef(text, defaultValue);
}

void TIniFile::WriteString(const QString& section, const QString& ident, const QString& value) {
    const TKeyPos pos = Find(section, ident);
    if (pos.keyLine >= 0) {
        // Keep the key's own spelling; only the value changes.
        const QString name = ParseLine(fLines[pos.keyLine].text).name;
        fLines[pos.keyLine] = TLine{UnicodeToAnsi(name + u'=' + value), "\r\n"};
    } else if (pos.sectionLine >= 0) {
        InsertLine(pos.insertAt, UnicodeToAnsi(ident + u'=' + value));
    } else {
        InsertLine(fLines.size(), UnicodeToAnsi(u'[' + section + u']'));
        InsertLine(fLines.size(), UnicodeToAnsi(ident + u'=' + value));
    }
}

void TIniFile::WriteInteger(const QString& section, const QString& ident, std::int32_t value) {
    WriteString(section, ident, QString::number(value));
}

void TIniFile::WriteUnsigned(const QString& section, const QString& ident, std::uint32_t value) {
    WriteString(section, ident, QString::number(value));
}

QByteArray TIniFile::Contents() const {
    QByteArray data;
    for (const TLine& line : fLines) {
        data += line.text;
        data += line.end;
    }
    return data;
}

void TIniFile::UpdateFile() {
    const QString fullName = QFileInfo(fFileName).absoluteFilePath();
    const QString failure = QStringLiteral("Impossible d'écrire dans %1").arg(fullName);
    const QFileInfo info(fullName);
    // A rename would replace a read-only file, and root may write one anyway: a file
    // without any write permission was marked so to keep it as it is.
    const QFile::Permissions anyWrite = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    if (info.exists() && (!info.isFile() || !info.isWritable() || !(info.permissions() & anyWrite)))
        throw ENrException(failure);
    QSaveFile file(fullName);
    // A file the user may write in a folder where no temporary file can be made (a
    // read-only folder, a shared one): written over in place rather than not at all.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) throw ENrException(failure);
    const QByteArray data = Contents();
    if (file.write(data) != data.size() || !file.commit()) throw ENrException(failure);
}
