// A pseudo-terminal pair for tests: the slave side is what a port component opens (its
// path goes into the map file), the master side is the test's end of the line.
#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>

class TPtyPair {
public:
    TPtyPair();
    ~TPtyPair();
    TPtyPair(const TPtyPair&) = delete;
    TPtyPair& operator=(const TPtyPair&) = delete;

    QString SlavePath() const { return fSlavePath; }
    int MasterFd() const { return fMaster; }

    // Writes all bytes to the master side (what the port will receive).
    void Write(const QByteArray& bytes);
    // Reads what the port sent, until `count` bytes arrived or the timeout passed.
    QByteArray Read(int count, std::chrono::milliseconds timeout = std::chrono::seconds(2));
    // Closes the master side: the port sees the device go away.
    void CloseMaster();

private:
    int fMaster = -1;
    QString fSlavePath;
};
