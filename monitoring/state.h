// state.h: what a backend reports about the CIFS server: volumes, connections and the files
// each connection holds open, grouped by volume.
//
// A backend fills one State per snapshot; the listings turn it into the interface's records.
// Order is significant everywhere: listings keep the order of these vectors.
#ifndef CIFSMONITORING_STATE_H
#define CIFSMONITORING_STATE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cifsmon {

struct Volume {
    std::string name;  // unique within a State
    std::string path;  // the directory the volume serves; informational
};

// The node of a server that is not part of a cluster (CIFSMON_NO_NODE).
inline constexpr uint32_t kNoNode = UINT32_MAX;

// Bits of OpenDetail.access and shareMode (CIFSMON_ACCESS_* and CIFSMON_SHARE_*).
inline constexpr uint32_t kAccessRead = 0x1;
inline constexpr uint32_t kAccessWrite = 0x2;
inline constexpr uint32_t kAccessDelete = 0x4;
inline constexpr uint32_t kShareRead = 0x1;
inline constexpr uint32_t kShareWrite = 0x2;
inline constexpr uint32_t kShareDelete = 0x4;

// How one connection holds one file open. A server that does not tell gives these values.
struct OpenDetail {
    uint64_t openedAt = 0;          // the connection's first open of the file; 0: not known
    uint32_t access = kAccessRead;  // what its opens may do together
    uint32_t shareMode = kShareRead | kShareWrite;  // what every one of its opens allows others
    std::string oplock = "none";  // "none", "level II", "exclusive", "batch", "lease (RWH)"

    bool operator==(const OpenDetail &) const = default;
};

// The files one connection holds open on one volume, as full server paths, and how it holds
// them: details is empty (nothing known: every path has the OpenDetail defaults) or parallel to
// paths, index for index. Whatever removes a path removes its detail too.
struct OpenFileGroup {
    std::string volume;  // the name of a Volume of the same State
    std::vector<std::string> paths;
    std::vector<OpenDetail> details = {};

    // The detail of paths[index].
    OpenDetail DetailOf(std::size_t index) const {
        return index < details.size() ? details[index] : OpenDetail();
    }
};

struct Connection {
    // Connection numbers are 16-bit on the interface. A server with more connections than that
    // repeats numbers; see FindConnections.
    uint16_t number = 0;
    std::string address;
    std::string user;
    std::string type;  // "Active Directory", "Ravelin", ...
    uint64_t bytesRead = 0;
    uint64_t bytesWritten = 0;
    uint32_t requestCount = 0;
    uint64_t loginTime = 0;   // seconds since 1970-01-01 UTC
    std::string loginStatus;  // "Logged-In", "Logging-In", "Not-Logged In", "New"
    std::string privileges;   // "Supervisor", "Non-Supervisor"
    std::vector<std::string> securityEquivalences;
    std::vector<OpenFileGroup> openFiles;  // at most one group per volume, no empty group

    // The session's details beyond the three pages; empty texts are not known.
    std::string clientAddress;  // the whole client address (address may be cut); empty: address
    std::string machine;        // the machine name the client gave
    std::string dialect;        // "SMB3_11", "SMB2_10", "NT1", ...
    std::string signing;        // "AES-128-GMAC", ..., "no"
    std::string encryption;     // "AES-128-GCM", ..., "no"
    std::optional<uint64_t> idleSeconds;  // since the client last sent anything
    uint32_t node = kNoNode;              // the cluster node serving it
};

struct State {
    std::vector<Volume> volumes;
    std::vector<Connection> connections;
};

}  // namespace cifsmon

#endif  // CIFSMONITORING_STATE_H
