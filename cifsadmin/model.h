// model.h: the plug-in's own copies of the library's open files and sessions, and how the pages
// filter, sort and page them.
#ifndef KEL2CIFS_CIFSADMIN_MODEL_H
#define KEL2CIFS_CIFSADMIN_MODEL_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cifsadmin/text.h"
#include "cifsmonitoring/administration.h"

namespace kel2cifs::admin {

struct OpenFileRow {
    unsigned connection = 0;
    std::uint32_t node = CIFSMON_NO_NODE;
    std::uint64_t openedAt = 0;
    std::uint32_t access = 0;
    std::uint32_t shareMode = 0;
    std::string oplock;
    std::string volume;
    std::string user;
    std::string client;
    std::string path;
};

struct SessionRow {
    unsigned connection = 0;
    std::uint32_t node = CIFSMON_NO_NODE;
    std::string user;
    std::string client;
    std::string machine;
    std::string dialect;
    std::string signing;
    std::string encryption;
    std::uint32_t openFiles = 0;
    std::uint64_t connectedSince = 0;
    std::uint64_t idleSeconds = UINT64_MAX;
    std::uint64_t bytesIn = 0;
    std::uint64_t bytesOut = 0;
};

// Copies a block of the library (bounded by each array's size) into rows.
std::vector<OpenFileRow> CopyOpenFiles(const CifsOpenFile *list, std::size_t count);
std::vector<SessionRow> CopySessions(const CifsSession *list, std::size_t count);

// Lists through the library, giving its block back at once. Returns the library's status.
// After a listing that succeeded, `notice` (when given) receives what the library reports beside
// it, read at once on this thread: on a cluster, the node that did not answer and whose sessions
// and open files are missing; "" when nothing is missing.
int ListOpenFiles(std::vector<OpenFileRow> *rows, std::string *notice = nullptr);
int ListSessions(std::vector<SessionRow> *rows, std::string *notice = nullptr);

// Whether any row carries a cluster node (the lists then show a node column).
template <typename Row>
bool AnyNode(const std::vector<Row> &rows) {
    for (const Row &row : rows) {
        if (row.node != CIFSMON_NO_NODE) {
            return true;
        }
    }
    return false;
}

// "read", "write", "read/write", with "/delete" when the open may delete; "-" for none.
std::string AccessText(std::uint32_t access);
// What the open denies others: "none", "read", "write", "delete" or several joined by "/".
std::string DenyText(std::uint32_t shareMode);
// The node's number, "" for CIFSMON_NO_NODE.
std::string NodeText(std::uint32_t node);

// The open-file columns by their URL name; sorting by anything else sorts by path. A URL names a
// column by its position in the names, so new columns go at the end.
enum class FileColumn {
    kVolume,
    kPath,
    kConnection,
    kUser,
    kClient,
    kOpenedAt,
    kAccess,
    kShareMode,
    kOplock,
    kNode  // rows without a node after every node
};
inline constexpr std::string_view kFileColumnNames[] = {
    "volume",   "path",   "connection", "user",   "client",
    "openedAt", "access", "shareMode",  "oplock", "node"};
FileColumn FileColumnNamed(std::string_view name);

// The session columns by their URL name, as above; anything else sorts by connection.
enum class SessionColumn {
    kConnection,
    kUser,
    kClient,
    kMachine,
    kDialect,
    kSigning,
    kEncryption,
    kOpenFiles,
    kConnectedSince,
    kIdle,
    kBytesIn,
    kBytesOut,
    kNode  // as FileColumn::kNode
};
inline constexpr std::string_view kSessionColumnNames[] = {
    "connection", "user",           "client",      "machine", "dialect",  "signing", "encryption",
    "openFiles",  "connectedSince", "idleSeconds", "bytesIn", "bytesOut", "node"};
SessionColumn SessionColumnNamed(std::string_view name);

struct FileFilter {
    std::string name;    // q: the file-name search
    std::string user;    // substring, ignoring case
    std::string client;  // substring, ignoring case
    std::string volume;  // the volume's name, ignoring case; "" any
};

// Keeps the rows the filter lets through, in order.
std::vector<OpenFileRow> FilterOpenFiles(std::vector<OpenFileRow> rows, const FileFilter &filter);
// Keeps the sessions whose user, client or machine holds `text` (ignoring case).
std::vector<SessionRow> FilterSessions(std::vector<SessionRow> rows, std::string_view text);

// Sorts by the column, ascending or not; rows equal in it keep the order of volume, path and
// connection (sessions: connection), ascending, whatever the direction.
void SortOpenFiles(std::vector<OpenFileRow> &rows, FileColumn column, bool ascending);
void SortSessions(std::vector<SessionRow> &rows, SessionColumn column, bool ascending);

// One page of a list: page numbers from 1; a page past the last is the last.
struct PageWindow {
    std::size_t page = 1;   // the page shown
    std::size_t pages = 1;  // how many there are (1 for an empty list)
    std::size_t first = 0;  // index of its first row
    std::size_t end = 0;    // index past its last row
};
PageWindow WindowOf(std::size_t total, std::size_t page, std::size_t size);

}  // namespace kel2cifs::admin

#endif  // KEL2CIFS_CIFSADMIN_MODEL_H
