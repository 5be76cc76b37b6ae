#include "settingsfile.h"

#include "textfile.h"

#include <strings.h>

namespace {

std::string Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

bool SameName(const std::string& a, const std::string& b) {
    return ::strcasecmp(a.c_str(), b.c_str()) == 0;
}

// The name of a section line "[name]", or false for any other line.
bool SectionName(const std::string& line, std::string& name) {
    const std::string text = Trimmed(line);
    if (text.empty() || text.front() != '[') return false;
    const auto close = text.find(']');
    if (close == std::string::npos) return false;
    name = Trimmed(std::string_view(text).substr(1, close - 1));
    return true;
}

bool KeyName(const std::string& line, std::string& name) {
    const std::string text = Trimmed(line);
    if (text.empty() || text.front() == ';' || text.front() == '[') return false;
    const auto equals = text.find('=');
    if (equals == std::string::npos) return false;
    name = Trimmed(std::string_view(text).substr(0, equals));
    return true;
}

} // namespace

TIniText::TIniText(std::string_view text) {
    size_t at = 0;
    while (at < text.size()) {
        const size_t feed = text.find('\n', at);
        const size_t next = feed == std::string_view::npos ? text.size() : feed + 1;
        std::string_view line = text.substr(at, (feed == std::string_view::npos ? text.size() : feed) - at);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        fLines.emplace_back(line);
        at = next;
    }
}

void TIniText::WriteValue(const std::string& section, const std::string& key, const std::string& value) {
    const std::string entry = key + "=" + value;
    std::string name;
    size_t start = 0;
    while (start < fLines.size() && !(SectionName(fLines[start], name) && SameName(name, section)))
        ++start;
    if (start == fLines.size()) {
        fLines.push_back("[" + section + "]");
        fLines.push_back(entry);
        return;
    }
    size_t end = start + 1;
    while (end < fLines.size() && !SectionName(fLines[end], name))
        ++end;
    size_t lastFilled = start;
    for (size_t i = start + 1; i < end; ++i) {
        if (KeyName(fLines[i], name) && SameName(name, key)) {
            fLines[i] = entry;
            return;
        }
        if (!Trimmed(fLines[i]).empty()) lastFilled = i;
    }
    fLines.insert(fLines.begin() + static_cast<std::ptrdiff_t>(lastFilled + 1), entry);
}

std::string TIniText::Text() const {
    std::string text;
    for (const auto& line : fLines)
        text += line + "\r\n";
    return text;
}

void WritePortSettingsFile(const std::string& path, const std::vector<TPortSettings>& channels) {
    static const char* const kSections[] = {"ComPort GPS", "ComPort AIS"};
    TIniText ini(ReadWholeFile(path).value_or(std::string()));
    for (size_t i = 0; i < channels.size() && i < 2; ++i) {
        const TPortSettings& port = channels[i];
        ini.WriteValue(kSections[i], "ComNb", std::to_string(port.ComNb));
        ini.WriteValue(kSections[i], "BaudRate", std::to_string(port.BaudRate));
        ini.WriteValue(kSections[i], "DataBits", std::to_string(port.DataBits));
        ini.WriteValue(kSections[i], "StopBits", std::to_string(port.StopBits));
        ini.WriteValue(kSections[i], "Parity", std::to_string(port.Parity));
    }
    ReplaceFile(path, ini.Text());
}
