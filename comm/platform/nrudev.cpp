#include "nrudev.h"

#include <dlfcn.h>
#include <mutex>

namespace {

struct TLoaderState {
    std::mutex lock;
    QString libraryName = QStringLiteral("libudev.so.1");
    std::shared_ptr<const TUdevApi> api;
};

TLoaderState& Loader() {
    static TLoaderState state;
    return state;
}

struct TEntryPoint {
    const char* name;
    bool needed;
    void** slot;
};

template <class F> void** Slot(F& field) {
    return reinterpret_cast<void**>(&field);
}

std::shared_ptr<const TUdevApi> LoadLocked(TLoaderState& state) {
    if (state.api) return state.api;
    void* library = dlopen(state.libraryName.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
    if (!library) return nullptr;
    auto api = std::make_shared<TUdevApi>();
    api->Library = library; // from here on the table's destructor closes it
    const TEntryPoint table[] = {
        {"udev_new", true, Slot(api->udev_new)},
        {"udev_unref", true, Slot(api->udev_unref)},
        {"udev_device_new_from_syspath", true, Slot(api->udev_device_new_from_syspath)},
        {"udev_device_unref", true, Slot(api->udev_device_unref)},
        {"udev_device_get_properties_list_entry", true, Slot(api->udev_device_get_properties_list_entry)},
        {"udev_list_entry_get_next", true, Slot(api->udev_list_entry_get_next)},
        {"udev_list_entry_get_name", true, Slot(api->udev_list_entry_get_name)},
        {"udev_list_entry_get_value", true, Slot(api->udev_list_entry_get_value)},
        {"udev_monitor_new_from_netlink", false, Slot(api->udev_monitor_new_from_netlink)},
        {"udev_monitor_filter_add_match_subsystem_devtype", false,
         Slot(api->udev_monitor_filter_add_match_subsystem_devtype)},
        {"udev_monitor_enable_receiving", false, Slot(api->udev_monitor_enable_receiving)},
        {"udev_monitor_get_fd", false, Slot(api->udev_monitor_get_fd)},
        {"udev_monitor_receive_device", false, Slot(api->udev_monitor_receive_device)},
        {"udev_monitor_unref", false, Slot(api->udev_monitor_unref)},
        {"udev_device_get_action", false, Slot(api->udev_device_get_action)},
        {"udev_device_get_subsystem", false, Slot(api->udev_device_get_subsystem)},
        {"udev_device_get_sysname", false, Slot(api->udev_device_get_sysname)},
        {"udev_device_get_devnode", false, Slot(api->udev_device_get_devnode)},
    };
    bool complete = true;
    for (const TEntryPoint& entry : table) {
        *entry.slot = dlsym(library, entry.name);
        if (!*entry.slot && entry.needed) complete = false;
    }
    if (!complete) return nullptr; // api goes out of scope and closes the library
    state.api = api;
    return state.api;
}

} // namespace

TUdevApi::~TUdevApi() {
    if (Library) dlclose(Library);
}

bool TUdevApi::HasMonitor() const {
    return udev_monitor_new_from_netlink && udev_monitor_filter_add_match_subsystem_devtype &&
           udev_monitor_enable_receiving && udev_monitor_get_fd && udev_monitor_receive_device &&
           udev_monitor_unref && udev_device_get_action && udev_device_get_subsystem &&
           udev_device_get_sysname && udev_device_get_devnode;
}

bool LoadSetupApi() {
    return static_cast<bool>(UdevApi());
}

std::shared_ptr<const TUdevApi> UdevApi() {
    TLoaderState& state = Loader();
    std::lock_guard guard(state.lock);
    return LoadLocked(state);
}

void FreeSetupApi() {
    TLoaderState& state = Loader();
    std::shared_ptr<const TUdevApi> released;
    {
        std::lock_guard guard(state.lock);
        released = std::move(state.api);
    }
    // dlclose, if this was the last owner, runs here, outside the lock.
}

void SetSetupApiLibraryName(const QString& fileName) {
    TLoaderState& state = Loader();
    std::lock_guard guard(state.lock);
    state.libraryName = fileName;
}

QString SetupApiLibraryName() {
    TLoaderState& state = Loader();
    std::lock_guard guard(state.lock);
    return state.libraryName;
}

TUdevContext::TUdevContext() : fApi(UdevApi()) {
    if (fApi) fUdev = TUdevOwner<udev>(fApi, fApi->udev_new(), fApi->udev_unref);
}

QHash<QString, QString> TUdevContext::Properties(const QString& sysPath) const {
    QHash<QString, QString> result;
    if (!IsValid()) return result;
    TUdevOwner<udev_device> device(
        fApi, fApi->udev_device_new_from_syspath(Get(), sysPath.toLocal8Bit().constData()),
        fApi->udev_device_unref);
    if (!device) return result;
    for (udev_list_entry* entry = fApi->udev_device_get_properties_list_entry(device.Get()); entry;
         entry = fApi->udev_list_entry_get_next(entry)) {
        const char* name = fApi->udev_list_entry_get_name(entry);
        const char* value = fApi->udev_list_entry_get_value(entry);
        if (name) result.insert(QString::fromUtf8(name), value ? QString::fromUtf8(value) : QString());
    }
    return result;
}

QString DecodeUdevString(const QString& encoded) {
    QByteArray bytes;
    const QByteArray raw = encoded.toUtf8();
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\\' && i + 3 < raw.size() && raw[i + 1] == 'x') {
            bool ok = false;
            const int value = raw.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                bytes.append(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        bytes.append(raw[i]);
    }
    return QString::fromUtf8(bytes).trimmed();
}
