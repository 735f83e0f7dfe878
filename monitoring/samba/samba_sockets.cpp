#include "monitoring/samba/samba_sockets.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>

namespace cifsmon {

namespace {

static_assert(NLMSG_ALIGN(sizeof(nlmsghdr)) == sizeof(nlmsghdr));
static_assert(NLMSG_ALIGN(sizeof(inet_diag_msg)) == sizeof(inet_diag_msg));

constexpr std::array<uint8_t, 12> kMappedPrefix = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

// A TCP port written as Samba writes it: decimal, no sign, no leading zero.
std::optional<uint16_t> PortText(std::string_view text) {
    if (text.empty() || text.size() > 5 || (text.size() > 1 && text.front() == '0')) {
        return std::nullopt;
    }
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value > 65535) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(value);
}

// Reads a T at `offset` of `bytes`; the caller has checked that it fits.
template <typename T>
T ReadAt(std::span<const std::byte> bytes, std::size_t offset) {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

// A field of a tcp_info of `length` bytes: zero unless the kernel's structure reaches past it.
template <typename T>
uint64_t InfoField(std::span<const std::byte> info, std::size_t offset) {
    if (offset + sizeof(T) > info.size()) {
        return 0;
    }
    return ReadAt<T>(info, offset);
}

TcpCounters CountersOf(std::span<const std::byte> info) {
    using Info = struct tcp_info;
    TcpCounters counters;
    counters.bytesReceived =
        InfoField<decltype(Info::tcpi_bytes_received)>(info, offsetof(Info, tcpi_bytes_received));
    counters.bytesAcked =
        InfoField<decltype(Info::tcpi_bytes_acked)>(info, offsetof(Info, tcpi_bytes_acked));
    counters.segsIn = InfoField<decltype(Info::tcpi_segs_in)>(info, offsetof(Info, tcpi_segs_in));
    counters.dataSegsIn =
        InfoField<decltype(Info::tcpi_data_segs_in)>(info, offsetof(Info, tcpi_data_segs_in));
    counters.segsOut =
        InfoField<decltype(Info::tcpi_segs_out)>(info, offsetof(Info, tcpi_segs_out));
    counters.dataSegsOut =
        InfoField<decltype(Info::tcpi_data_segs_out)>(info, offsetof(Info, tcpi_data_segs_out));
    counters.lastDataRecvMs =
        InfoField<decltype(Info::tcpi_last_data_recv)>(info, offsetof(Info, tcpi_last_data_recv));
    return counters;
}

SocketEndpoint EndpointOf(uint8_t family, const __be32 (&address)[4], __be16 port) {
    SocketEndpoint endpoint;
    endpoint.family = family;
    std::memcpy(endpoint.address.data(), address, family == AF_INET ? 4 : 16);
    endpoint.port = ntohs(port);
    return endpoint;
}

// One SOCK_DIAG_BY_FAMILY answer (the payload after its nlmsghdr). False when it is too short
// or an attribute does not fit; true otherwise, whether or not a socket was appended.
bool ParseDiagMessage(std::span<const std::byte> payload, std::vector<TcpSocketInfo> *sockets) {
    if (payload.size() < sizeof(inet_diag_msg)) {
        return false;
    }
    auto message = ReadAt<inet_diag_msg>(payload, 0);
    if (message.idiag_family != AF_INET && message.idiag_family != AF_INET6) {
        return true;
    }
    TcpSocketInfo socket;
    socket.local = EndpointOf(message.idiag_family, message.id.idiag_src, message.id.idiag_sport);
    socket.remote = EndpointOf(message.idiag_family, message.id.idiag_dst, message.id.idiag_dport);
    socket.inode = message.idiag_inode;
    socket.state = message.idiag_state;

    std::size_t offset = NLMSG_ALIGN(sizeof(inet_diag_msg));
    while (offset < payload.size()) {
        if (payload.size() - offset < sizeof(rtattr)) {
            return false;
        }
        auto attribute = ReadAt<rtattr>(payload, offset);
        if (attribute.rta_len < sizeof(rtattr) || attribute.rta_len > payload.size() - offset) {
            return false;
        }
        if ((attribute.rta_type & NLA_TYPE_MASK) == INET_DIAG_INFO) {
            std::size_t header = RTA_LENGTH(0);
            socket.counters =
                CountersOf(payload.subspan(offset + header, attribute.rta_len - header));
            socket.hasCounters = true;
        }
        // The last attribute's padding may be left out of the message.
        offset += std::min<std::size_t>(RTA_ALIGN(attribute.rta_len), payload.size() - offset);
    }
    sockets->push_back(socket);
    return true;
}

// The error an NLMSG_ERROR or NLMSG_DONE payload carries (0 when it holds none).
int PayloadError(std::span<const std::byte> payload) {
    if (payload.size() < sizeof(int)) {
        return 0;
    }
    int error = ReadAt<int>(payload, 0);
    return error < 0 ? (error == INT_MIN ? EIO : -error) : 0;
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

std::string ErrnoText(const char *what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

// The TCP states of a socket that still has its connection (no listener, no time-wait).
// The kernel's numbers (those of netinet/tcp.h, which cannot be included beside linux/tcp.h).
constexpr uint8_t kTcpFinWait1 = 4;
constexpr uint8_t kTcpFinWait2 = 5;
constexpr uint8_t kTcpCloseWait = 8;
constexpr uint8_t kTcpLastAck = 9;
constexpr uint8_t kTcpClosing = 11;
constexpr uint32_t kConnectedStates = (1U << kTcpEstablished) | (1U << kTcpFinWait1) |
                                      (1U << kTcpFinWait2) | (1U << kTcpCloseWait) |
                                      (1U << kTcpLastAck) | (1U << kTcpClosing);

// One dump of the TCP sockets of `family` on `fd`, appended to *sockets.
bool DumpFamily(int fd, uint8_t family, uint32_t sequence, std::vector<TcpSocketInfo> *sockets,
                std::string *failure) {
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof(message);
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    message.header.nlmsg_seq = sequence;
    message.request.sdiag_family = family;
    message.request.sdiag_protocol = IPPROTO_TCP;
    message.request.idiag_ext = 1U << (INET_DIAG_INFO - 1);
    message.request.idiag_states = kConnectedStates;

    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ssize_t sent;
    do {
        sent = sendto(fd, &message, sizeof(message), 0, reinterpret_cast<sockaddr *>(&kernel),
                      sizeof(kernel));
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(sizeof(message))) {
        *failure = ErrnoText("sock_diag request", sent < 0 ? errno : EIO);
        return false;
    }

    // The kernel sizes the buffers of a dump after the largest read it has seen, at most 32 KiB.
    constexpr std::size_t kBufferSize = 32768;
    auto buffer = std::make_unique<std::byte[]>(kBufferSize);
    for (std::size_t buffers = 0; buffers < kDiagDumpBufferLimit; ++buffers) {
        sockaddr_nl from{};
        iovec vector{buffer.get(), kBufferSize};
        msghdr header{};
        header.msg_name = &from;
        header.msg_namelen = sizeof(from);
        header.msg_iov = &vector;
        header.msg_iovlen = 1;
        ssize_t received;
        do {
            received = recvmsg(fd, &header, MSG_TRUNC);
        } while (received < 0 && errno == EINTR);
        if (received < 0) {
            *failure = errno == EAGAIN || errno == EWOULDBLOCK
                           ? std::string("sock_diag: no answer from the kernel in time")
                           : ErrnoText("sock_diag answer", errno);
            return false;
        }
        if (static_cast<std::size_t>(received) > kBufferSize || (header.msg_flags & MSG_TRUNC)) {
            *failure = "sock_diag: an answer larger than the receive buffer";
            return false;
        }
        if (from.nl_pid != 0) {
            continue;  // not from the kernel
        }
        DiagBufferResult result = ParseSockDiagBuffer(
            std::span<const std::byte>(buffer.get(), received), sequence, sockets);
        switch (result.end) {
            case DiagBufferEnd::kDone:
                return true;
            case DiagBufferEnd::kError:
                *failure = ErrnoText("sock_diag refused", result.error);
                return false;
            case DiagBufferEnd::kMalformed:
                *failure = "sock_diag: a malformed answer";
                return false;
            case DiagBufferEnd::kMore:
                break;
        }
        if (sockets->size() > kDiagDumpSocketLimit) {
            *failure = "sock_diag: more sockets than the dump's limit";
            return false;
        }
    }
    *failure = "sock_diag: a dump that did not end within its limit";
    return false;
}

}  // namespace

SocketEndpoint CanonicalEndpoint(const SocketEndpoint &endpoint) {
    if (endpoint.family != AF_INET6 ||
        !std::equal(kMappedPrefix.begin(), kMappedPrefix.end(), endpoint.address.begin())) {
        return endpoint;
    }
    SocketEndpoint mapped;
    mapped.family = AF_INET;
    std::copy_n(endpoint.address.begin() + 12, 4, mapped.address.begin());
    mapped.port = endpoint.port;
    return mapped;
}

std::optional<SocketEndpoint> ParseTsocketAddress(std::string_view text) {
    int family;
    if (text.starts_with("ipv4:")) {
        family = AF_INET;
    } else if (text.starts_with("ipv6:")) {
        family = AF_INET6;
    } else {
        return std::nullopt;
    }
    text.remove_prefix(5);
    std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view addressText = text.substr(0, colon);
    std::optional<uint16_t> port = PortText(text.substr(colon + 1));
    // INET6_ADDRSTRLEN counts the terminating NUL; inet_pton stops at a NUL, which the text
    // must therefore not hold.
    char address[INET6_ADDRSTRLEN];
    if (!port || addressText.empty() || addressText.size() >= sizeof(address) ||
        addressText.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    std::memcpy(address, addressText.data(), addressText.size());
    address[addressText.size()] = '\0';
    SocketEndpoint endpoint;
    endpoint.family = family;
    endpoint.port = *port;
    if (inet_pton(family, address, endpoint.address.data()) != 1) {
        return std::nullopt;
    }
    return endpoint;
}

std::string DescribeEndpoint(const SocketEndpoint &endpoint) {
    char address[INET6_ADDRSTRLEN] = "?";
    if (endpoint.family == AF_INET || endpoint.family == AF_INET6) {
        if (inet_ntop(endpoint.family, endpoint.address.data(), address, sizeof(address)) ==
            nullptr) {
            std::strcpy(address, "?");
        }
    }
    std::string port = std::to_string(endpoint.port);
    return endpoint.family == AF_INET6 ? "[" + std::string(address) + "]:" + port
                                       : std::string(address) + ":" + port;
}

DiagBufferResult ParseSockDiagBuffer(std::span<const std::byte> received, uint32_t sequence,
                                     std::vector<TcpSocketInfo> *sockets) {
    std::size_t offset = 0;
    while (offset < received.size()) {
        std::size_t left = received.size() - offset;
        if (left < sizeof(nlmsghdr)) {
            return {DiagBufferEnd::kMalformed};
        }
        auto header = ReadAt<nlmsghdr>(received, offset);
        if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > left) {
            return {DiagBufferEnd::kMalformed};
        }
        std::span<const std::byte> payload =
            received.subspan(offset + sizeof(nlmsghdr), header.nlmsg_len - sizeof(nlmsghdr));
        // The last message's padding may be left out of the buffer.
        offset += std::min<std::size_t>(NLMSG_ALIGN(header.nlmsg_len), left);
        if (header.nlmsg_seq != sequence) {
            continue;
        }
        switch (header.nlmsg_type) {
            case NLMSG_NOOP:
                break;
            case NLMSG_ERROR: {
                if (payload.size() < sizeof(int)) {
                    return {DiagBufferEnd::kMalformed};
                }
                int error = PayloadError(payload);
                // An error of 0 is an acknowledgement: nothing more follows.
                return error == 0 ? DiagBufferResult{DiagBufferEnd::kDone}
                                  : DiagBufferResult{DiagBufferEnd::kError, error};
            }
            case NLMSG_DONE: {
                int error = PayloadError(payload);
                return error == 0 ? DiagBufferResult{DiagBufferEnd::kDone}
                                  : DiagBufferResult{DiagBufferEnd::kError, error};
            }
            case NLMSG_OVERRUN:
                return {DiagBufferEnd::kError, ENOBUFS};
            case SOCK_DIAG_BY_FAMILY:
                if (!ParseDiagMessage(payload, sockets)) {
                    return {DiagBufferEnd::kMalformed};
                }
                break;
            default:
                break;
        }
    }
    return {DiagBufferEnd::kMore};
}

bool DumpTcpSockets(std::vector<TcpSocketInfo> *sockets, std::string *failure) {
    sockets->clear();
    FileDescriptor fd(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (fd.get() < 0) {
        *failure = ErrnoText("sock_diag socket", errno);
        return false;
    }
    timeval timeout{2, 0};
    if (setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout)) != 0 ||
        setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout)) != 0) {
        *failure = ErrnoText("sock_diag socket time limit", errno);
        return false;
    }
    return DumpFamily(fd.get(), AF_INET, 1, sockets, failure) &&
           DumpFamily(fd.get(), AF_INET6, 2, sockets, failure);
}

