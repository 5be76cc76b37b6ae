#include "nrregistry.h"

#include "../nrformat.h"
#include "nrerror.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Room for a file name (255 bytes on Linux file systems) with a margin for the
// temporary-file prefix.
constexpr qsizetype kLongestName = 200;
constexpr qsizetype kShortenedPrefix = 150;

QString RootFolderName(HKEY root) {
    switch (root) {
    case HKEY_CURRENT_USER:
        return QStringLiteral("HKEY_CURRENT_USER");
    case HKEY_LOCAL_MACHINE:
        return QStringLiteral("HKEY_LOCAL_MACHINE");
    }
    return {};
}

[[noreturn]] void Raise(const QString& what, const QString& path, int error) {
    throw ERegistryException(Format(QStringLiteral("%s (%s): %s"),
                                    {what, path, SysErrorMessage(static_cast<std::uint32_t>(error))}));
}

QString EscapeName(const QString& name) {
    const QByteArray utf8 = name.toCaseFolded().toUtf8();
    QString out;
    out.reserve(utf8.size());
    for (const char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '_' || b == '-')
            out += QLatin1Char(c);
        else
            out += QLatin1Char('%') + QString::number(b, 16).rightJustified(2, QLatin1Char('0')).toUpper();
    }
    if (out.size() > kLongestName) {
        // '~' never comes out of the escaping above, so a shortened name can't equal an
        // escaped one; the hash of the folded name keeps long names apart.
        const QByteArray hash = QCryptographicHash::hash(utf8, QCryptographicHash::Sha1).toHex();
        out = out.left(kShortenedPrefix) + QLatin1Char('~') + QString::fromLatin1(hash);
    }
    return out;
}

// Creates the folder and its missing parents (0700: these are the user's settings).
void MakeFolders(const QString& folder, const QString& key) {
    QString path;
    for (const QString& part : folder.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        path += QLatin1Char('/') + part;
        const QByteArray native = QFile::encodeName(path);
        struct stat st {};
        if (::stat(native.constData(), &st) == 0) {
            if (!S_ISDIR(st.st_mode))
                Raise(Format(QStringLiteral("Cannot create the registry key \"%s\""), {key}), path, ENOTDIR);
            continue;
        }
        if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
            Raise(Format(QStringLiteral("Cannot create the registry key \"%s\""), {key}), path, errno);
    }
}

} // namespace

TnrRegistry::TnrRegistry(HKEY root) : fRoot(root) {}

void TnrRegistry::SetRootKey(HKEY root) {
    CloseKey();
    fRoot = root;
}

QString TnrRegistry::StoreFolder() {
    QString config = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    if (config.isEmpty() || !QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/serialcomm/registry");
}

QString TnrRegistry::KeyFileName(const QString& Key) {
    // "A\\B\\", "\\A\\B" and "A\\\\B" all name the key A\B.
    const QStringList parts = Key.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    if (parts.isEmpty()) return QStringLiteral("@");
    return EscapeName(parts.join(QLatin1Char('\\')));
}

QString TnrRegistry::ValueFileName(const QString& Name) {
    return Name.isEmpty() ? QStringLiteral("@") : EscapeName(Name);
}

bool TnrRegistry::OpenKey(const QString& Key, bool CanCreate) {
    CloseKey();
    const QString rootName = RootFolderName(fRoot);
    if (rootName.isEmpty())
        throw ERegistryException(Format(QStringLiteral("Unknown registry root %x for the key \"%s\""),
                                        {std::uint32_t(fRoot), Key}));
    const QString folder = StoreFolder() + QLatin1Char('/') + rootName + QLatin1Char('/') + KeyFileName(Key);
    struct stat st {};
    if (::stat(QFile::encodeName(folder).constData(), &st) == 0) {
        if (!S_ISDIR(st.st_mode))
            Raise(Format(QStringLiteral("Cannot open the registry key \"%s\""), {Key}), folder, ENOTDIR);
    } else if (errno != ENOENT) {
        Raise(Format(QStringLiteral("Cannot open the registry key \"%s\""), {Key}), folder, errno);
    } else if (!CanCreate) {
        return false;
    } else {
        MakeFolders(folder, Key);
    }
    fKeyFolder = folder;
    fKeyPath = Key;
    return true;
}

void TnrRegistry::CloseKey() {
    fKeyFolder.clear();
    fKeyPath.clear();
}

void TnrRegistry::RequireKey(const char* operation) const {
    if (fKeyFolder.isEmpty())
        throw ERegistryException(Format(QStringLiteral("Cannot %s a registry value: no key is open"),
                                        {QString::fromLatin1(operation)}));
}

QString TnrRegistry::ValueFile(const QString& Name) const {
    return fKeyFolder + QLatin1Char('/') + ValueFileName(Name);
}

bool TnrRegistry::ValueExists(const QString& Name) const {
    if (fKeyFolder.isEmpty()) return false;
    struct stat st {};
    return ::stat(QFile::encodeName(ValueFile(Name)).constData(), &st) == 0;
}

qint64 TnrRegistry::GetDataSize(const QString& Name) const {
    if (fKeyFolder.isEmpty()) return -1;
    const QString file = ValueFile(Name);
    struct stat st {};
    if (::stat(QFile::encodeName(file).constData(), &st) != 0) {
        if (errno == ENOENT) return -1;
        Raise(Format(QStringLiteral("Cannot read the registry value \"%s\""), {Name}), file, errno);
    }
    if (!S_ISREG(st.st_mode))
        Raise(Format(QStringLiteral("Cannot read the registry value \"%s\""), {Name}), file, EISDIR);
    return static_cast<qint64>(st.st_size);
}

QByteArray TnrRegistry::ReadBinaryData(const QString& Name) const {
    RequireKey("read");
    const QString file = ValueFile(Name);
    const QString what = Format(QStringLiteral("Cannot read the registry value \"%s\""), {Name});
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) Raise(what, file, errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) Raise(what, file, errno);
    if (!S_ISREG(st.st_mode)) Raise(what, file, EISDIR);
    QByteArray data;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            Raise(what, file, errno);
        }
        if (n == 0) break;
        data.append(chunk, n);
    }
    return data;
}

void TnrRegistry::WriteBinaryData(const QString& Name, const QByteArray& Data) {
    RequireKey("write");
    const QString file = ValueFile(Name);
    const QString what = Format(QStringLiteral("Cannot write the registry value \"%s\""), {Name});
    // The temporary name starts with '.', which no escaped name does: a file left behind
    // by a crash is never taken for a value.
    QByteArray temp = QFile::encodeName(fKeyFolder + QStringLiteral("/.tmp-XXXXXX"));
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) Raise(what, file, errno);
    const auto fail = [&](int error) {
        ::close(fd);
        ::unlink(temp.constData());
        Raise(what, file, error);
    };
    qsizetype done = 0;
    while (done < Data.size()) {
        const ssize_t n = ::write(fd, Data.constData() + done, static_cast<size_t>(Data.size() - done));
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(errno);
        }
        done += n;
    }
    // On disk before the rename, so the new name never points at an empty file.
    if (::fsync(fd) != 0) fail(errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.constData());
        Raise(what, file, error);
    }
    if (::rename(temp.constData(), QFile::encodeName(file).constData()) != 0) {
        const int error = errno;
        ::unlink(temp.constData());
        Raise(what, file, error);
    }
}
