#include "monitoring/samba/samba_cluster.h"

#include <algorithm>
#include <charconv>

#include "monitoring/samba/samba_close.h"
#include "monitoring/status.h"

namespace cifsmon {

namespace {

// The fields of one "|a|b|c|" line.
std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    if (line.size() < 2 || line.front() != '|' || line.back() != '|') {
        return fields;
    }
    line = line.substr(1, line.size() - 2);
    for (;;) {
        const std::size_t bar = line.find('|');
        fields.push_back(line.substr(0, bar));
        if (bar == std::string_view::npos) {
            return fields;
        }
        line.remove_prefix(bar + 1);
    }
}

bool IsNodeAbsent(const ClusterNode &node, uint32_t vnn) {
    return node.pnn == vnn && node.Absent();
}

}  // namespace

std::string_view ClusterNode::State() const {
    if (disconnected) {
        return "disconnected";
    }
    if (banned) {
        return "banned";
    }
    if (stopped) {
        return "stopped";
    }
    return unknown ? "unknown" : "inactive";
}

bool ParseCtdbStatus(std::string_view text, std::vector<ClusterNode> *nodes, std::string *error) {
    nodes->clear();
    std::vector<std::string_view> header;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            continue;
        }
        std::vector<std::string_view> fields = Fields(line);
        const std::string where = "ctdb status, line " + std::to_string(lineNumber);
        if (header.empty()) {
            if (fields.size() < 2 || fields[0] != "Node" || fields[1] != "IP") {
                *error = where + ": not the header of its machine-readable output";
                return false;
            }
            header = std::move(fields);
            continue;
        }
        if (fields.size() != header.size()) {
            *error = where + ": " + std::to_string(fields.size()) + " fields, the header has " +
                     std::to_string(header.size());
            return false;
        }
        ClusterNode node;
        std::string_view number = fields[0];
        auto parsed = std::from_chars(number.data(), number.data() + number.size(), node.pnn);
        if (number.empty() || parsed.ec != std::errc() ||
            parsed.ptr != number.data() + number.size() || node.pnn == kNonClusterVnn) {
            *error = where + ": not a node number: " + std::string(number);
            return false;
        }
        node.address = std::string(fields[1]);
        for (std::size_t i = 2; i < header.size(); ++i) {
            const bool set = fields[i] == "1" || fields[i] == "Y";
            if (!set && fields[i] != "0" && fields[i] != "N") {
                *error = where + ": the " + std::string(header[i]) + " flag is " +
                         std::string(fields[i]);
                return false;
            }
            const std::string_view column = header[i];
            if (column == "Disconnected") {
                node.disconnected = set;
            } else if (column == "Unknown") {
                node.unknown = set;
            } else if (column == "Banned") {
                node.banned = set;
            } else if (column == "Stopped") {
                node.stopped = set;
            } else if (column == "Inactive") {
                node.inactive = set;
            } else if (column == "ThisNode") {
                node.thisNode = set;
            }
        }
        nodes->push_back(std::move(node));
    }
    if (header.empty()) {
        *error = "ctdb status printed nothing";
        return false;
    }
    return true;
}

int ReadClusterNodes(const ToolOptions &tools, const std::string &socket,
                     std::vector<ClusterNode> *nodes, std::string *error) {
    nodes->clear();
    ToolOptions options = tools;
    if (!socket.empty()) {
        options.environment.push_back("CTDB_SOCKET=" + socket);
    }
    const std::vector<std::string> arguments = {"-X", "status"};
    ToolResult result;
    int status = RunTool(options, kCtdbTool, arguments, &result, error);
    if (status != kStatusOk) {
        return status;
    }
    if (result.exitStatus != 0) {
        *error = DescribeCommand(kCtdbTool, arguments) + " failed: " + DescribeFailure(result);
        return kStatusToolFailed;
    }
    if (!ParseCtdbStatus(result.output, nodes, error)) {
        return kStatusToolOutputInvalid;
    }
    return kStatusOk;
}

std::optional<uint32_t> ThisNode(const std::vector<ClusterNode> &nodes) {
    for (const ClusterNode &node : nodes) {
        if (node.thisNode) {
            return node.pnn;
        }
    }
    return std::nullopt;
}

std::string AbsentNodesNotice(const std::vector<ClusterNode> &nodes) {
    std::string notice;
    for (const ClusterNode &node : nodes) {
        if (!node.Absent()) {
            continue;
        }
        notice += notice.empty() ? "" : "; ";
        notice += "node " + std::to_string(node.pnn) + " (" + node.address + ") did not answer (" +
                  std::string(node.State()) + "): its sessions and open files are not listed";
    }
    return notice;
}

bool DropAbsentNodes(const std::vector<ClusterNode> &nodes, SambaStatus *status) {
    auto absent = [&nodes](const ServerId &server) {
        return std::any_of(nodes.begin(), nodes.end(), [&server](const ClusterNode &node) {
            return IsNodeAbsent(node, server.vnn);
        });
    };
    const std::size_t before = status->sessions.size() + status->treeConnects.size();
    std::size_t opensBefore = 0;
    std::size_t opensAfter = 0;
    std::erase_if(status->sessions, [&](const SambaSession &s) { return absent(s.server); });
    std::erase_if(status->treeConnects,
                  [&](const SambaTreeConnect &t) { return absent(t.server); });
    for (SambaOpenFile &file : status->openFiles) {
        opensBefore += file.opens.size();
        std::erase_if(file.opens, [&](const SambaOpen &o) { return absent(o.server); });
        opensAfter += file.opens.size();
    }
    std::erase_if(status->openFiles, [](const SambaOpenFile &f) { return f.opens.empty(); });
    return opensAfter != opensBefore ||
           status->sessions.size() + status->treeConnects.size() != before;
}

}  // namespace cifsmon
