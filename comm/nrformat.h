// Formatted text with typed arguments, for log lines and messages.
//
// Format understands %d (signed decimal), %u (unsigned decimal), %x and %X (hexadecimal),
// %s (text), %c (one character) and %%, each with an optional '-' (left-align), minimum
// width and, for numbers, a precision that pads with zeros ("%2X", "%.4X", "%-8s").
// Integers print as 32-bit values, as the library's counters and codes are: %u and %X
// show a negative number in two's complement. A missing argument or a type mismatch
// (text for a number) raises EConvertError naming the format.
#pragma once

#include "nrcomponent.h"

#include <QString>
#include <cstdint>
#include <initializer_list>
#include <type_traits>
#include <vector>

class TVarRec {
public:
    enum TKind { vtInteger, vtUnsigned, vtString };

    template <class I>
        requires(std::is_integral_v<I> && std::is_signed_v<I> && !std::is_same_v<I, char>)
    TVarRec(I v) : fKind(vtInteger), fInt(v) {}
    template <class I>
        requires(std::is_integral_v<I> && std::is_unsigned_v<I> && !std::is_same_v<I, bool>)
    TVarRec(I v) : fKind(vtUnsigned), fUInt(v) {}
    TVarRec(bool v) : fKind(vtInteger), fInt(v ? 1 : 0) {}
    TVarRec(char c) : fKind(vtString), fString(QChar::fromLatin1(c)) {}
    TVarRec(QChar c) : fKind(vtString), fString(c) {}
    TVarRec(const QString& s) : fKind(vtString), fString(s) {}
    TVarRec(const char* s) : fKind(vtString), fString(QString::fromUtf8(s)) {}

    TKind Kind() const { return fKind; }
    std::int64_t AsInteger() const { return fKind == vtUnsigned ? static_cast<std::int64_t>(fUInt) : fInt; }
    const QString& AsString() const { return fString; }

private:
    TKind fKind;
    std::int64_t fInt = 0;
    std::uint64_t fUInt = 0;
    QString fString;
};

using TVarRecs = std::vector<TVarRec>;

class EConvertError : public ENrException {
public:
    using ENrException::ENrException;
};

QString Format(const QString& fmt, const TVarRecs& args);
