// TChannelCapture: the continuous capture of one channel - every received byte appended
// to a file as it arrives, exactly as received (brisemer-replay plays such a file back),
// or in the timestamped form of capturestamp.h.
//
// Each delivery is written through to the file at once (one write, no buffer of our
// own), so a crash of the program loses nothing the delivery brought. An existing file
// is continued, never emptied. A failed write (full disk, device error) or a file that
// is no longer in any folder (its folder was removed) closes the capture and says why.
//
// Threads: user-interface thread only, where the port delivers.
#pragma once

#include "capturestamp.h"

#include <QString>
#include <cstdint>
#include <string>

class TChannelCapture {
public:
    ~TChannelCapture() { Close(); }

    // Creates the file or opens it for appending. False, with the system's reason, when
    // it cannot be opened.
    bool Open(const QString& path, bool stamped, QString* reason);
    // Appends a delivery that arrived at utcMicros. False (the capture is then closed)
    // with the system's reason when the bytes could not all be written.
    bool Write(const std::uint8_t* data, std::size_t size, std::int64_t utcMicros, QString* reason);
    // False (and closed) when the file was removed or lost its folder.
    bool StillThere(QString* reason);
    void Close();

    bool IsOpen() const { return fFd >= 0; }
    bool Stamped() const { return fStamped; }
    const QString& Path() const { return fPath; }

private:
    bool Fail(int error, QString* reason);

    int fFd = -1;
    bool fStamped = false;
    QString fPath;
    TCaptureStamper fStamper;
    std::string fStampedBytes;
};
