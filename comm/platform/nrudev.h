// nrudev: the udev device database, reached through libudev loaded on demand.
//
// The program runs without libudev: the library is opened with dlopen at the first
// query, and when it (or one of the entry points the queries need) is missing,
// LoadSetupApi returns false and every device-setup query adds nothing.
//
//   LoadSetupApi()          opens libudev once and keeps it; a failed attempt leaves
//                           nothing loaded and is retried at the next call.
//   FreeSetupApi()          forgets the loaded library; owners below keep it mapped
//                           until the last of them is gone.
//   SetSetupApiLibraryName  the file the loader opens ("libudev.so.1"); tests point it
//                           at a missing or unsuitable library.
//   TUdevApi                the entry-point table. Rows marked "needed" must all be
//                           found for the load to succeed; the monitor rows are
//                           optional and checked by the device monitor itself.
//   TUdevOwner<T>           owns one udev object (context, device, monitor) and unrefs
//                           it; it also holds the table, so the library stays mapped.
//   TUdevContext            one udev context, for property look-ups.
//
// Threads: the loader state is guarded by a lock, so any thread may call LoadSetupApi
// and UdevApi. A TUdevContext and the objects it gives belong to the thread that made
// them (libudev objects are not thread-safe).
#pragma once

#include <QHash>
#include <QString>
#include <libudev.h>
#include <memory>
#include <utility>

struct TUdevApi {
    TUdevApi() = default;
    ~TUdevApi();
    TUdevApi(const TUdevApi&) = delete;
    TUdevApi& operator=(const TUdevApi&) = delete;

    void* Library = nullptr;

    // Needed by the queries.
    decltype(&::udev_new) udev_new = nullptr;
    decltype(&::udev_unref) udev_unref = nullptr;
    decltype(&::udev_device_new_from_syspath) udev_device_new_from_syspath = nullptr;
    decltype(&::udev_device_unref) udev_device_unref = nullptr;
    decltype(&::udev_device_get_properties_list_entry) udev_device_get_properties_list_entry = nullptr;
    decltype(&::udev_list_entry_get_next) udev_list_entry_get_next = nullptr;
    decltype(&::udev_list_entry_get_name) udev_list_entry_get_name = nullptr;
    decltype(&::udev_list_entry_get_value) udev_list_entry_get_value = nullptr;

    // Used only by the device monitor.
    decltype(&::udev_monitor_new_from_netlink) udev_monitor_new_from_netlink = nullptr;
    decltype(&::udev_monitor_filter_add_match_subsystem_devtype)
        udev_monitor_filter_add_match_subsystem_devtype = nullptr;
    decltype(&::udev_monitor_enable_receiving) udev_monitor_enable_receiving = nullptr;
    decltype(&::udev_monitor_get_fd) udev_monitor_get_fd = nullptr;
    decltype(&::udev_monitor_receive_device) udev_monitor_receive_device = nullptr;
    decltype(&::udev_monitor_unref) udev_monitor_unref = nullptr;
    decltype(&::udev_device_get_action) udev_device_get_action = nullptr;
    decltype(&::udev_device_get_subsystem) udev_device_get_subsystem = nullptr;
    decltype(&::udev_device_get_sysname) udev_device_get_sysname = nullptr;
    decltype(&::udev_device_get_devnode) udev_device_get_devnode = nullptr;

    bool HasMonitor() const;
};

bool LoadSetupApi();
void FreeSetupApi();
// The loaded table, loading it first when needed; null when libudev is not usable.
std::shared_ptr<const TUdevApi> UdevApi();
// Takes effect at the next load (after FreeSetupApi when a library is loaded).
void SetSetupApiLibraryName(const QString& fileName);
QString SetupApiLibraryName();

template <class T> class TUdevOwner {
public:
    using TUnref = T* (*)(T*);

    TUdevOwner() = default;
    TUdevOwner(std::shared_ptr<const TUdevApi> api, T* handle, TUnref unref)
        : fApi(std::move(api)), fHandle(handle), fUnref(unref) {}
    ~TUdevOwner() { Reset(); }
    TUdevOwner(TUdevOwner&& other) noexcept
        : fApi(std::move(other.fApi)), fHandle(std::exchange(other.fHandle, nullptr)), fUnref(other.fUnref) {}
    TUdevOwner& operator=(TUdevOwner&& other) noexcept {
        if (this != &other) {
            Reset();
            fApi = std::move(other.fApi);
            fHandle = std::exchange(other.fHandle, nullptr);
            fUnref = other.fUnref;
        }
        return *this;
    }
    TUdevOwner(const TUdevOwner&) = delete;
    TUdevOwner& operator=(const TUdevOwner&) = delete;

    T* Get() const { return fHandle; }
    explicit operator bool() const { return fHandle != nullptr; }
    void Reset() {
        if (fHandle && fUnref) fUnref(fHandle);
        fHandle = nullptr;
    }

private:
    std::shared_ptr<const TUdevApi> fApi;
    T* fHandle = nullptr;
    TUnref fUnref = nullptr;
};

class TUdevContext {
public:
    // An invalid context when libudev is not usable.
    TUdevContext();

    bool IsValid() const { return static_cast<bool>(fUdev); }
    const std::shared_ptr<const TUdevApi>& Api() const { return fApi; }
    udev* Get() const { return fUdev.Get(); }

    // The properties udev keeps for the device at this sysfs path (DEVNAME, DEVLINKS,
    // ID_VENDOR, ID_MODEL_FROM_DATABASE...); empty when udev does not know it.
    QHash<QString, QString> Properties(const QString& sysPath) const;

private:
    std::shared_ptr<const TUdevApi> fApi;
    TUdevOwner<udev> fUdev;
};

// Decodes udev's \xNN escapes (ID_MODEL_ENC, ID_VENDOR_ENC) and trims the result.
QString DecodeUdevString(const QString& encoded);
