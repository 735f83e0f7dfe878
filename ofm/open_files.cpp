#include "ofm/open_files.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "cifsmonitoring/monitoring.h"
#include "ofm/close_files.h"
#include "plugin/html.h"
#include "plugin/records.h"
#include "plugin/trace.h"

using namespace kel2cifs;

namespace {

// A name that fills its field is cut to what the close call takes.
static_assert(kFileNameSize == kCloseNameSize);

// The filters that keep every file: the prefixes of this text, its terminator included.
constexpr char kMatchAllFilter[] = "*.*";

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7f;
}

// A text for the administrator's terminal: the text itself when it holds no control character,
// else a copy with each control character (ESC, CR, LF, every other C0 byte and DEL) written as
// \xHH, so that a file name cannot move the cursor, clear the screen or fake a line.
class TerminalText {
  public:
    explicit TerminalText(const char *text) : text_(text) {
        const char *at = text;
        while (*at != '\0' && !IsControl(static_cast<unsigned char>(*at))) {
            ++at;
        }
        if (*at == '\0') {
            return;
        }
        escaped_.assign(text, at);
        for (; *at != '\0'; ++at) {
            const unsigned char c = static_cast<unsigned char>(*at);
            if (IsControl(c)) {
                char code[5];
                std::snprintf(code, sizeof(code), "\\x%02x", c);
                escaped_ += code;
            } else {
                escaped_ += static_cast<char>(c);
            }
        }
        text_ = escaped_.c_str();
    }
    TerminalText(const TerminalText &) = delete;
    TerminalText &operator=(const TerminalText &) = delete;

    const char *c_str() const { return text_; }

  private:
    const char *text_;
    std::string escaped_;
};

bool IsFilterActive(const char *filter) {
    std::size_t length = strnlen(filter, sizeof(kMatchAllFilter));
    return length >= sizeof(kMatchAllFilter) || std::strncmp(filter, kMatchAllFilter, length) != 0;
}

}  // namespace

int NameCompare(const char *fileName, const char *filter) {
    if (fileName == nullptr) {
        fileName = "";
    }
    if (filter == nullptr) {
        filter = "";
    }
    KEL2CIFS_TRACE(debug, "\n ###Start retVal at NameCompare is %d for fileName:%s -- filter:%s",
                   -1, fileName, filter);

    const char *extension = fileName;
    for (const char *dot = std::strchr(extension, '.'); dot != nullptr;
         dot = std::strchr(extension, '.')) {
        extension = dot + 1;
    }
    // The first two characters of a filter (normally "*.") are skipped unexamined; a shorter
    // filter has nothing after them.
    const char *filterExtension = strnlen(filter, 2) < 2 ? "" : filter + 2;

    int result = std::strcmp(extension, filterExtension);
    std::printf("\n ###End retVal at NameCompare is %d for fileName:%s -- filter:%s", result,
                TerminalText(extension).c_str(), TerminalText(filter).c_str());
    return result;
}

int GetOpenFileList(const char *volumeName, OpenFileInfo **list, const char *filter) {
    return ListOpenFiles(volumeName, list, filter, nullptr);
}

