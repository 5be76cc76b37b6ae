#include "nrcomponent.h"

#include "nrmethod.h"

std::size_t nrdetail::NextCallableId() {
    static std::atomic<std::size_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

ENrException::ENrException(const QString& message) : std::runtime_error(message.toStdString()) {}

TFreeNotifications::TFreeNotifications(QObject* watcher, TRemoved removed)
    : fWatcher(watcher), fRemoved(std::move(removed)) {}

TFreeNotifications::~TFreeNotifications() {
    for (const auto& c : std::as_const(fConnections))
        QObject::disconnect(c);
}

void TFreeNotifications::Request(QObject* watched) {
    if (!watched || watched == fWatcher || fConnections.contains(watched))
        return;
    // The watcher as context object: the connection dies with the watcher, so a notice
    // never reaches a watcher that is gone.
    fConnections.insert(watched, QObject::connect(watched, &QObject::destroyed, fWatcher, [this](QObject* gone) {
                            fConnections.remove(gone);
                            fRemoved(gone);
                        }));
}

void TFreeNotifications::Remove(QObject* watched) {
    auto it = fConnections.find(watched);
    if (it == fConnections.end())
        return;
    QObject::disconnect(it.value());
    fConnections.erase(it);
}

TComponent::TComponent(QObject* AOwner)
    : QObject(AOwner), fFreeNotifications(this, [this](QObject* gone) { Notification(gone, TOperation::opRemove); }) {}

TComponent::~TComponent() = default;

void TComponent::Loaded() { fLoading = false; }

void TComponent::FreeNotification(QObject* AComponent) { fFreeNotifications.Request(AComponent); }

void TComponent::RemoveFreeNotification(QObject* AComponent) { fFreeNotifications.Remove(AComponent); }

void TComponent::Notification(QObject*, TOperation) {}
