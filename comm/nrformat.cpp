#include "nrformat.h"

namespace {

[[noreturn]] void Invalid(const QString& fmt) {
    throw EConvertError(QStringLiteral("Format '%1' invalid or incompatible with argument").arg(fmt));
}

QString Pad(QString text, int width, bool left) {
    if (text.size() < width) {
        const QString fill(width - text.size(), QLatin1Char(' '));
        text = left ? text + fill : fill + text;
    }
    return text;
}

QString Digits(QString digits, int precision) {
    bool negative = digits.startsWith(QLatin1Char('-'));
    if (negative)
        digits.remove(0, 1);
    if (digits.size() < precision)
        digits.prepend(QString(precision - digits.size(), QLatin1Char('0')));
    return negative ? QLatin1Char('-') + digits : digits;
}

} // namespace

QString Format(const QString& fmt, const TVarRecs& args) {
    QString out;
    out.reserve(fmt.size() + 16);
    std::size_t next = 0;
    const int n = fmt.size();
    for (int i = 0; i < n; ++i) {
        const QChar ch = fmt[i];
        if (ch != QLatin1Char('%')) {
            out += ch;
            continue;
        }
        if (++i >= n)
            Invalid(fmt);
        if (fmt[i] == QLatin1Char('%')) {
            out += QLatin1Char('%');
            continue;
        }
        bool left = false;
        if (fmt[i] == QLatin1Char('-')) {
            left = true;
            ++i;
        }
        int width = 0, precision = -1;
        while (i < n && fmt[i].isDigit())
            width = width * 10 + fmt[i++].digitValue();
        if (i < n && fmt[i] == QLatin1Char('.')) {
            precision = 0;
            ++i;
            while (i < n && fmt[i].isDigit())
                precision = precision * 10 + fmt[i++].digitValue();
        }
        if (i >= n || next >= args.size())
            Invalid(fmt);
        const TVarRec& arg = args[next++];
        const QChar type = fmt[i].toLower();
        QString piece;
        if (type == QLatin1Char('s') || type == QLatin1Char('c')) {
            if (arg.Kind() != TVarRec::vtString)
                Invalid(fmt);
            piece = arg.AsString();
            if (type == QLatin1Char('c'))
                piece = piece.left(1);
            else if (precision >= 0)
                piece.truncate(precision);
        } else {
            if (arg.Kind() == TVarRec::vtString)
                Invalid(fmt);
            const auto v32 = static_cast<std::uint32_t>(arg.AsInteger());
            if (type == QLatin1Char('d'))
                piece = Digits(QString::number(static_cast<std::int32_t>(v32)), precision);
            else if (type == QLatin1Char('u'))
                piece = Digits(QString::number(v32), precision);
            else if (type == QLatin1Char('x')) {
                piece = Digits(QString::number(v32, 16), precision);
                if (fmt[i] == QLatin1Char('X'))
                    piece = piece.toUpper();
            } else
                Invalid(fmt);
        }
        out += Pad(piece, width, left);
    }
    return out;
}