std::vector<uint64_t> SocketInodesOfProcess(const std::string &procRoot, uint64_t pid) {
    std::vector<uint64_t> inodes;
    if (pid == 0) {
        return inodes;
    }
    std::string path = procRoot + "/" + std::to_string(pid) + "/fd";
    int dirFd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        return inodes;
    }
    DIR *dir = fdopendir(dirFd);
    if (dir == nullptr) {
        close(dirFd);
        return inodes;
    }
    constexpr std::string_view kPrefix = "socket:[";
    while (dirent *entry = readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        // "socket:[4294967295]" is 19 bytes; a target that fills the buffer may be cut short.
        char target[64];
        ssize_t length = readlinkat(dirFd, entry->d_name, target, sizeof(target));
        if (length <= 0 || static_cast<std::size_t>(length) >= sizeof(target)) {
            continue;
        }
        std::string_view link(target, static_cast<std::size_t>(length));
        if (!link.starts_with(kPrefix) || !link.ends_with(']')) {
            continue;
        }
        std::string_view digits = link.substr(kPrefix.size(), link.size() - kPrefix.size() - 1);
        uint64_t inode = 0;
        auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), inode);
        if (!digits.empty() && error == std::errc() && end == digits.data() + digits.size()) {
            inodes.push_back(inode);
        }
    }
    closedir(dir);
    std::sort(inodes.begin(), inodes.end());
    inodes.erase(std::unique(inodes.begin(), inodes.end()), inodes.end());
    return inodes;
}

