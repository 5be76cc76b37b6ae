// The terminal devices the replay writes into.
//
// TPtyDevice makes a new pseudo-terminal: the tool writes to the master side and a reader
// opens the slave path, as it would open a serial port. The tool also keeps a descriptor
// of the slave side open for as long as the device exists: the pseudo-terminal then
// stays usable while readers open, close and reopen it (with no slave open the master
// would report a hang-up and the line would be torn down), and the bytes still waiting
// for the reader can be counted. Closing the device closes the master, which hangs up
// every reader at once, like a serial adapter pulled out of its socket.
//
// TTtyDevice writes into an existing terminal (a serial port, or the slave of a
// pseudo-terminal someone else made), set to raw mode and the replay's line settings.
//
// Threads: a device belongs to one replay channel and is used on the replay loop's thread.
#pragma once

#include "lineformat.h"

#include <cstddef>
#include <memory>
#include <string>

class TReplayDevice {
public:
    virtual ~TReplayDevice();
    TReplayDevice(const TReplayDevice&) = delete;
    TReplayDevice& operator=(const TReplayDevice&) = delete;

    // The path a reader opens.
    const std::string& Path() const { return fPath; }
    // The descriptor the tool writes to, for poll(); -1 once closed.
    int Fd() const { return fFd; }
    bool IsOpen() const { return fFd >= 0; }

    // Writes as much as the device takes now without blocking; returns the count (0 when
    // its queue is full). Throws TReplayError naming the port and device on failure.
    size_t Write(const char* data, size_t size);
    // Bytes written that the reader has not taken yet (as far as the device can tell).
    virtual size_t Unread() const = 0;
    // Whether input from the reader's side must be read and dropped (see DiscardInput).
    virtual bool WantsInput() const { return false; }
    // Reads and drops what the reader's side sent (an echo, say), so it never jams the line.
    void DiscardInput();
    // A note for the user about something the device could not do (empty if none).
    const std::string& Warning() const { return fWarning; }

    virtual void Close();

protected:
    TReplayDevice(std::string portName, std::string path, int fd);
    std::string Label() const; // "COM201 (/dev/pts/5)" for messages

    std::string fPortName;
    std::string fPath;
    int fFd = -1;
    std::string fWarning;
};

class TPtyDevice : public TReplayDevice {
public:
    // Makes a new pseudo-terminal for the port; throws TReplayError on failure.
    static std::unique_ptr<TPtyDevice> Create(const std::string& portName);
    ~TPtyDevice() override;

    size_t Unread() const override;
    bool WantsInput() const override { return true; }
    void Close() override;

private:
    TPtyDevice(std::string portName, std::string path, int master, int slave);
    int fSlave = -1;
};

class TTtyDevice : public TReplayDevice {
public:
    // Opens an existing terminal and sets raw mode, `format` and `baud` (a baud rate the
    // terminal interface has no constant for is left as it is, with a warning).
    static std::unique_ptr<TTtyDevice> Open(const std::string& portName, const std::string& path,
                                            const TLineFormat& format, unsigned baud);
    size_t Unread() const override;

private:
    using TReplayDevice::TReplayDevice;
};
