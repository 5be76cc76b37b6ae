#include "textfile.h"

#include "replayerror.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The file a rewrite must replace: the target of a symbolic link rather than the link.
std::string ResolvedTarget(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
    return path;
}

void WriteAll(int fd, const std::string& contents, const std::string& path) {
    const char* p = contents.data();
    size_t left = contents.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowSystemError("cannot write " + path);
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
}

} // namespace

std::optional<std::string> ReadWholeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return std::nullopt;
        ThrowSystemError("cannot open " + path);
    }
    std::string contents;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            throw TReplayError(SystemMessage("cannot read " + path, error));
        }
        if (n == 0) break;
        contents.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return contents;
}

void ReplaceFile(const std::string& path, const std::string& contents) {
    const std::string target = ResolvedTarget(path);
    std::string temporary = target + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) ThrowSystemError("cannot create a temporary file beside " + target);
    try {
        struct stat old {};
        if (::stat(target.c_str(), &old) == 0) {
            ::fchmod(fd, old.st_mode & 07777);
        } else {
            // mkostemp makes 0600; a new file gets the usual mode under the umask.
            const mode_t mask = ::umask(0);
            ::umask(mask);
            ::fchmod(fd, 0666 & ~mask);
        }
        WriteAll(fd, contents, temporary);
        if (::fsync(fd) != 0) ThrowSystemError("cannot flush " + temporary);
    } catch (...) {
        ::close(fd);
        ::unlink(temporary.c_str());
        throw;
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        throw TReplayError(SystemMessage("cannot write " + temporary, error));
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        throw TReplayError(SystemMessage("cannot replace " + target, error));
    }
}

void RemoveFile(const std::string& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) ThrowSystemError("cannot remove " + path);
}

void MakeFolders(const std::string& path) {
    if (path.empty()) return;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (!S_ISDIR(info.st_mode)) throw TReplayError(SystemMessage("cannot use folder " + path, ENOTDIR));
        return;
    }
    const std::string parent = FolderOf(path);
    if (parent != path && parent != ".") MakeFolders(parent);
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) ThrowSystemError("cannot create folder " + path);
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

TFolderLock::TFolderLock(const std::string& folder) {
    fFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fFd < 0) ThrowSystemError("cannot open folder " + folder);
    while (::flock(fFd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const int error = errno;
            ::close(fFd);
            throw TReplayError(SystemMessage("cannot lock folder " + folder, error));
        }
    }
}

TFolderLock::~TFolderLock() {
    if (fFd >= 0) ::close(fFd); // closing releases the lock
}
