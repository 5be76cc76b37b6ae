#include "comparm.h"

QString ComParmText(TComParm ComRec) {
    if (ComRec.RComNumber == 0) return QStringLiteral("No port selected");
    static const char* const parityWords[] = {"None", "Odd", "Even", "Mark", "Space"};
    const unsigned parity = static_cast<unsigned>(ComRec.RParity);
    const QString parityWord = parity < 5 ? QString::fromLatin1(parityWords[parity]) : QString();
    // One and a half stop bits has no word; its separator is still written.
    QString stopWord;
    if (ComRec.RStopBits == sbOne)
        stopWord = QStringLiteral("One");
    else if (ComRec.RStopBits == sbTwo)
        stopWord = QStringLiteral("Two");
    return QStringLiteral("Com%1, %2, %3, %4, %5")
        .arg(ComRec.RComNumber)
        .arg(ComRec.RBaud)
        .arg(parityWord)
        .arg(ComRec.RDataBits)
        .arg(stopWord);
}

void CopyComponentToRecord(const TnrComm* ComP, TComParm& ComRec) {
    ComRec.RComNumber = ComP->ComPortNo();
    ComRec.RBaud = static_cast<std::int32_t>(ComP->BaudRate());
    ComRec.RDataBits = ComP->ByteSize();
    ComRec.RStopBits = ComP->StopBits();
    ComRec.RParity = ComP->Parity();
}

void CopyRecordToComponent(TnrComm* ComP, TComParm ComRec) {
    ComP->SetComPortNo(ComRec.RComNumber);
    ComP->SetBaudRate(static_cast<std::uint32_t>(ComRec.RBaud));
    ComP->SetByteSize(static_cast<std::uint8_t>(ComRec.RDataBits & 0xFF));
    ComP->SetStopBits(ComRec.RStopBits);
    ComP->SetParity(ComRec.RParity);
}
