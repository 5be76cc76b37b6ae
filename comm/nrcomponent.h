// The component model shared by the serial library, the indicators and the application.
//
//   TComponent            a QObject with an owner (its QObject parent), which destroys it;
//                         a loading state; free notification of linked components.
//   TFreeNotifications    the free-notification bookkeeping on its own, for widgets
//                         that cannot derive from TComponent (they derive from QWidget).
//   ENrException          the library's general exception: a message in UTF-8.
//
// Properties are accessor pairs (`BaudRate()` / `SetBaudRate(v)`); a setter may do work.
// Events are public TMethod members (nrmethod.h) called only when assigned.
//
// Loading: an owner that restores a component's stored properties calls BeginLoading(),
// sets the properties, then Loaded(). While loading, setters only record values whose
// effect needs the whole component (Active); Loaded() applies them.
//
// Free notification: a component that links to another asks FreeNotification(other);
// when `other` is destroyed, Notification(other, opRemove) runs and clears the link.
// The notice arrives from QObject's destructor, so the removed object is only a pointer
// to compare with: never call into it from Notification.
//
// Threads: a component belongs to the thread that created it (normally the user-interface
// thread); only what a class's header says otherwise may be used from other threads.
#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <functional>
#include <stdexcept>

enum class TOperation { opInsert, opRemove };

class ENrException : public std::runtime_error {
public:
    explicit ENrException(const QString& message);
    QString Message() const { return QString::fromUtf8(what()); }
};

// Sends a callback when one of the watched objects is destroyed. Watching the same
// object twice registers one notice.
class TFreeNotifications {
public:
    using TRemoved = std::function<void(QObject*)>;

    TFreeNotifications(QObject* watcher, TRemoved removed);
    ~TFreeNotifications();
    TFreeNotifications(const TFreeNotifications&) = delete;
    TFreeNotifications& operator=(const TFreeNotifications&) = delete;

    void Request(QObject* watched);
    void Remove(QObject* watched);
    bool IsWatching(QObject* watched) const { return fConnections.contains(watched); }

private:
    QObject* fWatcher;
    TRemoved fRemoved;
    QHash<QObject*, QMetaObject::Connection> fConnections;
};

class TComponent : public QObject {
    Q_OBJECT
public:
    explicit TComponent(QObject* AOwner = nullptr);
    ~TComponent() override;

    QObject* Owner() const { return parent(); }

    QString Name() const { return objectName(); }
    void SetName(const QString& value) { setObjectName(value); }

    bool IsLoading() const { return fLoading; }
    void BeginLoading() { fLoading = true; }
    // Ends the loading state; descendants apply what they recorded, after calling this.
    virtual void Loaded();

    void FreeNotification(QObject* AComponent);
    void RemoveFreeNotification(QObject* AComponent);

protected:
    virtual void Notification(QObject* AComponent, TOperation Operation);

private:
    bool fLoading = false;
    TFreeNotifications fFreeNotifications;
};
