// state.h: what a backend reports about the CIFS server: volumes, connections and the files
// each connection holds open, grouped by volume.
//
// A backend fills one State per snapshot; the listings turn it into the interface's records.
// Order is significant everywhere: listings keep the order of these vectors.
#ifndef CIFSMONITORING_STATE_H
#define CIFSMONITORING_STATE_H

#include <cstdint>
#include <string>
#include <vector>

namespace cifsmon {

struct Volume {
    std::string name;  // unique within a State
    std::string path;  // the directory the volume serves; informational
};

// The files one connection holds open on one volume, as full server paths.
struct OpenFileGroup {
    std::string volume;  // the name of a Volume of the same State
    std::vector<std::string> paths;
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
};

struct State {
    std::vector<Volume> volumes;
    std::vector<Connection> connections;
};

}  // namespace cifsmon

#endif  // CIFSMONITORING_STATE_H
