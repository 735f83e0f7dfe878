// fake_monitoring.h: a programmable CIFS monitoring library (every operation of
// cifsmonitoring/monitoring.h) for tests.
//
// One process-wide state behind a mutex: a test sets what the listings return, lets the plug-in
// run, and then reads what it closed and whether it gave every record back. Reset() clears
// everything between tests.
//
// Records are built afresh on every listing call from what was set. Texts of fixed arrays are
// copied bounded: a text as long as its array or longer fills the whole array with its first
// bytes and NO terminator (to test that readers bound themselves by the array size); a shorter
// one is terminated and the rest of the array is zero. An array of path texts always holds
// max(count, entries) + 1 entries: a count larger than the entries given, and the last entry,
// are null; an entry set to nullopt is null too.
//
// Accounting: every node, array and text handed out is a counted block. The Free calls give
// blocks back (walking the list as the real library does and setting the caller's pointer to
// null); a freed block is filled with 0xdd and kept until Reset(), so that a double free is
// recognised and a use after free reads garbage. A free of a block already freed, of a pointer
// the library never handed out, or of a block of the wrong kind is recorded in Errors() and
// nothing more is freed from that list.
#ifndef KEL2CIFS_TESTS_SUPPORT_FAKE_MONITORING_H
#define KEL2CIFS_TESTS_SUPPORT_FAKE_MONITORING_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cifsmonitoring/administration.h"
#include "cifsmonitoring/monitoring.h"

