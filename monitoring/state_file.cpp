#include "monitoring/state_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

#include "monitoring/status.h"

namespace cifsmon {

namespace {

std::atomic<BeforeRenameHook> beforeRenameHook{nullptr};

std::string Why(const std::string &what, const std::string &path) {
    return what + " " + path + ": " + std::strerror(errno);
}

std::string DirectoryOf(const std::string &path) {
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

bool WriteAll(int fd, std::string_view content) {
    while (!content.empty()) {
        ssize_t written = write(fd, content.data(), content.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        content.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

StateFileReader::~StateFileReader() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

int StateFileReader::Open(const std::string &path, std::string *error) {
    path_ = &path;
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        int status = errno == ENOENT ? kStatusStateMissing : kStatusIoError;
        *error = Why("cannot open", path);
        return status;
    }
    struct stat status;
    if (fstat(fd_, &status) != 0) {
        *error = Why("cannot examine", path);
        return kStatusIoError;
    }
    if (!S_ISREG(status.st_mode)) {
        *error = "not a regular file: " + path;
        return kStatusIoError;
    }
    stamp_.device = status.st_dev;
    stamp_.inode = status.st_ino;
    stamp_.size = status.st_size;
    stamp_.modifiedSeconds = status.st_mtim.tv_sec;
    stamp_.modifiedNanoseconds = status.st_mtim.tv_nsec;
    stamp_.changedSeconds = status.st_ctim.tv_sec;
    stamp_.changedNanoseconds = status.st_ctim.tv_nsec;
    return kStatusOk;
}

int StateFileReader::Read(std::string *content, std::string *error) {
    content->clear();
    content->reserve(static_cast<std::size_t>(stamp_.size));
    std::vector<char> buffer(1 << 16);
    for (;;) {
        ssize_t got = read(fd_, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            *error = Why("cannot read", *path_);
            return kStatusIoError;
        }
        if (got == 0) {
            return kStatusOk;
        }
        content->append(buffer.data(), static_cast<std::size_t>(got));
    }
}

int ReadStateFile(const std::string &path, std::string *content, std::string *error) {
    content->clear();
    StateFileReader reader;
    int status = reader.Open(path, error);
    return status != kStatusOk ? status : reader.Read(content, error);
}

StateFileLock::~StateFileLock() {
    if (fd_ >= 0) {
        close(fd_);  // releases the flock
    }
}

int StateFileLock::Acquire(const std::string &statePath, std::string *error) {
    std::string lockPath = statePath + ".lock";
    fd_ = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        *error = Why("cannot open the lock file", lockPath);
        return kStatusIoError;
    }
    while (flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            *error = Why("cannot lock", lockPath);
            return kStatusIoError;
        }
    }
    return kStatusOk;
}

int WriteFileAtomically(const std::string &path, std::string_view content, std::string *error) {
    mode_t mode = 0644;
    struct stat old;
    if (stat(path.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    }
    std::string temporary = path + ".tmp.XXXXXX";
    int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = Why("cannot create a temporary file for", path);
        return kStatusIoError;
    }
    auto abandon = [&](const std::string &why) {
        *error = why;
        close(fd);
        unlink(temporary.c_str());
        return kStatusIoError;
    };
    if (fchmod(fd, mode) != 0) {
        return abandon(Why("cannot set the mode of", temporary));
    }
    if (!WriteAll(fd, content)) {
        return abandon(Why("cannot write", temporary));
    }
    if (fsync(fd) != 0) {
        return abandon(Why("cannot flush", temporary));
    }
    if (BeforeRenameHook hook = beforeRenameHook.load(); hook != nullptr && hook(temporary)) {
        return abandon("write abandoned before the rename of " + temporary);
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        return abandon(Why("cannot rename " + temporary + " to", path));
    }
    close(fd);
    // The rename is durable only once the directory entry is on disk.
    std::string directory = DirectoryOf(path);
    int directoryFd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directoryFd < 0) {
        *error = Why("cannot open the directory", directory);
        return kStatusIoError;
    }
    int synced = fsync(directoryFd);
    int syncErrno = errno;
    close(directoryFd);
    if (synced != 0) {
        errno = syncErrno;
        *error = Why("cannot flush the directory", directory);
        return kStatusIoError;
    }
    return kStatusOk;
}

void SetBeforeRenameHookForTesting(BeforeRenameHook hook) {
    beforeRenameHook.store(hook);
}

}  // namespace cifsmon
