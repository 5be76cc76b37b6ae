#include "nrcodepage.h"

#include <array>

namespace {

constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

} // namespace

QChar AnsiToChar(std::uint8_t byte) {
    if (byte >= 0x80 && byte < 0xA0)
        return QChar(kHigh[byte - 0x80]);
    return QChar(static_cast<char16_t>(byte));
}

QString AnsiToUnicode(const char* data, std::size_t size) {
    QString text(static_cast<qsizetype>(size), Qt::Uninitialized);
    QChar* out = text.data();
    for (std::size_t i = 0; i < size; ++i)
        out[i] = AnsiToChar(static_cast<std::uint8_t>(data[i]));
    return text;
}

std::uint8_t CharToAnsi(QChar ch) {
    const char16_t u = ch.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return static_cast<std::uint8_t>(u);
    for (std::size_t i = 0; i < kHigh.size(); ++i)
        if (kHigh[i] == u)
            return static_cast<std::uint8_t>(0x80 + i);
    return '?';
}

QByteArray UnicodeToAnsi(const QString& text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    const QChar* in = text.constData();
    for (qsizetype i = 0; i < text.size(); ++i) {
        // A surrogate pair is one character the code page can't hold: one '?'.
        if (in[i].isHighSurrogate() && i + 1 < text.size() && in[i + 1].isLowSurrogate()) {
            bytes.append('?');
            ++i;
            continue;
        }
        bytes.append(static_cast<char>(CharToAnsi(in[i])));
    }
    return bytes;
}
