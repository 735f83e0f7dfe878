// harden_closer.cpp: closes files of the demo state through the monitoring library, to show
// that closes from several processes at once lose no update.
//
//   harden_closer list OUT
//       Writes every open path of every volume, one a line, sorted, without duplicates.
//   harden_closer close LIST PART PARTS SECONDS OUT
//       Closes, one by one and for at most SECONDS, the paths of LIST whose line number is PART
//       modulo PARTS (so that processes given different parts never close the same file), and
//       writes each path it closed to OUT. A close that fails is a finding: nobody else closes
//       that path.
//   harden_closer verify LIST CLOSED...
//       Checks that the open paths now are exactly those of LIST less those of the CLOSED files.
//
// The library is found as libcifsmonitoring.so; the state file is the one its environment names.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "cifsmonitoring/monitoring.h"

namespace {

// Every path open on any volume now; false when a listing fails.
bool OpenPaths(std::set<std::string> *paths) {
    int count = 0;
    VolumeDetailsNode *volumes = nullptr;
    int status = Ext_ListVolumeDetails(&count, &volumes);
    if (status != 0) {
        std::fprintf(stderr, "harden_closer: Ext_ListVolumeDetails failed: %d\n", status);
        return false;
    }
    bool ok = true;
    for (VolumeDetailsNode *volume = volumes; volume != nullptr && ok; volume = volume->next) {
        VolFileListNode *files = nullptr;
        int connections = 0;
        status = Ext_ListVolFileDetails(volume->volumeName, &files, &connections);
        if (status != 0) {
            std::fprintf(stderr, "harden_closer: Ext_ListVolFileDetails(%s) failed: %d\n",
                         volume->volumeName, status);
            ok = false;
        }
        for (VolFileListNode *node = files; node != nullptr; node = node->next) {
            for (unsigned i = 0; i < node->fileCount && node->fileNames != nullptr; ++i) {
                if (node->fileNames[i] != nullptr) {
                    paths->insert(node->fileNames[i]);
                }
            }
        }
        FreeVolFileListNodes(&files);
    }
    FreeVolsDetailsNode(&volumes);
    return ok;
}

bool ReadLines(const char *path, std::vector<std::string> *lines) {
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "harden_closer: cannot read %s\n", path);
        return false;
    }
    for (std::string line; std::getline(in, line);) {
        lines->push_back(line);
    }
    return true;
}

int List(const char *out) {
    std::set<std::string> paths;
    if (!OpenPaths(&paths)) {
        return 1;
    }
    std::ofstream file(out);
    for (const std::string &path : paths) {
        if (path.find('\n') != std::string::npos) {
            continue;  // cannot be written as a line; left to the other closers' checks
        }
        file << path << '\n';
    }
    std::printf("harden_closer: %zu open paths listed\n", paths.size());
    return file ? 0 : 1;
}

int Close(const char *list, unsigned part, unsigned parts, unsigned seconds, const char *out) {
    std::vector<std::string> paths;
    if (parts == 0 || part >= parts || !ReadLines(list, &paths)) {
        return 2;
    }
    std::ofstream closed(out);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    unsigned long done = 0;
    unsigned long failures = 0;
    for (std::size_t i = part; i < paths.size(); i += parts) {
        if (std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        const int status = Ext_CloseFileByFileName(paths[i].c_str());
        if (status != 0) {
            std::fprintf(stderr, "harden_closer: part %u: closing %s failed: %d\n", part,
                         paths[i].c_str(), status);
            ++failures;
            continue;
        }
        closed << paths[i] << '\n' << std::flush;
        ++done;
    }
    std::printf("harden_closer: part %u closed %lu files, %lu failures\n", part, done, failures);
    return failures == 0 && closed ? 0 : 1;
}

int Verify(const char *list, int count, char **closedLists) {
    std::vector<std::string> initial;
    if (!ReadLines(list, &initial)) {
        return 2;
    }
    std::set<std::string> expected(initial.begin(), initial.end());
    std::size_t closed = 0;
    for (int i = 0; i < count; ++i) {
        std::vector<std::string> lines;
        if (!ReadLines(closedLists[i], &lines)) {
            return 2;
        }
        closed += lines.size();
        for (const std::string &line : lines) {
            expected.erase(line);
        }
    }
    std::set<std::string> now;
    if (!OpenPaths(&now)) {
        return 1;
    }
    std::vector<std::string> reopened;  // closed, yet open again: a lost update
    std::set_difference(now.begin(), now.end(), expected.begin(), expected.end(),
                        std::back_inserter(reopened));
    std::vector<std::string> vanished;  // never closed, yet gone
    std::set_difference(expected.begin(), expected.end(), now.begin(), now.end(),
                        std::back_inserter(vanished));
    for (const std::string &path : reopened) {
        std::fprintf(stderr, "harden_closer: closed but open again: %s\n", path.c_str());
    }
    for (const std::string &path : vanished) {
        std::fprintf(stderr, "harden_closer: gone without a close: %s\n", path.c_str());
    }
    std::printf("harden_closer: %zu paths before, %zu closed, %zu open now (%zu expected)\n",
                initial.size(), closed, now.size(), expected.size());
    return reopened.empty() && vanished.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "list" && argc == 3) {
        return List(argv[2]);
    }
    if (mode == "close" && argc == 7) {
        return Close(argv[2], static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)),
                     static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)),
                     static_cast<unsigned>(std::strtoul(argv[5], nullptr, 10)), argv[6]);
    }
    if (mode == "verify" && argc >= 4) {
        return Verify(argv[2], argc - 3, argv + 3);
    }
    std::fputs(
        "usage: harden_closer list OUT\n"
        "       harden_closer close LIST PART PARTS SECONDS OUT\n"
        "       harden_closer verify LIST CLOSED...\n",
        stderr);
    return 2;
}
