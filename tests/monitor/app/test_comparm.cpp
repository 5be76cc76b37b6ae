// The port parameter record: its text form and the copies to and from a real port
// component on a pseudo-terminal.
#include "comparm.h"
#include "ptypair.h"
#include "testenv.h"

#include <gtest/gtest.h>

TEST(ComParmText, ShowsPortAndLineSettingsOrNoPort) {
    EXPECT_EQ(ComParmText(TComParm{0, pEven, 7, sbTwo, 9600}), QStringLiteral("No port selected"));
    EXPECT_EQ(ComParmText(TComParm{3, pNone, 8, sbOne, 4800}), QStringLiteral("Com3, 4800, None, 8, One"));
    EXPECT_EQ(ComParmText(TComParm{12, pEven, 7, sbTwo, 115200}),
              QStringLiteral("Com12, 115200, Even, 7, Two"));
    EXPECT_EQ(ComParmText(TComParm{1, pOdd, 5, sbOne, 150}), QStringLiteral("Com1, 150, Odd, 5, One"));
    EXPECT_EQ(ComParmText(TComParm{65535, pMark, 6, sbOne, -1}),
              QStringLiteral("Com65535, -1, Mark, 6, One"));
    EXPECT_EQ(ComParmText(TComParm{2, pSpace, 8, sbOne, 300}), QStringLiteral("Com2, 300, Space, 8, One"));
    // No word for one and a half stop bits, nor for a parity above Space: the separators stay.
    EXPECT_EQ(ComParmText(TComParm{4, pNone, 8, sbOneAndHalf, 9600}),
              QStringLiteral("Com4, 9600, None, 8, "));
    EXPECT_EQ(ComParmText(TComParm{4, static_cast<TParity>(7), 8, sbOne, 9600}),
              QStringLiteral("Com4, 9600, , 8, One"));
    EXPECT_EQ(ComParmText(TComParm{4, pNone, 8, static_cast<TStopBits>(9), 9600}),
              QStringLiteral("Com4, 9600, None, 8, "));
}

TEST(ComParmCopy, RecordToComponentAndBack) {
    TnrComm com;
    CopyRecordToComponent(&com, TComParm{7, pOdd, 264, sbTwo, 57600});
    EXPECT_EQ(com.ComPortNo(), 7);
    EXPECT_EQ(com.ByteSize(), 8); // the low byte of 264
    EXPECT_EQ(com.BaudRate(), 57600u);
    EXPECT_EQ(com.StopBits(), sbTwo);
    EXPECT_EQ(com.Parity(), pOdd);
    EXPECT_FALSE(com.Active());

    CopyRecordToComponent(&com, TComParm{7, pOdd, 3, sbTwo, 57600});
    EXPECT_EQ(com.ByteSize(), 8); // below 4: the component stores 8
    CopyRecordToComponent(&com, TComParm{7, pOdd, 6, sbTwo, 57600});
    EXPECT_EQ(com.ByteSize(), 6);

    TComParm rec{};
    CopyComponentToRecord(&com, rec);
    EXPECT_EQ(rec, (TComParm{7, pOdd, 6, sbTwo, 57600}));
}

TEST(ComParmCopy, ApplyingAnOpenChannelReopensItEvenOnTheSamePort) {
    TPtyPair pty;
    TTestEnvironment::WritePortMap({QStringLiteral("COM211 = ") + pty.SlavePath()});
    TnrComm com;
    int closes = 0;
    com.OnClose = [&](QObject*) { ++closes; };
    QByteArray received;
    com.OnAfterReceive = [&](QObject*, const std::uint8_t* b, std::uint32_t n) {
        received.append(reinterpret_cast<const char*>(b), n);
    };
    CopyRecordToComponent(&com, TComParm{211, pNone, 8, sbOne, 4800});
    EXPECT_FALSE(com.Active()); // a closed channel is never opened
    EXPECT_EQ(closes, 0);

    com.SetActive(true);
    ASSERT_TRUE(com.Active());
    CopyRecordToComponent(&com, TComParm{211, pEven, 7, sbOne, 9600});
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(com.Active());
    EXPECT_EQ(com.BaudRate(), 9600u);
    pty.Write("still listening");
    EXPECT_TRUE(WaitUntil([&] { return received == "still listening"; }));
    com.SetActive(false);
}