int kel2cifs::ListOpenFiles(const char *volumeName, OpenFileInfo **list, const char *filter,
                            int *listingStatus) {
    if (filter == nullptr) {
        filter = "";
    }
    Held<VolFileListNode, FreeVolFileListNodes> files;
    int count = 0;
    int status = Ext_ListVolFileDetails(volumeName, files.out(), &count);
    if (listingStatus != nullptr) {
        *listingStatus = status;
    }
    if (status != 0) {
        KEL2CIFS_TRACE(debug, "Ext_ListVolFileDetails() has failed with error = %d", status);
        return -1;
    }

    const bool active = IsFilterActive(filter);
    OpenFileInfo *result = nullptr;
    OpenFileInfo **tail = &result;

    const VolFileListNode *record = files.get();
    for (int i = 0; i < count && record != nullptr; ++i, record = record->next) {
        if (record->fileCount == 0 || record->fileNames == nullptr ||
            record->fileNames[0] == nullptr) {
            continue;
        }
        for (int j = 0; j < record->fileCount && record->fileNames[j] != nullptr; ++j) {
            const char *entry = record->fileNames[j];
            if (active && NameCompare(entry, filter) != 0) {
                KEL2CIFS_TRACE(debug, "\n ### Skiping file:%s--%d", entry, j);
                continue;
            }
            // Not zero-filled: every field is set below and each text is terminated; clearing
            // all 776 bytes of every node is a measurable share of building a long list.
            auto *node = static_cast<OpenFileInfo *>(std::malloc(sizeof(OpenFileInfo)));
            if (node == nullptr) {
                KEL2CIFS_TRACE(debug, "memory alloc failed in fun GetOpenFileList");
                FreeOpenFileList(result);
                return -1;
            }
            node->connNumberAlt = record->connNumber;
            node->connNumber = record->connNumber;
            CopyField(node->userName, FieldText(record->userName));
            const std::size_t length = strnlen(entry, kFileNameSize);
            node->nameCut = length == kFileNameSize;
            if (node->nameCut) {
                const std::string_view whole(entry, length);
                const std::size_t kept = CutNameLength(whole);
                std::memcpy(node->fileName, entry, kept);
                std::memcpy(node->fileName + kept, kCutMark.data(), kCutMark.size());
                node->fileName[kept + kCutMark.size()] = '\0';
            } else {
                CopyField(node->fileName, std::string_view(entry, length));
            }
            node->next = nullptr;
            *tail = node;
            tail = &node->next;
        }
    }

    *list = result;
    return 0;
}

void kel2cifs::FreeOpenFileList(OpenFileInfo *list) {
    while (list != nullptr) {
        OpenFileInfo *next = list->next;
        std::free(list);
        list = next;
    }
}

int path_check(const char *a, const char *b) {
    if (a == nullptr || b == nullptr) {
        return 0;
    }
    std::size_t i = 0;
    while (a[i] != '\0' && a[i] == b[i]) {
        ++i;
    }
    if (a[i] == b[i]) {
        return 1;
    }
    // One text ends here (the other one continues): the longer must go on with a "/".
    if (a[i] == '\0') {
        return b[i] == '/' ? 1 : 0;
    }
    if (b[i] == '\0') {
        return a[i] == '/' ? 1 : 0;
    }
    return 0;
}

CIFSVolumeNode *getVolumeNode(const char *name, const char *description) {
    auto *node = static_cast<CIFSVolumeNode *>(std::calloc(1, sizeof(CIFSVolumeNode)));
    if (node == nullptr) {
        return nullptr;
    }
    CopyField(node->name, TextOf(name));
    CopyField(node->description, TextOf(description));
    node->next = nullptr;
    return node;
}

int GetVolumeList(CIFSVolumeList **list) {
    if (list == nullptr) {
        return 0;
    }
    auto *header = static_cast<CIFSVolumeList *>(std::calloc(1, sizeof(CIFSVolumeList)));
    *list = header;
    if (header == nullptr) {
        return 0;
    }
    static constexpr const char *kSamples[][2] = {
        {"SYS", "SYS Volume"},
        {"VOLA", "VOLUMEA"},
        {"VOLBVOLAVOLAVADASDDS", "VOLUMEB"},
    };
    header->count = 2;
    CIFSVolumeNode **tail = &header->first;
    for (const auto &sample : kSamples) {
        CIFSVolumeNode *node = getVolumeNode(sample[0], sample[1]);
        if (node == nullptr) {
            break;
        }
        *tail = node;
        tail = &node->next;
    }
    return 0;
}

void kel2cifs::FreeCIFSVolumeList(CIFSVolumeList *list) {
    if (list == nullptr) {
        return;
    }
    CIFSVolumeNode *node = list->first;
    while (node != nullptr) {
        CIFSVolumeNode *next = node->next;
        std::free(node);
        node = next;
    }
    std::free(list);
}