namespace fake {

// An entry of an array of path texts; nullopt is a null entry.
using Entry = std::optional<std::string>;

// A text that fills an array of `size` bytes without a terminator.
inline std::string Unterminated(std::size_t size, char fill = 'x') {
    return std::string(size, fill);
}

// Status of Ext_ListVolFileDetails for a volume that was not set, and of Ext_GetConnInfo for a
// connection that was not set (no record is handed out then): the library's "not found".
inline constexpr int kUnknownStatus = 1;

// One VolFileListNode.
struct VolumeFiles {
    uint16_t connNumber = 0;
    std::string userName;
    std::vector<Entry> fileNames;
    std::optional<uint16_t> fileCount;  // unset: fileNames.size()
};

// One ConnListNode.
struct Connection {
    uint16_t connNumber = 0;
    std::string netAddress;
    std::string userName;
    std::string connType;
    uint32_t requestCount = 0;
    uint64_t bytesRead = 0;
    uint64_t bytesWritten = 0;
    uint64_t loginTime = 0;
};

// One UserInfo_s.
struct ConnInfo {
    uint16_t connNumber = 0;
    std::string netAddress;
    std::string privileges;
    std::string loginStatus;
    std::string userName;
    std::string connType;
    std::optional<uint32_t> secEquivCount;  // unset: the number of sevDNs entries (0 when null)
    std::optional<uint16_t> openFileCount;  // unset: openFileNames.size()
    uint64_t loginTime = 0;
    std::vector<Entry> openFileNames;
    std::optional<std::vector<Entry>> sevDNs;  // nullopt: sevDNs is null
};

// One CifsOpenFile of Ext_ListOpenFiles.
struct OpenFile {
    uint16_t connNumber = 0;
    uint32_t node = CIFSMON_NO_NODE;
    uint64_t openedAt = 0;
    uint32_t access = CIFSMON_ACCESS_READ;
    uint32_t shareMode = CIFSMON_SHARE_READ | CIFSMON_SHARE_WRITE;
    std::string oplock = "none";
    std::string volume;
    std::string user;
    std::string client;
    std::string path;
};

// One CifsSession of Ext_ListSessions.
struct Session {
    uint16_t connNumber = 0;
    uint32_t node = CIFSMON_NO_NODE;
    std::string user;
    std::string client;
    std::string machine;
    std::string dialect;
    std::string signing;
    std::string encryption;
    uint32_t openFileCount = 0;
    uint64_t connectedSince = 0;
    uint64_t idleSeconds = 0;
    uint64_t bytesIn = 0;
    uint64_t bytesOut = 0;
};

// Clears everything below (settings, calls, closes, errors) and releases every block, freed or
// not. Call it at the start of each test, after asserting Outstanding().
void Reset();

// Ext_ListVolumeDetails hands out one node per name, in order (null when there are none), sets
// *count to `count` (unset: the number of names) and returns `status`: a failure with names set
// still hands them out, and the caller must free them.
void SetVolumes(std::vector<std::string> names, int status = 0, std::optional<int> count = {});

// Ext_ListVolFileDetails(volume) hands out these records in order (null when there are none),
// sets *count to `count` (unset: the number of records) and returns `status`. A volume name that
// was not set gives no list, count 0 and kUnknownStatus.
void SetVolumeFiles(const std::string &volume, std::vector<VolumeFiles> records, int status = 0,
                    std::optional<int> count = {});

// Ext_ListConnDetails hands out these nodes in order (null when there are none), sets *count to
// `count` (unset: the number of connections) and returns `status`.
void SetConnections(std::vector<Connection> connections, int status = 0,
                    std::optional<int> count = {});

// Ext_GetConnInfo(connNumber) hands out `info` (null when nullopt) and returns `status`; both are
// free, so that "status 0 and no record" and "a failure with a record" can be tested.
void SetConnInfo(unsigned int connNumber, std::optional<ConnInfo> info, int status = 0);

// Results of the close calls of either kind, by their order since the reset: the first call
// returns results[0], and so on; calls past the end return 0.
void SetCloseResults(std::vector<int> results);

struct CloseCall {
    enum Kind { kByFileName, kByID, kOpenFile, kEndSession } kind = kByFileName;
    std::string path;             // kByFileName, kOpenFile: the path as passed
    unsigned int connNumber = 0;  // kByID, kOpenFile, kEndSession
    int result = 0;
};
std::vector<CloseCall> CloseCalls();

// Decides the result of every close call of either kind in place of SetCloseResults, and may
// program the listings anew (Set... calls) so that later listings no longer hold what was
// closed, as a server's would. It is called outside the library's lock with the call as
// recorded, its result not yet set. Reset() removes it; an empty handler removes it too.
using CloseHandler = std::function<int(const CloseCall &)>;
void SetCloseHandler(CloseHandler handler);

// --- administration.h -----------------------------------------------------------------------
//
// Ext_ListOpenFiles and Ext_ListSessions hand out one block of these records (paths inside the
// block) and return `status`; a failure hands out nothing. Ext_PlanClose lists every target that
// is among the open files set, then every file of `along` not listed yet (the files a server that
// closes only wider would take with any close). Ext_CloseOpenFile and Ext_EndSession are close
// calls like the two above (CloseCalls, SetCloseResults, SetCloseHandler). The observer set with
// Ext_SetActionObserver hears of every close call of any kind, after it, with the report set by
// SetActionReport ("" unless set).
void SetOpenFiles(std::vector<OpenFile> files, int status = 0);
void SetSessions(std::vector<Session> sessions, int status = 0);
void SetPlanAlong(std::vector<OpenFile> along);
void SetActionReport(std::string report);
// The observer set now (null: none).
CifsActionObserver CurrentObserver();

// Every operation called, in order, rendered as "Ext_ListVolFileDetails(VOL1)",
// "Ext_GetConnInfo(3)", "Ext_CloseFileByID(3)", "Ext_CloseFileByFileName(/vol/a)",
// "Ext_ListVolumeDetails()", "Ext_ListConnDetails()", "Ext_ListOpenFiles()", "Ext_ListSessions()",
// "Ext_PlanClose(3:/vol/a,...)", "Ext_CloseOpenFile(3,/vol/a)", "Ext_EndSession(3)",
// "Ext_SetActionObserver(set|null)" or the Free call's name alone.
std::vector<std::string> Calls();

// Blocks handed out and not given back: their number, and one line per block naming its kind
// and content (for a failure message).
std::size_t Outstanding();
std::vector<std::string> OutstandingBlocks();
// Blocks handed out since the reset, freed or not.
std::size_t Allocated();
// Double frees, frees of foreign pointers or of the wrong kind, null out-parameters, and a close
// path longer than 511 characters.
std::vector<std::string> Errors();

}  // namespace fake

#endif  // KEL2CIFS_TESTS_SUPPORT_FAKE_MONITORING_H
