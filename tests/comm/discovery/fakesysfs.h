// A recorded sysfs tree for enumeration tests: devices below devices/, bound to a bus
// and a driver through the same links the kernel makes, and ttys in class/tty.
#pragma once

#include <QMap>
#include <QString>
#include <QTemporaryDir>

class TFakeSysfs {
public:
    TFakeSysfs();

    QString Root() const { return fDir.path(); }

    // A device directory at devices/<path> on this bus, bound to driver (none when
    // empty), with these attribute files. Returns its absolute path.
    QString AddDevice(const QString& path, const QString& bus, const QString& driver = {},
                      const QMap<QString, QString>& attributes = {});
    // A tty below the hardware device (an absolute path from AddDevice), or a virtual tty
    // (devices/virtual/tty/<name>) when hardware is empty. The uevent names the node.
    QString AddTty(const QString& name, const QString& hardware,
                   const QMap<QString, QString>& attributes = {});
    void SetActiveConsole(const QString& names);
    void WriteAttribute(const QString& directory, const QString& name, const QString& value);

private:
    void Link(const QString& link, const QString& target);
    QTemporaryDir fDir;
};
