#include "ofm/close_files.h"

#include <cstring>

#include "cifsmonitoring/monitoring.h"
#include "plugin/trace.h"

using namespace kel2cifs;

int closeCIFSFiles(const char *path) {
    KEL2CIFS_TRACE(debug, "file to close %s", path);
    return Ext_CloseFileByFileName(path);
}

int parseDataToCloseCIFSFiles(const char *data) {
    if (data == nullptr || data[0] == '\0') {
        return 0;
    }
    constexpr std::size_t kOpenLength = sizeof(kFileNameOpenTag) - 1;
    constexpr std::size_t kCloseLength = sizeof(kFileNameCloseTag) - 1;

    const char *position = data;
    while (*position != '\0') {
        const char *open = std::strstr(position, kFileNameOpenTag);
        if (open == nullptr) {
            break;
        }
        const char *name = open + kOpenLength;
        const char *close = std::strstr(name, kFileNameCloseTag);
        if (close == nullptr) {
            break;
        }
        char path[kCloseNameSize];
        std::size_t length = static_cast<std::size_t>(close - name);
        if (length > sizeof(path) - 1) {
            length = sizeof(path) - 1;
        }
        std::memcpy(path, name, length);
        path[length] = '\0';

        KEL2CIFS_TRACE(debug, "file name is %s", path);
        if (closeCIFSFiles(path) != 0) {
            KEL2CIFS_TRACE(debug, "Close File Operation failed for file:%s", path);
        }
        position = close + kCloseLength;
    }
    return 0;
}
