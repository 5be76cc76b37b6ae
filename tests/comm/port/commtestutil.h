// Helpers of the serial port component tests: fake devices handed to a component,
// captured error boxes, a lamp with a "Checked" property, descriptor and thread counts.
#pragma once

#include "nrapplication.h"
#include "platform/nrfakeport.h"

#include <QObject>
#include <QStringList>
#include <memory>
#include <mutex>
#include <vector>

// A fake serial device registered in the handle table, for TnrComm::SetExtHandle.
struct TFakePort {
    std::shared_ptr<TnrFakeSerialDevice> Device;
    THandle Handle = INVALID_HANDLE_VALUE;

    explicit TFakePort(const QString& name = QStringLiteral("FAKE"));
    // Bytes arrive at the port. The fake may share the array's data with its input queue;
    // the array is kept until the port goes (after the component closed), so its last
    // reference is dropped where the sanitizers can see it is no longer in use.
    void Receive(const QByteArray& bytes);

private:
    std::vector<QByteArray> fKept;
};

// Collects what would have been shown in error boxes while it exists.
class TMessageCapture {
public:
    TMessageCapture();
    ~TMessageCapture();
    QStringList Messages() const;
    int Count() const;

private:
    mutable std::mutex fLock;
    QStringList fMessages;
    TUserMessageHandler fPrevious;
};

// A control with a "Checked" property, like the indicator lamps the monitor links use.
class TTestLamp : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool Checked READ Checked WRITE SetChecked)
public:
    using QObject::QObject;
    bool Checked() const { return fChecked; }
    void SetChecked(bool v) {
        fChecked = v;
        ++fWrites;
    }
    int Writes() const { return fWrites; }

private:
    bool fChecked = false;
    int fWrites = 0;
};

// Makes the serial-port map of this process hold only what the test's map file says: no
// system map file, and an empty sysfs tree, so no hardware port can ever be opened by a
// number a test uses for a port that must not exist.
void MapOnlyTestPorts();

// Open file descriptors of this process.
int OpenDescriptorCount();
// Waits (running the event loop) until no port thread is left; true when none is.
bool AllPortThreadsEnded();
