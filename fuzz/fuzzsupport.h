// Shared pieces of the fuzz targets.
//
//   FUZZ_CHECK(cond, what)   a property that must hold; a failure prints `what` and aborts,
//                            which libFuzzer records as a crash with the input that did it
//   FuzzScratchFolder()      a private folder of this process for the files a target writes,
//                            on tmpfs when the machine has one (fsync is then cheap); it is
//                            removed when the process ends normally
//   StartFuzzApplication()   the application object the components expect (a QApplication on
//                            the offscreen platform when the target builds widgets); call
//                            it from LLVMFuzzerInitialize
//
// Threads: libFuzzer runs a target on one thread; none of this is meant for more.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdio>
#include <cstdlib>

[[noreturn]] void FuzzFail(const char* file, int line, const char* condition, const QString& what);

#define FUZZ_CHECK(cond, what)                                                                               \
    do {                                                                                                     \
        if (!(cond)) FuzzFail(__FILE__, __LINE__, #cond, (what));                                            \
    } while (0)

QString FuzzScratchFolder();
enum class TFuzzApp { faCore, faWidgets };
void StartFuzzApplication(int* argc, char*** argv, TFuzzApp kind = TFuzzApp::faCore);

// Writes bytes to a file, replacing it; aborts when that fails (the harness is broken then,
// not the code under test).
void FuzzWriteFile(const QString& path, const QByteArray& bytes);
QByteArray FuzzReadFile(const QString& path);

// Shows bytes with C escapes, for failure messages.
QString Escaped(const QByteArray& bytes);
