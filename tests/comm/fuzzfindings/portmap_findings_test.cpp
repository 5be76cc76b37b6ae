// Inputs the fuzzing of the serial-port map found mishandled, kept as tests.
#include "platform/nrerror.h"
#include "platform/nrhandle.h"
#include "platform/nrportmap.h"
#include "platform/nrserialapi.h"
#include "ptypair.h"
#include "testenv.h"

#include <QFile>
#include <cerrno>
#include <gtest/gtest.h>

namespace {

template <std::size_t N> QByteArray Bytes(const char (&text)[N]) {
    return QByteArray(text, N - 1); // NULs inside included
}

// A NUL cuts a path short at the system call: "COM3 = <pty>\0<rest>" would have opened
// the pseudo-terminal although the map names another path. Such a line is not an entry.
TEST(PortMapFindings, APathHoldingANulCharacterIsNoEntry) {
    TPtyPair pty;
    TTestEnvironment::WritePortMap({});
    const QByteArray map =
        "COM3 = " + pty.SlavePath().toUtf8() + Bytes("\0/by-id/usb-receiver\n") +
        Bytes("COM4 = /dev/fuzz-first\nCOM4 = /dev/fuzz\0second\nCOM5 = /dev/fuzz-fifth\n");
    QFile file(TTestEnvironment::PortMapFile());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(map), map.size());
    file.close();

    QStringList entries;
    for (const TnrPortMapEntry& e : ReadSerialPortMap())
        entries << e.PortName + QStringLiteral(" = ") +
                       QString::fromLatin1(e.DevicePath.toUtf8().toPercentEncoding("/"));
    // The skipped line leaves the earlier entry of its number in force.
    EXPECT_EQ(entries.join(QStringLiteral(" | ")).toStdString(),
              "COM4 = /dev/fuzz-first | COM5 = /dev/fuzz-fifth");

    SetLastError(0);
    const THandle h = OpenPortByName(QStringLiteral("COM3"));
    EXPECT_EQ(h, INVALID_HANDLE_VALUE) << "opened " << qPrintable(pty.SlavePath());
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    EXPECT_EQ(GetLastError(), static_cast<std::uint32_t>(ENOENT));
}

} // namespace
