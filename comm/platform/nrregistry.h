// TnrRegistry: a small file-backed store of named binary values under keys, shaped like
// the registry API the port component's stored configuration is written against.
//
// Linux has no registry, so every value is one file:
//
//   $XDG_CONFIG_HOME/serialcomm/registry/<root>/<key path>/<value name>
//
// ($XDG_CONFIG_HOME defaults to ~/.config when unset or not absolute). <root> is the
// root's name (HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE). Both roots live in the user's own
// folder: a desktop user can't write a system folder, and the library's values are
// per-user settings of a tool anyway. <key path> is the whole backslash-separated path in
// one folder name, <value name> one file name; both are case-folded (keys and values
// compare without case, as the registry's do) and escaped so that no name can reach
// outside its folder: every byte of the UTF-8 text other than a-z, 0-9, '_' and '-' is
// written %XX ("." and ".." can't appear, nor "/"). A name whose escaped form is too long
// for a file name is shortened and completed with a hash of the whole name. The key's
// default value (empty name) is the file "@".
//
// A value is written to a temporary file beside it and renamed over it, so a crash never
// leaves half a value and readers see the old or the new one. One file per value means a
// damaged file loses only its own value.
//
// Failures raise ERegistryException with the file and the operating system's reason.
//
// Threads: an object is used by one thread at a time; several objects (and processes)
// may use the same store at once, each write replacing a value as a whole.
#pragma once

#include "../nrcomponent.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

// Root keys, with the classic values of their handles.
enum HKEY : std::uint32_t { HKEY_CURRENT_USER = 0x80000001u, HKEY_LOCAL_MACHINE = 0x80000002u };

class ERegistryException : public ENrException {
public:
    using ENrException::ENrException;
};

class TnrRegistry {
public:
    explicit TnrRegistry(HKEY root = HKEY_CURRENT_USER);

    HKEY RootKey() const { return fRoot; }
    // Closes the current key. An unknown root raises at the next OpenKey.
    void SetRootKey(HKEY root);

    // Opens Key (a backslash-separated path under the root; empty is the root itself).
    // A missing key is created when CanCreate is true, else the result is false. Raises
    // when the key's folder can't be created or isn't a folder.
    bool OpenKey(const QString& Key, bool CanCreate);
    void CloseKey();
    bool HasCurrentKey() const { return !fKeyFolder.isEmpty(); }
    // The folder of the open key (empty when none is open).
    QString CurrentKeyFolder() const { return fKeyFolder; }

    bool ValueExists(const QString& Name) const;
    // The value's size in bytes, -1 when it doesn't exist.
    qint64 GetDataSize(const QString& Name) const;
    // Reads the whole value. Raises when no key is open or the value can't be read.
    QByteArray ReadBinaryData(const QString& Name) const;
    // Creates or replaces the value. Raises when no key is open or it can't be written.
    void WriteBinaryData(const QString& Name, const QByteArray& Data);

    // The store's folder: $XDG_CONFIG_HOME/serialcomm/registry.
    static QString StoreFolder();
    // The file name standing for a key path or a value name (see above).
    static QString KeyFileName(const QString& Key);
    static QString ValueFileName(const QString& Name);

private:
    QString ValueFile(const QString& Name) const;
    void RequireKey(const char* operation) const;

    HKEY fRoot;
    QString fKeyFolder;
    QString fKeyPath;
};
