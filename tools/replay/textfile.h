// Whole-file reads and crash-safe rewrites for the small text files the replay tool
// edits (the serial-port map, the settings file, the ready file).
//
// A rewrite goes to a temporary file in the same folder, is flushed to disk and then
// renamed over the old file, so a reader sees either the old or the new contents, never
// half a file. TFolderLock serialises the read-modify-write of several replay tools that
// share one map file.
//
// Threads: no shared state; call from any thread.
#pragma once

#include <optional>
#include <string>

// The whole file, or nullopt when it does not exist. Other failures throw TReplayError.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Replaces the contents of `path` atomically. An existing file keeps its permission
// bits; a symbolic link keeps pointing at the (rewritten) file it names.
void ReplaceFile(const std::string& path, const std::string& contents);

// Removes `path`; a file that is already gone is fine.
void RemoveFile(const std::string& path);

// Creates the folder `path` and any missing parents (new folders get mode 0700).
void MakeFolders(const std::string& path);

// The folder part of a path ("." for a bare file name).
std::string FolderOf(const std::string& path);

// An exclusive advisory lock on a folder, held while the object lives.
class TFolderLock {
public:
    explicit TFolderLock(const std::string& folder);
    ~TFolderLock();
    TFolderLock(const TFolderLock&) = delete;
    TFolderLock& operator=(const TFolderLock&) = delete;

private:
    int fFd = -1;
};
