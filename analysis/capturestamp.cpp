#include "capturestamp.h"

#include <cstdio>
#include <ctime>

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian), and back.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool Digits(std::string_view text, std::size_t at, std::size_t count, unsigned& value) {
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return true;
}

} // namespace

std::string UtcStamp(std::int64_t utcMicros) {
    std::int64_t seconds = utcMicros / 1000000;
    std::int64_t micros = utcMicros % 1000000;
    if (micros < 0) {
        micros += 1000000;
        --seconds;
    }
    const auto t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(micros / 1000));
    return text;
}

std::size_t ParseUtcStamp(std::string_view line, std::int64_t& utcMicros) {
    if (line.size() < kUtcStampLength) return 0;
    static constexpr char kShape[] = "dddd-dd-ddTdd:dd:dd.dddZ ";
    for (std::size_t i = 0; i < kUtcStampLength; ++i) {
        const bool digit = line[i] >= '0' && line[i] <= '9';
        if (kShape[i] == 'd' ? !digit : line[i] != kShape[i]) return 0;
    }
    unsigned year, month, day, hour, minute, second, milli;
    Digits(line, 0, 4, year);
    Digits(line, 5, 2, month);
    Digits(line, 8, 2, day);
    Digits(line, 11, 2, hour);
    Digits(line, 14, 2, minute);
    Digits(line, 17, 2, second);
    Digits(line, 20, 3, milli);
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return 0;
    const std::int64_t days = DaysFromCivil(year, month, day);
    utcMicros = ((days * 24 + hour) * 60 + minute) * 60 * 1000000 + std::int64_t(second) * 1000000 +
                std::int64_t(milli) * 1000;
    return kUtcStampLength;
}

void TCaptureStamper::Stamp(const std::uint8_t* data, std::size_t size, std::int64_t utcMicros, std::string& out) {
    std::string stamp;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t b = data[i];
        if (b == '\n' && fAfterCr) {
            // The LF of a CR LF belongs to the line the CR ended.
            out.push_back('\n');
            fAfterCr = false;
            fAtLineStart = true;
            continue;
        }
        if (fAtLineStart) {
            if (stamp.empty()) stamp = UtcStamp(utcMicros);
            out += stamp;
            fAtLineStart = false;
        }
        out.push_back(static_cast<char>(b));
        fAfterCr = b == '\r';
        fAtLineStart = b == '\r' || b == '\n';
    }
}
