// samba_sockets.h: the kernel's counters of one client's TCP connection to the file server.
//
// smbstatus names a session's client by the text Samba's tsocket_address_string makes of the
// address the server's socket was accepted from ("ipv4:10.1.2.3:50514", "ipv6:fd00::7:50514").
// The kernel keeps, per TCP socket, the bytes it received and the bytes the peer acknowledged,
// and the segments either way (struct tcp_info); the sock_diag netlink interface lists every
// TCP socket of the machine with its endpoints, its inode and that tcp_info. A session's socket
// is the one whose remote endpoint is the session's client and whose inode is among the
// descriptors of the server process serving it (over loopback the client's own socket has the
// same two endpoints the other way round, and a client port may be reused towards another
// server, so the endpoint alone is not enough).
//
// Nothing here depends on the rest of the backend. Everything the kernel hands back is parsed
// with its lengths checked against what was received.
#ifndef CIFSMONITORING_SAMBA_SOCKETS_H
#define CIFSMONITORING_SAMBA_SOCKETS_H

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cifsmon {

// An IPv4 or IPv6 address and a TCP port. An IPv4 address fills the first four bytes of
// `address` (network order), the rest being zero.
struct SocketEndpoint {
    int family = 0;  // AF_INET or AF_INET6
    std::array<uint8_t, 16> address{};
    uint16_t port = 0;

    auto operator<=>(const SocketEndpoint &) const = default;
};

// The endpoint as the matching below sees it: an IPv4-mapped IPv6 address (::ffff:a.b.c.d, what
// a dual-stack listening socket reports for an IPv4 client, and what Samba then prints as
// "ipv6:::ffff:a.b.c.d:port") becomes the IPv4 address, so that either form finds the other.
SocketEndpoint CanonicalEndpoint(const SocketEndpoint &endpoint);

// "ipv4:<dotted quad>:<port>" or "ipv6:<address as inet_ntop writes it>:<port>", the port in
// decimal from 0 to 65535, the family in lower case as Samba writes it. None for anything else:
// "unix:<path>" (a client over a local socket has no TCP connection), a bracketed or scoped
// address, a missing or out-of-range port, trailing text.
std::optional<SocketEndpoint> ParseTsocketAddress(std::string_view text);

// "10.1.2.3:50514" or "[fd00::7]:50514", for messages.
std::string DescribeEndpoint(const SocketEndpoint &endpoint);

// What the kernel counts for one TCP socket (struct tcp_info); a field the running kernel does
// not hand back is zero.
struct TcpCounters {
    uint64_t bytesReceived = 0;   // tcpi_bytes_received: payload bytes received, in order, once
    uint64_t bytesAcked = 0;      // tcpi_bytes_acked: payload bytes sent that the peer acknowledged
    uint64_t segsIn = 0;          // tcpi_segs_in: segments received, acknowledgements included
    uint64_t dataSegsIn = 0;      // tcpi_data_segs_in: segments received that carried payload
    uint64_t segsOut = 0;         // tcpi_segs_out: segments sent, retransmissions included
    uint64_t dataSegsOut = 0;     // tcpi_data_segs_out: segments sent that carried payload
    uint64_t lastDataRecvMs = 0;  // tcpi_last_data_recv: milliseconds since data last came in

    bool operator==(const TcpCounters &) const = default;
};

// The kernel's number of the established state (TCP_ESTABLISHED of netinet/tcp.h).
inline constexpr uint8_t kTcpEstablished = 1;

struct TcpSocketInfo {
    SocketEndpoint local;
    SocketEndpoint remote;
    uint64_t inode = 0;        // 0 for a socket no process holds any more
    uint8_t state = 0;         // kTcpEstablished, or another of the kernel's TCP states
    bool hasCounters = false;  // the answer carried a tcp_info
    TcpCounters counters;
};

// How one buffer of a sock_diag dump ended.
enum class DiagBufferEnd {
    kMore,       // every message was read; the dump goes on in the next buffer
    kDone,       // NLMSG_DONE (or an acknowledgement): the dump is complete
    kError,      // NLMSG_ERROR, or NLMSG_DONE carrying an error: the kernel refused the dump
    kMalformed,  // a length that does not fit what was received, or a message too short
};

struct DiagBufferResult {
    DiagBufferEnd end = DiagBufferEnd::kMore;
    int error = 0;  // the errno of kError
};

// Parses one buffer received from a NETLINK_SOCK_DIAG socket: the answers to the inet_diag
// request numbered `sequence`, each appended to *sockets. Messages of another sequence number,
// and sockets of a family other than AF_INET and AF_INET6, are passed over. Every message and
// attribute length is checked against `received`; a tcp_info shorter than this build's leaves
// the fields it does not reach at zero. The buffer needs no alignment. Nothing else is touched:
// this is what the tests feed crafted buffers to.
DiagBufferResult ParseSockDiagBuffer(std::span<const std::byte> received, uint32_t sequence,
                                     std::vector<TcpSocketInfo> *sockets);

// The most sockets and receive buffers one dump reads before it is given up as endless.
inline constexpr std::size_t kDiagDumpSocketLimit = 1 << 20;
inline constexpr std::size_t kDiagDumpBufferLimit = 1 << 16;

// Every TCP socket of the machine (in the caller's network namespace) that is connected or
// closing (established, close-wait, fin-wait, last-ack, closing), IPv4 then IPv6, each with its
// tcp_info. False with *failure saying why (the socket refused, the kernel's error, a malformed
// answer, a dump past the limits, no answer within two seconds); *sockets is then unspecified.
bool DumpTcpSockets(std::vector<TcpSocketInfo> *sockets, std::string *failure);

// The inodes of the sockets among the descriptors of process `pid` (the "socket:[N]" links of
// <procRoot>/<pid>/fd), sorted, without repeats. Empty when the process is gone or its
// descriptors cannot be read.
std::vector<uint64_t> SocketInodesOfProcess(const std::string &procRoot, uint64_t pid);

// A session as the server lists it: the server process serving it and its client's address.
struct SessionSocketQuery {
    uint64_t serverPid = 0;
    SocketEndpoint client;
};

// Per query, in order, the counters of the socket whose remote endpoint is the client (either
// form of an IPv4 client matching, see CanonicalEndpoint) and whose inode is one of the server
// process's sockets; none when there is no such socket or the kernel gave no tcp_info for it.
// One dump of the machine's sockets per call, and one scan of <procRoot>/<pid>/fd per distinct
// pid. When the dump fails every entry is none and *failure (when given) says why; otherwise
// *failure is cleared.
std::vector<std::optional<TcpCounters>> LookUpSessionSockets(
    const std::vector<SessionSocketQuery> &queries, const std::string &procRoot,
    std::string *failure = nullptr);

// The matching of LookUpSessionSockets on a dump already made, with the socket inodes of each
// pid already read (in any order); the tests drive it with made-up sockets.
std::vector<std::optional<TcpCounters>> MatchSessionSockets(
    const std::vector<SessionSocketQuery> &queries, const std::vector<TcpSocketInfo> &sockets,
    const std::vector<std::pair<uint64_t, std::vector<uint64_t>>> &inodesOfPid);

}  // namespace cifsmon

#endif  // CIFSMONITORING_SAMBA_SOCKETS_H
