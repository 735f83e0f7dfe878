// file_viewer.cpp: the file viewer's checks.
#include "console/file_viewer.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kel2cifs/locations.h"

namespace kel::console {
namespace {

// The resolved form of `path`, or empty.
std::string Resolve(const std::string &path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr),
                                                         &std::free);
    return resolved != nullptr ? std::string(resolved.get()) : std::string();
}

bool HasDotComponent(std::string_view path) {
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        std::string_view component = path.substr(0, slash);
        if (component == "." || component == "..") {
            return true;
        }
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    }
    return false;
}

bool IsInside(const std::string &base, const std::string &path) {
    if (base == "/") {
        return path.size() > 1 && path[0] == '/';
    }
    return path.size() > base.size() + 1 && path.compare(0, base.size(), base) == 0 &&
           path[base.size()] == '/';
}

}  // namespace

std::string DefaultLogDirectory() {
    const char *root = std::getenv(kel2cifs_locations::kRootVariable);
    if (root == nullptr || *root == '\0') {
        return kel2cifs_locations::kLogDirectory;
    }
    std::string base = root;
    while (base.size() > 1 && base.back() == '/') {
        base.pop_back();
    }
    if (base == "/") {
        base.clear();
    }
    return base + kel2cifs_locations::kLogDirectory;
}

int OpenViewableFile(std::string_view logDirectory, std::string_view path, std::uint64_t *size) {
    if (path.empty() || path[0] != '/' || path.find('\0') != std::string_view::npos ||
        HasDotComponent(path)) {
        return -1;
    }
    const std::string base = Resolve(std::string(logDirectory));
    const std::string file = Resolve(std::string(path));
    if (base.empty() || file.empty() || !IsInside(base, file)) {
        return -1;
    }
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return -1;
    }
    // The path may have changed between resolving and opening: what counts is what was opened.
    char link[64];
    std::snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
    char opened[PATH_MAX];
    const ssize_t length = readlink(link, opened, sizeof(opened) - 1);
    struct stat st {};
    if (length <= 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        !IsInside(base, std::string(opened, static_cast<std::size_t>(length)))) {
        close(fd);
        return -1;
    }
    *size = static_cast<std::uint64_t>(st.st_size);
    return fd;
}

}  // namespace kel::console
