// NMEA 0183 checksums: the XOR of every character between the leading '$' or '!' and
// the '*', written as two hexadecimal digits after the '*'.
//
// Threads: pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Position of the '*' of the sentence's checksum field ("*hh"), if it has one.
std::optional<size_t> NmeaChecksumField(std::string_view sentence);

// The checksum computed over the sentence's body (requires a checksum field).
std::uint8_t ComputeNmeaChecksum(std::string_view sentence, size_t star);

// True when the sentence has a checksum field and it matches the body.
bool NmeaChecksumValid(std::string_view sentence);

// Rewrites the checksum digits so that they no longer match the body (and differ from
// what was there); every other byte stays. False when the sentence has no checksum.
bool CorruptNmeaChecksum(std::string& sentence);
