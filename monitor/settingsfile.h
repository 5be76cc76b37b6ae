// The settings file: an INI profile read and written in place.
//
//   SettingsFileNameFor(exe)   the executable's path with its extension replaced by ".INI"
//   SettingsFileLocationFor    where the program keeps its settings file
//   SaveFolderFor              the folder the save dialogs start in
//   TryStrToInt / StrToIntDef  32-bit integers in decimal or hexadecimal ($, x, 0x)
//   TIniFile                   sections and keys of one profile file
//
// Profile rules: a section starts at a line "[name]"; a key line is "name=value"; names
// match without regard to letter case and blanks around names and values are not part of
// them; the first section and the first key of a name win. Lines whose first non-blank
// character is ';' or '#' are comments and never keys. Every line the program does not
// write is kept byte for byte, its line end too (CR LF, LF alone, or none after the last
// line); every line it writes ends with CR LF, and a last line without an end gets one
// when a line goes after it. Text is Windows-1252.
//
// TIniFile reads the file once, when it is built; writes change the copy in memory and
// UpdateFile() puts the whole profile on disk through a temporary file and a rename, so a
// crash never leaves half a file. A writable file in a folder where no file can be made
// is written over in place instead.
//
// Threads: a TIniFile is a plain value used by one thread at a time.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>
#include <optional>

QString SettingsFileNameFor(const QString& executablePath);

// The settings file of the program at executablePath: beside the executable
// (SettingsFileNameFor) when something of that name is there already or the executable's
// folder can be written (a build tree, a copy on a USB stick). An installed program, in a
// folder the user cannot write (or one of the system's under /usr, /bin or /sbin, whoever
// runs it), keeps it in $XDG_CONFIG_HOME/brisemer/brisemer.INI
// (~/.config/brisemer/ when the variable is unset or not an absolute path); that folder is
// made when the file is written.
QString SettingsFileLocationFor(const QString& executablePath);

// The executable's folder, or the user's home folder when the executable's folder cannot
// be written or is one of the system's.
QString SaveFolderFor(const QString& executablePath);

// Leading blanks, an optional sign, then "$", "x", "X", "0x" or "0X" and hexadecimal
// digits (up to 32 bits, two's complement), or decimal digits that fit a 32-bit signed
// integer. Anything else, including an empty text, fails.
std::optional<std::int32_t> TryStrToInt(const QString& text);
std::int32_t StrToIntDef(const QString& text, std::int32_t defaultValue);

class TIniFile {
public:
    // Reads the file; a missing, unreadable or non-regular file reads as empty.
    explicit TIniFile(const QString& fileName);

    QString FileName() const { return fFileName; }

    bool SectionExists(const QString& section) const;
    bool ValueExists(const QString& section, const QString& ident) const;

    // The value text (at most 2047 characters), or the default for a missing section or
    // key; an empty value reads as empty.
    QString ReadString(const QString& section, const QString& ident, const QString& defaultValue) const;
    // A value that is empty, missing or not an integer gives the default; "0x.." and
    // "0X.." are read as hexadecimal.
    std::int32_t ReadInteger(const QString& section, const QString& ident, std::int32_t defaultValue) const;

    // Replaces the key's value where it stands; a missing key goes to the end of its
    // section, a missing section to the end of the file.
    void WriteString(const QString& section, const QString& ident, const QString& value);
    void WriteInteger(const QString& section, const QString& ident, std::int32_t value);
    void WriteUnsigned(const QString& section, const QString& ident, std::uint32_t value);

    // Writes the profile to disk. Throws ENrException "Impossible d'écrire dans <file>"
    // when the file cannot be written (read-only, not a file, or missing in a folder
    // where no file can be made); the file on disk is then unchanged.
    void UpdateFile();

    // The profile as it would be written.
    QByteArray Contents() const;

private:
    struct TKeyPos {
        int sectionLine = -1; // index of the section header line, -1 when missing
        int keyLine = -1;     // index of the key line, -1 when missing
        int insertAt = -1;    // where a missing key goes: after the section's last non-blank line
    };

    struct TLine {
        QByteArray text; // without its line end
        QByteArray end;  // "\r\n", "\n", or empty for a last line without one
    };

    TKeyPos Find(const QString& section, const QString& ident) const;
    // A line the program writes, before the line at `at`.
    void InsertLine(int at, const QByteArray& text);

    QString fFileName;
    QList<TLine> fLines;
};
