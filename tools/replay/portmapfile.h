// TPortMapFile: this tool's entries in a serial-port map file, the file that tells the
// serial library which device each port name "COMn" opens ("COMn = /dev/pts/N", one
// entry a line, '#' starts a comment).
//
// Set() points a name at a device: a line already naming that port is replaced where it
// stands (and remembered), otherwise the entry is added at the end. Remove() takes the
// tool's line out again and puts back what it replaced. Every other line stays byte for
// byte, line ends included; a file that did not exist before is deleted again when the
// last entry goes. Each edit reads the file afresh under a lock on its folder and
// rewrites it through a temporary file, so tools sharing one map file do not lose each
// other's lines and a reader never sees half a file.
//
// Threads: one thread uses an instance; several processes may edit the same file.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

class TPortMapFile {
public:
    explicit TPortMapFile(std::string path);

    // The user's map: $XDG_CONFIG_HOME/serialcomm/ports, ~/.config/serialcomm/ports
    // when XDG_CONFIG_HOME is unset or not an absolute path.
    static std::string DefaultPath();

    const std::string& Path() const { return fPath; }

    void Set(const std::string& name, const std::string& device);
    void Remove(const std::string& name);
    void RemoveAll();

    // The port name an entry line declares ("" for comments, blanks and other lines).
    static std::string EntryName(const std::string& line);

private:
    struct TOwnEntry {
        std::string Line;                  // our line, without its line end
        std::vector<std::string> Replaced; // foreign lines it replaced, with their line ends
    };
    using TLines = std::vector<std::string>;

    void Edit(const std::function<void(TLines&)>& change);
    void RemoveFrom(TLines& lines, const std::string& key);

    std::string fPath;
    std::map<std::string, TOwnEntry> fEntries; // by upper-case port name
    bool fKnowsIfExisted = false;
    bool fExistedBefore = false;
    bool fAddedFinalLineEnd = false;
};
