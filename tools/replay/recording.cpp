#include "recording.h"

#include "replayerror.h"
#include "textfile.h"

#include <cerrno>

namespace {

TRecordKind KindOfLine(std::string_view line) {
    if (!line.empty() && (line.front() == '$' || line.front() == '!')) return TRecordKind::rkSentence;
    return TRecordKind::rkText;
}

} // namespace

size_t UbxFrameLength(std::string_view bytes, size_t at) {
    // sync 0xB5 0x62, class, id, little-endian payload length, payload, CK_A, CK_B
    constexpr size_t kHeader = 6;
    if (bytes.size() < at + kHeader + 2) return 0;
    const auto byte = [&](size_t i) { return static_cast<std::uint8_t>(bytes[at + i]); };
    if (byte(0) != 0xB5 || byte(1) != 0x62) return 0;
    const size_t payload = byte(4) | (static_cast<size_t>(byte(5)) << 8);
    const size_t total = kHeader + payload + 2;
    if (bytes.size() - at < total) return 0;
    std::uint8_t a = 0, b = 0; // 8-bit Fletcher over class, id, length and payload
    for (size_t i = 2; i < kHeader + payload; ++i) {
        a = static_cast<std::uint8_t>(a + byte(i));
        b = static_cast<std::uint8_t>(b + a);
    }
    return (a == byte(total - 2) && b == byte(total - 1)) ? total : 0;
}

TRecording TRecording::Load(const std::string& path, bool raw) {
    const auto contents = ReadWholeFile(path);
    if (!contents) throw TReplayError(SystemMessage("cannot open recording " + path, ENOENT));
    return Parse(*contents, raw, path);
}

TRecording TRecording::Parse(std::string_view bytes, bool raw, const std::string& name) {
    TRecording recording;
    recording.fName = name;
    auto add = [&](std::string piece, TRecordKind kind, bool endsLine) {
        recording.fByteCount += piece.size();
        recording.fRecords.push_back(TRecord{std::move(piece), kind, endsLine});
    };

    size_t at = 0;
    while (at < bytes.size()) {
        if (!raw) {
            if (const size_t frame = UbxFrameLength(bytes, at)) {
                add(std::string(bytes.substr(at, frame)), TRecordKind::rkBinary, false);
                at += frame;
                continue;
            }
        }
        const size_t feed = bytes.find('\n', at);
        const size_t next = feed == std::string_view::npos ? bytes.size() : feed + 1;
        std::string_view line = bytes.substr(at, next - at);
        at = next;
        if (raw) {
            add(std::string(line), KindOfLine(line), line.back() == '\n');
            continue;
        }
        if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;
        std::string text(line);
        text += "\r\n";
        add(std::move(text), KindOfLine(line), true);
    }
    return recording;
}
