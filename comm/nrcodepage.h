// The single-byte code page of received and saved text: Windows-1252.
//
// Bytes 0x00..0x7F and 0xA0..0xFF are the Latin-1 characters; 0x80..0x9F carry the
// typographic characters of the code page (0x80 is the euro sign), and the five bytes the
// code page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control of the
// same value so that every byte survives a round trip. Encoding writes '?' for a
// character the code page cannot hold.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

QChar AnsiToChar(std::uint8_t byte);
QString AnsiToUnicode(const char* data, std::size_t size);
inline QString AnsiToUnicode(const QByteArray& bytes) { return AnsiToUnicode(bytes.constData(), bytes.size()); }
// '?' for a character that has no byte in the code page.
std::uint8_t CharToAnsi(QChar ch);
QByteArray UnicodeToAnsi(const QString& text);
