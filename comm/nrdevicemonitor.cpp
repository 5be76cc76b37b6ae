#include "nrdevicemonitor.h"

#include "platform/nrudev.h"

#include <QSocketNotifier>
#include <algorithm>

namespace {

class TUdevEventSource : public TDeviceEventSource {
public:
    explicit TUdevEventSource(TUdevContext context) : fContext(std::move(context)) {}

    bool Open() {
        const auto& api = fContext.Api();
        if (!fContext.IsValid() || !api->HasMonitor()) return false;
        fMonitor = TUdevOwner<udev_monitor>(api, api->udev_monitor_new_from_netlink(fContext.Get(), "udev"),
                                            api->udev_monitor_unref);
        if (!fMonitor) return false;
        return api->udev_monitor_filter_add_match_subsystem_devtype(fMonitor.Get(), "tty", nullptr) >= 0 &&
               api->udev_monitor_enable_receiving(fMonitor.Get()) >= 0 &&
               api->udev_monitor_get_fd(fMonitor.Get()) >= 0;
    }

    int Descriptor() const override { return fContext.Api()->udev_monitor_get_fd(fMonitor.Get()); }

    bool Receive(TDeviceEvent& Event) override {
        const auto& api = fContext.Api();
        TUdevOwner<udev_device> device(api, api->udev_monitor_receive_device(fMonitor.Get()),
                                       api->udev_device_unref);
        if (!device) return false;
        auto text = [](const char* s) { return s ? QString::fromUtf8(s) : QString(); };
        Event.Action = text(api->udev_device_get_action(device.Get()));
        Event.Subsystem = text(api->udev_device_get_subsystem(device.Get()));
        Event.SysName = text(api->udev_device_get_sysname(device.Get()));
        Event.DevNode = text(api->udev_device_get_devnode(device.Get()));
        return true;
    }

private:
    TUdevContext fContext;
    TUdevOwner<udev_monitor> fMonitor;
};

} // namespace

std::unique_ptr<TDeviceEventSource> CreateUdevEventSource() {
    auto source = std::make_unique<TUdevEventSource>(TUdevContext());
    if (!source->Open()) return nullptr;
    return source;
}

TnrDeviceMonitor::TnrDeviceMonitor(QObject* AOwner) : TComponent(AOwner) {}

TnrDeviceMonitor::~TnrDeviceMonitor() {
    StopWatching();
}

bool TnrDeviceMonitor::Active() const {
    return static_cast<bool>(fNotifier);
}

void TnrDeviceMonitor::SetActive(bool Value) {
    if (Value == Active()) return;
    if (!Value) {
        StopWatching();
        return;
    }
    if (!fSource) fSource = CreateUdevEventSource();
    if (!fSource || fSource->Descriptor() < 0) return;
    fNotifier = std::make_unique<QSocketNotifier>(fSource->Descriptor(), QSocketNotifier::Read);
    connect(fNotifier.get(), &QSocketNotifier::activated, this, [this] { ReadEvents(); });
}

void TnrDeviceMonitor::SetSource(std::unique_ptr<TDeviceEventSource> Source) {
    const bool wasActive = Active();
    StopWatching();
    fSource = std::move(Source);
    if (wasActive) SetActive(true);
}

void TnrDeviceMonitor::StopWatching() {
    fNotifier.reset();
}

void TnrDeviceMonitor::ReadEvents() {
    // A handler may stop the monitor or change its source: read one event at a time and
    // let the notifier call again while more are waiting.
    if (!fSource) return;
    TDeviceEvent event;
    if (fSource->Receive(event)) Dispatch(event);
}

void TnrDeviceMonitor::Dispatch(const TDeviceEvent& Event) {
    if (Event.Subsystem != QLatin1String("tty") || !OnDeviceChange) return;
    std::uintptr_t change = 0;
    if (Event.Action == QLatin1String("add"))
        change = DBT_DEVICEARRIVAL;
    else if (Event.Action == QLatin1String("remove"))
        change = DBT_DEVICEREMOVECOMPLETE;
    else
        return;
    TDevBroadcastPort port{};
    port.Header.dbch_size = sizeof(port);
    port.Header.dbch_devicetype = DBT_DEVTYP_PORT;
    const std::u16string name = Event.DevNode.toStdU16String();
    std::copy_n(name.begin(), std::min<std::size_t>(name.size(), std::size(port.Name) - 1), port.Name);
    TMessage msg;
    msg.Msg = WM_DEVICECHANGE;
    msg.WParam = change;
    msg.LParam = reinterpret_cast<std::intptr_t>(&port.Header);
    OnDeviceChange(this, msg);
}
