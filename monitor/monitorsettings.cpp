#include "monitorsettings.h"

void ReadPortSettings(const TIniFile& ini, const QString& section, std::uint32_t defaultBaud, TnrComm* com) {
    // Out-of-range values are cut to the property's width, never refused: the window
    // shows what results.
    com->SetComPortNo(static_cast<std::uint16_t>(ini.ReadInteger(section, QStringLiteral("ComNb"), 0)));
    com->SetBaudRate(static_cast<std::uint32_t>(
        ini.ReadInteger(section, QStringLiteral("BaudRate"), static_cast<std::int32_t>(defaultBaud))));
    com->SetByteSize(static_cast<std::uint8_t>(ini.ReadInteger(section, QStringLiteral("DataBits"), 8)));
    com->SetStopBits(ini.ReadInteger(section, QStringLiteral("StopBits"), 1) == 1 ? sbOne : sbTwo);
    com->SetParity(static_cast<TParity>(
        static_cast<std::uint8_t>(ini.ReadInteger(section, QStringLiteral("Parity"), 0))));
}

void WritePortSettings(TIniFile& ini, const QString& section, const TnrComm* com) {
    ini.WriteUnsigned(section, QStringLiteral("ComNb"), com->ComPortNo());
    ini.WriteUnsigned(section, QStringLiteral("BaudRate"), com->BaudRate());
    ini.WriteUnsigned(section, QStringLiteral("DataBits"), com->ByteSize());
    ini.WriteUnsigned(section, QStringLiteral("StopBits"), com->StopBits() == sbOne ? 1 : 2);
    ini.WriteUnsigned(section, QStringLiteral("Parity"), static_cast<std::uint8_t>(com->Parity()));
}
