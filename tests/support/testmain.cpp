// gtest main for every test program: a QApplication (tests run with
// QT_QPA_PLATFORM=offscreen) and a private HOME and XDG_CONFIG_HOME, so the serial-port
// map a test writes is the only one it sees and nothing touches the user's files.
#include "testenv.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    TTestEnvironment::PrepareProcess();
    // Tests never need a display; CTest's test discovery runs this program without the
    // test environment, so offscreen is the default here too.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("brisemer-tests"));
    return RUN_ALL_TESTS();
}
