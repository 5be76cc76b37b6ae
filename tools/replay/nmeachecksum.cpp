#include "nmeachecksum.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool IsSentenceStart(char c) {
    return c == '$' || c == '!';
}

} // namespace

std::optional<size_t> NmeaChecksumField(std::string_view sentence) {
    if (sentence.empty() || !IsSentenceStart(sentence.front())) return std::nullopt;
    // '*' is reserved in NMEA 0183: the first one introduces the checksum.
    const size_t star = sentence.find('*');
    if (star == std::string_view::npos || star + 3 > sentence.size()) return std::nullopt;
    if (HexValue(sentence[star + 1]) < 0 || HexValue(sentence[star + 2]) < 0) return std::nullopt;
    return star;
}

std::uint8_t ComputeNmeaChecksum(std::string_view sentence, size_t star) {
    std::uint8_t sum = 0;
    for (size_t i = 1; i < star; ++i)
        sum ^= static_cast<std::uint8_t>(sentence[i]);
    return sum;
}

bool NmeaChecksumValid(std::string_view sentence) {
    const auto star = NmeaChecksumField(sentence);
    if (!star) return false;
    const int written = HexValue(sentence[*star + 1]) * 16 + HexValue(sentence[*star + 2]);
    return written == ComputeNmeaChecksum(sentence, *star);
}

bool CorruptNmeaChecksum(std::string& sentence) {
    const auto star = NmeaChecksumField(sentence);
    if (!star) return false;
    const std::uint8_t correct = ComputeNmeaChecksum(sentence, *star);
    const int written = HexValue(sentence[*star + 1]) * 16 + HexValue(sentence[*star + 2]);
    std::uint8_t wrong = correct ^ 0xFF;
    if (wrong == written) wrong = correct ^ 0x0F;
    const bool lower = (sentence[*star + 1] >= 'a' && sentence[*star + 1] <= 'f') ||
                       (sentence[*star + 2] >= 'a' && sentence[*star + 2] <= 'f');
    const char* digits = lower ? "0123456789abcdef" : "0123456789ABCDEF";
    sentence[*star + 1] = digits[wrong >> 4];
    sentence[*star + 2] = digits[wrong & 0x0F];
    return true;
}
