// maintenance.cpp: directory chains and the log-rotation control file.
//
// These functions report through errno values only and write nothing to the log.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "logger/logger.h"

using namespace kel2cifs;

namespace {

constexpr unsigned kDefaultDirectoryMode = 0777;
constexpr unsigned kLinuxPathMode = 0744;
constexpr mode_t kControlFileMode = 0644;

}  // namespace

int make_path(const char *path, unsigned mode) {
    if (path == nullptr) {
        errno = EINVAL;
        return -1;
    }
    // Each parent is created from the copy cut at its slash.
    std::string copy;
    try {
        copy = path;
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return -1;
    }
    const mode_t directoryMode = mode != 0 ? mode : kDefaultDirectoryMode;
    char *text = copy.data();
    // The root itself is never created.
    char *cursor = *text == '/' ? text + 1 : text;
    for (;;) {
        char *slash = std::strchr(cursor, '/');
        const bool last = slash == nullptr || slash[1] == '\0';
        if (slash != nullptr) {
            *slash = '\0';
        }
        if (mkdir(text, directoryMode) != 0) {
            if (errno != EEXIST && errno != EISDIR) {
                return -1;
            }
            struct stat status;
            if (stat(text, &status) != 0) {
                return -1;
            }
            if (!S_ISDIR(status.st_mode)) {
                errno = last ? EEXIST : ENOTDIR;
                return -1;
            }
        }
        if (last) {
            return 0;
        }
        *slash = '/';
        cursor = slash + 1;
    }
}

int MakeLinuxPath(const char *path) {
    return make_path(path, kLinuxPathMode) == 0 ? 0 : errno;
}

int SetupLogRotateControlFile(const char *directory, const char *controlPath, const char *linkPath,
                              const char *content) {
    if (directory == nullptr || controlPath == nullptr || linkPath == nullptr) {
        return EINVAL;
    }
    MakeLinuxPath(directory);

    struct stat status;
    // An existing control file is the administrator's: it is never rewritten.
    if (stat(controlPath, &status) != 0) {
        FILE *file = OpenCreatingWithMode(controlPath, O_RDWR | O_TRUNC, kControlFileMode, "w+");
        if (file == nullptr) {
            return errno;
        }
        int writeError = 0;
        const std::size_t length = content != nullptr ? std::strlen(content) : 0;
        if (std::fwrite(content != nullptr ? content : "", 1, length, file) != length ||
            std::fflush(file) != 0) {
            writeError = errno;
        }
        // Created 0644 already; this restores what a narrower umask took away.
        fchmod(fileno(file), kControlFileMode);
        if (std::fclose(file) != 0 && writeError == 0) {
            writeError = errno;
        }
        if (writeError != 0) {
            return writeError;
        }
    }
    // Anything at linkPath, a dangling link included, is left as it is.
    if (lstat(linkPath, &status) != 0 && symlink(controlPath, linkPath) != 0) {
        return errno;
    }
    return 0;
}
