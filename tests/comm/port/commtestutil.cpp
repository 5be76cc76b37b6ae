#include "commtestutil.h"

#include "nrcommthreads.h"
#include "testenv.h"

#include "platform/nrportmap.h"

#include <QDir>
#include <QTemporaryDir>

TFakePort::TFakePort(const QString& name)
    : Device(std::make_shared<TnrFakeSerialDevice>(name)), Handle(RegisterHandle(Device)) {}

void TFakePort::Receive(const QByteArray& bytes) {
    fKept.push_back(bytes);
    Device->InjectReceived(fKept.back());
}

TMessageCapture::TMessageCapture() {
    fPrevious = SetUserMessageHandler([this](TUserMessageKind, const QString& text, const QString&) {
        std::lock_guard g(fLock);
        fMessages.append(text);
    });
}

TMessageCapture::~TMessageCapture() {
    SetUserMessageHandler(fPrevious);
}

QStringList TMessageCapture::Messages() const {
    std::lock_guard g(fLock);
    return fMessages;
}

int TMessageCapture::Count() const {
    std::lock_guard g(fLock);
    return static_cast<int>(fMessages.size());
}

int OpenDescriptorCount() {
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd"))
                                .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)
                                .size());
}

bool AllPortThreadsEnded() {
    return WaitUntil([] { return CommThreadsRunning() == 0; }, std::chrono::seconds(5));
}

void MapOnlyTestPorts() {
    static QTemporaryDir emptySysfs;
    TnrPortMapSources sources = SerialPortMapSources();
    sources.SystemMapFile = emptySysfs.filePath(QStringLiteral("no-system-map"));
    sources.SysfsRoot = emptySysfs.path();
    SetSerialPortMapSources(sources);
}