std::vector<std::optional<TcpCounters>> MatchSessionSockets(
    const std::vector<SessionSocketQuery> &queries, const std::vector<TcpSocketInfo> &sockets,
    const std::vector<std::pair<uint64_t, std::vector<uint64_t>>> &inodesOfPid) {
    std::vector<std::optional<TcpCounters>> results(queries.size());
    std::multimap<SocketEndpoint, const TcpSocketInfo *> byRemote;
    for (const TcpSocketInfo &socket : sockets) {
        if (socket.inode != 0 && socket.hasCounters) {
            byRemote.emplace(CanonicalEndpoint(socket.remote), &socket);
        }
    }
    std::unordered_map<uint64_t, std::vector<uint64_t>> inodes;
    for (const auto &[pid, list] : inodesOfPid) {
        std::vector<uint64_t> &sorted = inodes[pid];
        sorted.insert(sorted.end(), list.begin(), list.end());
        std::sort(sorted.begin(), sorted.end());
    }
    for (std::size_t i = 0; i < queries.size(); ++i) {
        auto owned = inodes.find(queries[i].serverPid);
        if (owned == inodes.end()) {
            continue;
        }
        auto [first, last] = byRemote.equal_range(CanonicalEndpoint(queries[i].client));
        for (auto it = first; it != last; ++it) {
            if (std::binary_search(owned->second.begin(), owned->second.end(), it->second->inode)) {
                results[i] = it->second->counters;
                break;
            }
        }
    }
    return results;
}

std::vector<std::optional<TcpCounters>> LookUpSessionSockets(
    const std::vector<SessionSocketQuery> &queries, const std::string &procRoot,
    std::string *failure) {
    if (failure != nullptr) {
        failure->clear();
    }
    if (queries.empty()) {
        return {};
    }
    std::vector<TcpSocketInfo> sockets;
    std::string why;
    if (!DumpTcpSockets(&sockets, &why)) {
        if (failure != nullptr) {
            *failure = why;
        }
        return std::vector<std::optional<TcpCounters>>(queries.size());
    }
    std::vector<std::pair<uint64_t, std::vector<uint64_t>>> inodesOfPid;
    std::unordered_set<uint64_t> seen;
    for (const SessionSocketQuery &query : queries) {
        if (seen.insert(query.serverPid).second) {
            inodesOfPid.emplace_back(query.serverPid,
                                     SocketInodesOfProcess(procRoot, query.serverPid));
        }
    }
    return MatchSessionSockets(queries, sockets, inodesOfPid);
}

}  // namespace cifsmon
