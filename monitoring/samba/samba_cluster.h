// samba_cluster.h: the nodes of the CTDB cluster a clustered smbd belongs to.
//
// `ctdb -X status` asks this node's ctdbd (at the configuration's "ctdbd socket") for every
// node of the cluster with its flags, one "|"-separated line per node after a header line
// naming the columns. A node that is disconnected, banned or stopped takes no part in the
// cluster's databases: its sessions and opens are not what the other nodes list, and a
// listing leaves them out and says which node did not answer.
#ifndef CIFSMONITORING_SAMBA_CLUSTER_H
#define CIFSMONITORING_SAMBA_CLUSTER_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monitoring/samba/samba_status.h"
#include "monitoring/samba/samba_tool.h"

namespace cifsmon {

inline constexpr char kCtdbTool[] = "ctdb";

struct ClusterNode {
    uint32_t pnn = 0;
    std::string address;
    bool disconnected = false;
    bool unknown = false;
    bool banned = false;
    bool stopped = false;
    bool inactive = false;
    bool thisNode = false;

    // Not taking part in the cluster: its data is not listed.
    bool Absent() const { return disconnected || unknown || banned || stopped || inactive; }
    // Why, in one word: "disconnected", "banned", "stopped", "unknown" or "inactive".
    std::string_view State() const;
};

// Parses `ctdb -X status`. False (and *error) for anything but its header and node lines.
[[nodiscard]] bool ParseCtdbStatus(std::string_view text, std::vector<ClusterNode> *nodes,
                                   std::string *error);

// Runs `ctdb -X status` against the ctdbd at `socket` (the tool's default when empty).
// kStatusOk, kStatusToolFailed or kStatusToolOutputInvalid (and *error).
int ReadClusterNodes(const ToolOptions &tools, const std::string &socket,
                     std::vector<ClusterNode> *nodes, std::string *error);

// The number of the node marked as this one, if any.
std::optional<uint32_t> ThisNode(const std::vector<ClusterNode> &nodes);

// "node 2 (10.0.0.3) did not answer (stopped): its sessions and open files are not listed",
// one such sentence per absent node joined by "; "; empty when every node takes part.
std::string AbsentNodesNotice(const std::vector<ClusterNode> &nodes);

// Drops the sessions, tree connects and opens of the absent nodes (and files left without an
// open). True when something was dropped.
bool DropAbsentNodes(const std::vector<ClusterNode> &nodes, SambaStatus *status);

}  // namespace cifsmon

#endif  // CIFSMONITORING_SAMBA_CLUSTER_H
