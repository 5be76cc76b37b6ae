// TnrNotifyList: the listeners of an I/O component, called with a notification code.
//
// Codes sent by the serial components: 1 the port was closed, 2 it was opened and
// configured, 3 the port selection or the device list changed.
//
// The list owns one record per entry. Add does not check for duplicates; IndexOf matches
// a listener by its routine and the object the routine is bound to, so callers that want
// each listener once (TnrBaseIO::NotifyAdd) ask IndexOf first. The object takes part in
// the match because a chain of data processors attaches several objects of one class to
// the same port, and each of them must hear the port open and close. Call reads the count once and stops at the first exception, which
// reaches its caller.
//
// Threads: no lock. Listeners are added and removed on the user-interface thread; Call
// runs on the thread that opens, closes or reconfigures the port. A listener must not
// add or remove entries of the list that is calling it.
#pragma once

#include "nrcomponent.h"
#include "nrmethod.h"

#include <QObject>
#include <memory>
#include <vector>

using TnrNotifyEvent = TMethod<void(QObject* Sender, int Code)>;

inline constexpr int NOTIFY_CLOSED = 1;
inline constexpr int NOTIFY_OPENED = 2;
inline constexpr int NOTIFY_DEVICE_CHANGED = 3;

// The list's index check failed.
class EListError : public ENrException {
public:
    using ENrException::ENrException;
};

class TnrNotifyList {
public:
    TnrNotifyList() = default;
    virtual ~TnrNotifyList();
    TnrNotifyList(const TnrNotifyList&) = delete;
    TnrNotifyList& operator=(const TnrNotifyList&) = delete;

    int Add(const TnrNotifyEvent& Item);
    void Delete(int Index);
    virtual void Clear();
    TnrNotifyEvent Get(int Index) const;
    void Put(int Index, const TnrNotifyEvent& Item);
    int IndexOf(const TnrNotifyEvent& Item) const;
    int Count() const { return static_cast<int>(fItems.size()); }

    void Call(QObject* Sender, int Code);

private:
    void CheckIndex(int Index) const;
    std::vector<std::unique_ptr<TnrNotifyEvent>> fItems;
};
