#include "portmapfile.h"

#include "textfile.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace {

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// A line without its line end ("\n" or "\r\n").
std::string Content(const std::string& line) {
    size_t end = line.size();
    if (end > 0 && line[end - 1] == '\n') {
        --end;
        if (end > 0 && line[end - 1] == '\r') --end;
    }
    return line.substr(0, end);
}

std::string LineEnd(const std::string& line) {
    return line.substr(Content(line).size());
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        const size_t feed = text.find('\n', at);
        const size_t next = feed == std::string::npos ? text.size() : feed + 1;
        lines.push_back(text.substr(at, next - at));
        at = next;
    }
    return lines;
}

std::string Join(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += line;
    return text;
}

} // namespace

TPortMapFile::TPortMapFile(std::string path) : fPath(std::move(path)) {}

std::string TPortMapFile::DefaultPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/') return std::string(config) + "/serialcomm/ports";
    const char* home = std::getenv("HOME");
    std::string homeDir = home && home[0] ? home : "";
    if (homeDir.empty()) {
        if (const passwd* user = ::getpwuid(::getuid())) homeDir = user->pw_dir;
    }
    return homeDir + "/.config/serialcomm/ports";
}

std::string TPortMapFile::EntryName(const std::string& line) {
    std::string content = Content(line);
    const auto hash = content.find('#');
    if (hash != std::string::npos) content.erase(hash);
    const auto equals = content.find('=');
    if (equals == std::string::npos) return {};
    return Trimmed(content.substr(0, equals));
}

void TPortMapFile::Edit(const std::function<void(TLines&)>& change) {
    const std::string folder = FolderOf(fPath);
    MakeFolders(folder);
    TFolderLock lock(folder);
    const auto contents = ReadWholeFile(fPath);
    if (!fKnowsIfExisted) {
        fKnowsIfExisted = true;
        fExistedBefore = contents.has_value();
    }
    TLines lines = SplitLines(contents.value_or(std::string()));
    change(lines);
    if (lines.empty() && !fExistedBefore)
        RemoveFile(fPath);
    else
        ReplaceFile(fPath, Join(lines));
}

void TPortMapFile::Set(const std::string& name, const std::string& device) {
    const std::string key = Upper(name);
    const std::string ours = name + " = " + device;
    Edit([&](TLines& lines) {
        TOwnEntry& entry = fEntries[key];
        if (!entry.Line.empty()) {
            // Moving an entry we own (the device was made anew): rewrite it in place.
            for (auto& line : lines) {
                if (Content(line) == entry.Line) {
                    line = ours + LineEnd(line);
                    entry.Line = ours;
                    return;
                }
            }
        }
        entry.Line = ours;
        auto names = [&](const std::string& line) { return Upper(EntryName(line)) == key; };
        const auto first = std::find_if(lines.begin(), lines.end(), names);
        if (first != lines.end()) {
            // Gather every line naming this port (normally one) so Remove can put them back.
            std::vector<std::string> replaced;
            for (const auto& line : lines)
                if (names(line)) replaced.push_back(line);
            const std::string end = LineEnd(*first);
            const auto position = first - lines.begin();
            std::erase_if(lines, names);
            lines.insert(lines.begin() + position, ours + end);
            entry.Replaced = std::move(replaced);
            return;
        }
        if (!lines.empty() && LineEnd(lines.back()).empty()) {
            lines.back() += "\n";
            fAddedFinalLineEnd = true;
        }
        lines.push_back(ours + "\n");
    });
}

void TPortMapFile::RemoveFrom(TLines& lines, const std::string& key) {
    const auto found = fEntries.find(key);
    if (found == fEntries.end()) return;
    const TOwnEntry entry = found->second;
    fEntries.erase(found);
    const auto at = std::find_if(lines.begin(), lines.end(),
                                 [&](const std::string& line) { return Content(line) == entry.Line; });
    if (at == lines.end()) return; // someone else took our line out already; leave their edit alone
    const bool wasLast = at + 1 == lines.end();
    const auto position = at - lines.begin();
    lines.erase(at);
    lines.insert(lines.begin() + position, entry.Replaced.begin(), entry.Replaced.end());
    if (wasLast && entry.Replaced.empty() && fAddedFinalLineEnd && !lines.empty() &&
        lines.back().ends_with('\n')) {
        const bool lastIsOurs = std::any_of(fEntries.begin(), fEntries.end(), [&](const auto& own) {
            return Content(lines.back()) == own.second.Line;
        });
        if (!lastIsOurs) {
            // Give back the file's original last line, which had no line end.
            lines.back().pop_back();
            fAddedFinalLineEnd = false;
        }
    }
}

void TPortMapFile::Remove(const std::string& name) {
    const std::string key = Upper(name);
    if (!fEntries.contains(key)) return;
    Edit([&](TLines& lines) { RemoveFrom(lines, key); });
}

void TPortMapFile::RemoveAll() {
    if (fEntries.empty()) return;
    Edit([&](TLines& lines) {
        while (!fEntries.empty())
            RemoveFrom(lines, fEntries.begin()->first);
    });
}
