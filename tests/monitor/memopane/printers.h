// Readable strings in gtest failure messages.
#pragma once

#include <QString>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toUtf8().replace('\r', "\\r").replace('\n', "\\n").toStdString() << '"';
}
