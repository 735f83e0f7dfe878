#include "cifsadmin/model.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "cifsadmin/calls.h"

namespace kel2cifs::admin {
namespace {

template <std::size_t N>
std::string Field(const char (&array)[N]) {
    return std::string(array, strnlen(array, N));
}

template <typename T>
int Compare(const T &a, const T &b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

int CompareFileColumn(const OpenFileRow &a, const OpenFileRow &b, FileColumn column) {
    switch (column) {
        case FileColumn::kVolume:
            return Compare(a.volume, b.volume);
        case FileColumn::kPath:
            return Compare(a.path, b.path);
        case FileColumn::kConnection:
            return Compare(a.connection, b.connection);
        case FileColumn::kUser:
            return Compare(a.user, b.user);
        case FileColumn::kClient:
            return Compare(a.client, b.client);
        case FileColumn::kOpenedAt:
            return Compare(a.openedAt, b.openedAt);
        case FileColumn::kAccess:
            return Compare(AccessText(a.access), AccessText(b.access));
        case FileColumn::kShareMode:
            return Compare(DenyText(a.shareMode), DenyText(b.shareMode));
        case FileColumn::kOplock:
            return Compare(a.oplock, b.oplock);
        case FileColumn::kNode:
            return Compare(a.node, b.node);
    }
    return 0;
}

int CompareSessionColumn(const SessionRow &a, const SessionRow &b, SessionColumn column) {
    switch (column) {
        case SessionColumn::kConnection:
            return Compare(a.connection, b.connection);
        case SessionColumn::kUser:
            return Compare(a.user, b.user);
        case SessionColumn::kClient:
            return Compare(a.client, b.client);
        case SessionColumn::kMachine:
            return Compare(a.machine, b.machine);
        case SessionColumn::kDialect:
            return Compare(a.dialect, b.dialect);
        case SessionColumn::kSigning:
            return Compare(a.signing, b.signing);
        case SessionColumn::kEncryption:
            return Compare(a.encryption, b.encryption);
        case SessionColumn::kOpenFiles:
            return Compare(a.openFiles, b.openFiles);
        case SessionColumn::kConnectedSince:
            return Compare(a.connectedSince, b.connectedSince);
        case SessionColumn::kIdle:
            return Compare(a.idleSeconds, b.idleSeconds);
        case SessionColumn::kBytesIn:
            return Compare(a.bytesIn, b.bytesIn);
        case SessionColumn::kBytesOut:
            return Compare(a.bytesOut, b.bytesOut);
        case SessionColumn::kNode:
            return Compare(a.node, b.node);
    }
    return 0;
}

bool EqualsFolded(std::string_view a, std::string_view b) {
    return Fold(a) == Fold(b);
}

// The report of the listing just made on this thread, when it succeeded; nothing may call the
// library in between, or the report would be that call's.
void ReadNotice(int status, std::string *notice) {
    if (notice != nullptr) {
        *notice = status == CIFSMON_STATUS_OK ? LastReport() : std::string();
    }
}

}  // namespace

std::vector<OpenFileRow> CopyOpenFiles(const CifsOpenFile *list, std::size_t count) {
    std::vector<OpenFileRow> rows;
    if (list == nullptr) {
        return rows;
    }
    rows.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const CifsOpenFile &record = list[i];
        OpenFileRow row;
        row.connection = record.connNumber;
        row.node = record.node;
        row.openedAt = record.openedAt;
        row.access = record.access;
        row.shareMode = record.shareMode;
        row.oplock = Field(record.oplock);
        row.volume = Field(record.volume);
        row.user = Field(record.user);
        row.client = Field(record.client);
        row.path = record.path != nullptr ? record.path : "";
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<SessionRow> CopySessions(const CifsSession *list, std::size_t count) {
    std::vector<SessionRow> rows;
    if (list == nullptr) {
        return rows;
    }
    rows.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const CifsSession &record = list[i];
        SessionRow row;
        row.connection = record.connNumber;
        row.node = record.node;
        row.user = Field(record.user);
        row.client = Field(record.client);
        row.machine = Field(record.machine);
        row.dialect = Field(record.dialect);
        row.signing = Field(record.signing);
        row.encryption = Field(record.encryption);
        row.openFiles = record.openFileCount;
        row.connectedSince = record.connectedSince;
        row.idleSeconds = record.idleSeconds;
        row.bytesIn = record.bytesIn;
        row.bytesOut = record.bytesOut;
        rows.push_back(std::move(row));
    }
    return rows;
}

int ListOpenFiles(std::vector<OpenFileRow> *rows, std::string *notice) {
    const Calls &calls = Use();
    CifsOpenFile *list = nullptr;
    std::size_t count = 0;
    const int status = calls.listOpenFiles(&list, &count);
    ReadNotice(status, notice);
    if (list != nullptr) {
        if (status == CIFSMON_STATUS_OK) {
            *rows = CopyOpenFiles(list, count);
        }
        calls.freeOpenFiles(&list);
    }
    return status;
}

int ListSessions(std::vector<SessionRow> *rows, std::string *notice) {
    const Calls &calls = Use();
    CifsSession *list = nullptr;
    std::size_t count = 0;
    const int status = calls.listSessions(&list, &count);
    ReadNotice(status, notice);
    if (list != nullptr) {
        if (status == CIFSMON_STATUS_OK) {
            *rows = CopySessions(list, count);
        }
        calls.freeSessions(&list);
    }
    return status;
}

std::string AccessText(std::uint32_t access) {
    std::string text;
    if ((access & CIFSMON_ACCESS_READ) != 0) {
        text = "read";
    }
    if ((access & CIFSMON_ACCESS_WRITE) != 0) {
        text += text.empty() ? "write" : "/write";
    }
    if ((access & CIFSMON_ACCESS_DELETE) != 0) {
        text += text.empty() ? "delete" : "/delete";
    }
    return text.empty() ? "-" : text;
}

std::string DenyText(std::uint32_t shareMode) {
    std::string text;
    if ((shareMode & CIFSMON_SHARE_READ) == 0) {
        text = "read";
    }
    if ((shareMode & CIFSMON_SHARE_WRITE) == 0) {
        text += text.empty() ? "write" : "/write";
    }
    if ((shareMode & CIFSMON_SHARE_DELETE) == 0) {
        text += text.empty() ? "delete" : "/delete";
    }
    return text.empty() ? "none" : text;
}

std::string NodeText(std::uint32_t node) {
    return node == CIFSMON_NO_NODE ? std::string() : std::to_string(node);
}

FileColumn FileColumnNamed(std::string_view name) {
    for (std::size_t i = 0; i < std::size(kFileColumnNames); ++i) {
        if (kFileColumnNames[i] == name) {
            return static_cast<FileColumn>(i);
        }
    }
    return FileColumn::kPath;
}

SessionColumn SessionColumnNamed(std::string_view name) {
    for (std::size_t i = 0; i < std::size(kSessionColumnNames); ++i) {
        if (kSessionColumnNames[i] == name) {
            return static_cast<SessionColumn>(i);
        }
    }
    return SessionColumn::kConnection;
}

std::vector<OpenFileRow> FilterOpenFiles(std::vector<OpenFileRow> rows, const FileFilter &filter) {
    const NameSearch search(filter.name);
    const std::u32string user = Fold(filter.user);
    const std::u32string client = Fold(filter.client);
    std::erase_if(rows, [&](const OpenFileRow &row) {
        return !search.Matches(row.path) || !ContainsFolded(user, row.user) ||
               !ContainsFolded(client, row.client) ||
               (!filter.volume.empty() && !EqualsFolded(filter.volume, row.volume));
    });
    return rows;
}

std::vector<SessionRow> FilterSessions(std::vector<SessionRow> rows, std::string_view text) {
    const std::u32string needle = Fold(text);
    std::erase_if(rows, [&](const SessionRow &row) {
        return !ContainsFolded(needle, row.user) && !ContainsFolded(needle, row.client) &&
               !ContainsFolded(needle, row.machine);
    });
    return rows;
}

void SortOpenFiles(std::vector<OpenFileRow> &rows, FileColumn column, bool ascending) {
    std::stable_sort(rows.begin(), rows.end(), [&](const OpenFileRow &a, const OpenFileRow &b) {
        const int order = CompareFileColumn(a, b, column);
        if (order != 0) {
            return ascending ? order < 0 : order > 0;
        }
        return std::tie(a.volume, a.path, a.connection) < std::tie(b.volume, b.path, b.connection);
    });
}

void SortSessions(std::vector<SessionRow> &rows, SessionColumn column, bool ascending) {
    std::stable_sort(rows.begin(), rows.end(), [&](const SessionRow &a, const SessionRow &b) {
        const int order = CompareSessionColumn(a, b, column);
        if (order != 0) {
            return ascending ? order < 0 : order > 0;
        }
        return a.connection < b.connection;
    });
}

PageWindow WindowOf(std::size_t total, std::size_t page, std::size_t size) {
    PageWindow window;
    if (size == 0) {
        size = 1;
    }
    window.pages = total == 0 ? 1 : (total + size - 1) / size;
    window.page = std::clamp<std::size_t>(page, 1, window.pages);
    window.first = std::min(total, (window.page - 1) * size);
    window.end = std::min(total, window.first + size);
    return window;
}

}  // namespace kel2cifs::admin
