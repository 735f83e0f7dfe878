// The kernel's counters of a session's TCP connection: the client address texts smbstatus prints,
// the sock_diag answers (crafted buffers, good and bad), the matching of sessions to sockets, the
// socket descriptors of a process, and a real connection over loopback.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/temp_dir.h"
#include "monitoring/samba/samba_sockets.h"

namespace {

using cifsmon::DiagBufferEnd;
using cifsmon::SocketEndpoint;
using cifsmon::TcpCounters;
using cifsmon::TcpSocketInfo;
using ::testing::ElementsAre;

SocketEndpoint Endpoint(int family, const char *address, uint16_t port) {
    SocketEndpoint endpoint;
    endpoint.family = family;
    EXPECT_EQ(inet_pton(family, address, endpoint.address.data()), 1) << address;
    endpoint.port = port;
    return endpoint;
}

TEST(SambaSockets, ClientAddressTextsAsSambaPrintsThem) {
    EXPECT_EQ(cifsmon::ParseTsocketAddress("ipv4:127.0.0.1:48964"),
              Endpoint(AF_INET, "127.0.0.1", 48964));
    EXPECT_EQ(cifsmon::ParseTsocketAddress("ipv4:0.0.0.0:0"), Endpoint(AF_INET, "0.0.0.0", 0));
    EXPECT_EQ(cifsmon::ParseTsocketAddress("ipv4:255.255.255.255:65535"),
              Endpoint(AF_INET, "255.255.255.255", 65535));
    // The last colon separates the port from an IPv6 address, which has colons of its own.
    EXPECT_EQ(cifsmon::ParseTsocketAddress("ipv6:fd00::7:445"), Endpoint(AF_INET6, "fd00::7", 445));
    EXPECT_EQ(cifsmon::ParseTsocketAddress("ipv6:::1:50000"), Endpoint(AF_INET6, "::1", 50000));
    EXPECT_EQ(cifsmon::ParseTsocketAddress("ipv6:2001:db8:0:1:2:3:4:5:1"),
              Endpoint(AF_INET6, "2001:db8:0:1:2:3:4:5", 1));

    // An IPv4 client of a dual-stack listener is printed as an IPv4-mapped IPv6 address; both
    // forms name the same client.
    auto mapped = cifsmon::ParseTsocketAddress("ipv6:::ffff:10.1.2.3:445");
    ASSERT_EQ(mapped, Endpoint(AF_INET6, "::ffff:10.1.2.3", 445));
    EXPECT_EQ(cifsmon::CanonicalEndpoint(*mapped), Endpoint(AF_INET, "10.1.2.3", 445));
    EXPECT_EQ(cifsmon::CanonicalEndpoint(Endpoint(AF_INET, "10.1.2.3", 445)),
              Endpoint(AF_INET, "10.1.2.3", 445));
    // Only that prefix is mapped: the old IPv4-compatible form and others stay IPv6.
    EXPECT_EQ(cifsmon::CanonicalEndpoint(Endpoint(AF_INET6, "::10.1.2.3", 445)).family, AF_INET6);
    EXPECT_EQ(cifsmon::CanonicalEndpoint(Endpoint(AF_INET6, "::fffe:10.1.2.3", 445)).family,
              AF_INET6);

    EXPECT_EQ(cifsmon::DescribeEndpoint(Endpoint(AF_INET, "10.1.2.3", 445)), "10.1.2.3:445");
    EXPECT_EQ(cifsmon::DescribeEndpoint(Endpoint(AF_INET6, "fd00::7", 80)), "[fd00::7]:80");
}

TEST(SambaSockets, ClientAddressTextsRefused) {
    using namespace std::string_view_literals;
    for (std::string_view text : {
             ""sv,
             "ipv4:"sv,
             "unix:/run/samba/client"sv,
             "ipv4:127.0.0.1"sv,
             "ipv4:127.0.0.1:"sv,
             "ipv4::445"sv,
             "ipv4:127.0.0.1:65536"sv,
             "ipv4:127.0.0.1:4294967741"sv,
             "ipv4:127.0.0.1:-1"sv,
             "ipv4:127.0.0.1:+1"sv,
             "ipv4:127.0.0.1:0445"sv,
             "ipv4:127.0.0.1:44x"sv,
             "ipv4:127.0.0.1:445 "sv,
             "ipv4: 127.0.0.1:445"sv,
             "ipv4:1.2.3:445"sv,
             "ipv4:1.2.3.4.5:445"sv,
             "ipv4:1.2.3.256:445"sv,
             "ipv4:::1:445"sv,
             "ipv6:127.0.0.1:445"sv,
             "ipv6:[::1]:445"sv,
             "ipv6:fe80::1%eth0:445"sv,
             "ipv6:1:2:3:4:5:6:7:8:9:445"sv,
             "IPV4:127.0.0.1:445"sv,
             "ipv4 127.0.0.1:445"sv,
             "127.0.0.1:445"sv,
             "ipv4:127.0.0.1\0junk:445"sv,
             "ipv6:0000:0000:0000:0000:0000:0000:0000:0000:0000:0000:0000:1:445"sv,
         }) {
        EXPECT_EQ(cifsmon::ParseTsocketAddress(text), std::nullopt) << text;
    }
}

// Crafted sock_diag answers.
using Bytes = std::vector<std::byte>;

template <typename T>
void Append(Bytes *bytes, const T &value, std::size_t length = sizeof(T)) {
    const auto *start = reinterpret_cast<const std::byte *>(&value);
    bytes->insert(bytes->end(), start, start + std::min(length, sizeof(T)));
    bytes->resize(bytes->size() + (length > sizeof(T) ? length - sizeof(T) : 0));
}

void Pad(Bytes *bytes) {
    bytes->resize(NLMSG_ALIGN(bytes->size()));
}

// A netlink message: its header (with nlmsg_len the true length unless `length` says otherwise)
// and payload, padded.
Bytes Message(uint16_t type, uint32_t sequence, const Bytes &payload,
              std::optional<uint32_t> length = std::nullopt) {
    nlmsghdr header{};
    header.nlmsg_len = length.value_or(static_cast<uint32_t>(sizeof(header) + payload.size()));
    header.nlmsg_type = type;
    header.nlmsg_flags = NLM_F_MULTI;
    header.nlmsg_seq = sequence;
    Bytes bytes;
    Append(&bytes, header);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    Pad(&bytes);
    return bytes;
}

Bytes Attribute(uint16_t type, const Bytes &value, std::optional<uint16_t> length = std::nullopt) {
    rtattr header{};
    header.rta_len = length.value_or(static_cast<uint16_t>(sizeof(header) + value.size()));
    header.rta_type = type;
    Bytes bytes;
    Append(&bytes, header);
    bytes.insert(bytes.end(), value.begin(), value.end());
    Pad(&bytes);
    return bytes;
}

// The first `length` bytes of a tcp_info holding the given counters (a kernel whose structure
// is shorter than this build's sends only its own; a newer one sends more).
Bytes Info(const TcpCounters &counters, std::size_t length = sizeof(tcp_info)) {
    tcp_info info{};
    info.tcpi_state = 1;
    info.tcpi_bytes_received = counters.bytesReceived;
    info.tcpi_bytes_acked = counters.bytesAcked;
    info.tcpi_segs_in = static_cast<uint32_t>(counters.segsIn);
    info.tcpi_data_segs_in = static_cast<uint32_t>(counters.dataSegsIn);
    info.tcpi_segs_out = static_cast<uint32_t>(counters.segsOut);
    info.tcpi_data_segs_out = static_cast<uint32_t>(counters.dataSegsOut);
    Bytes bytes;
    Append(&bytes, info, length);
    return bytes;
}

Bytes DiagAnswer(const TcpSocketInfo &socket, const Bytes &attributes, uint8_t family = 0) {
    inet_diag_msg message{};
    message.idiag_family = family != 0 ? family : static_cast<uint8_t>(socket.local.family);
    message.idiag_state = socket.state;
    message.id.idiag_sport = htons(socket.local.port);
    message.id.idiag_dport = htons(socket.remote.port);
    std::memcpy(message.id.idiag_src, socket.local.address.data(), 16);
    std::memcpy(message.id.idiag_dst, socket.remote.address.data(), 16);
    message.idiag_inode = static_cast<uint32_t>(socket.inode);
    Bytes payload;
    Append(&payload, message);
    payload.insert(payload.end(), attributes.begin(), attributes.end());
    return payload;
}

Bytes ErrorPayload(int error) {
    nlmsgerr body{};
    body.error = error;
    Bytes bytes;
    Append(&bytes, body);
    return bytes;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

struct Parsed {
    DiagBufferEnd end;
    int error;
    std::vector<TcpSocketInfo> sockets;
};

// Parses a copy of `bytes` in a heap block of exactly its size, starting one byte into it so
// that nothing is aligned.
Parsed Parse(const Bytes &bytes, uint32_t sequence = 7) {
    auto block = std::make_unique<std::byte[]>(bytes.size() + 1);
    std::copy(bytes.begin(), bytes.end(), block.get() + 1);
    Parsed parsed;
    auto result = cifsmon::ParseSockDiagBuffer(
        std::span<const std::byte>(block.get() + 1, bytes.size()), sequence, &parsed.sockets);
    parsed.end = result.end;
    parsed.error = result.error;
    return parsed;
}

TcpSocketInfo SampleV4() {
    TcpSocketInfo socket;
    socket.local = Endpoint(AF_INET, "192.168.5.1", 445);
    socket.remote = Endpoint(AF_INET, "10.1.2.3", 50514);
    socket.inode = 4000000001;
    socket.state = cifsmon::kTcpEstablished;
    socket.hasCounters = true;
    socket.counters = {1000000007, 2000000011, 301, 203, 407, 199};
    return socket;
}

TcpSocketInfo SampleV6() {
    TcpSocketInfo socket;
    socket.local = Endpoint(AF_INET6, "fd00::1", 445);
    socket.remote = Endpoint(AF_INET6, "fd00::7:8", 61000);
    socket.inode = 77;
    socket.state = 8;  // close-wait
    socket.hasCounters = true;
    socket.counters = {5, 6, 7, 8, 9, 10};
    return socket;
}

void ExpectSocket(const TcpSocketInfo &got, const TcpSocketInfo &want) {
    EXPECT_EQ(got.local, want.local);
    EXPECT_EQ(got.remote, want.remote);
    EXPECT_EQ(got.inode, want.inode);
    EXPECT_EQ(got.state, want.state);
    EXPECT_EQ(got.hasCounters, want.hasCounters);
    EXPECT_EQ(got.counters, want.counters);
}

// Two answers with other attributes around the tcp_info, answers of another request and of
// another family passed over, then the end of the dump.
Bytes GoodDump() {
    TcpSocketInfo unix_socket = SampleV4();
    return Concat({
        Message(SOCK_DIAG_BY_FAMILY, 7,
                DiagAnswer(SampleV4(), Concat({Attribute(INET_DIAG_MEMINFO, Bytes(16)),
                                               Attribute(INET_DIAG_INFO, Info(SampleV4().counters)),
                                               Attribute(INET_DIAG_CONG, Bytes(5))}))),
        Message(SOCK_DIAG_BY_FAMILY, 6, DiagAnswer(SampleV6(), {})),
        Message(SOCK_DIAG_BY_FAMILY, 7, DiagAnswer(unix_socket, {}, AF_UNIX)),
        Message(NLMSG_NOOP, 7, {}),
        Message(SOCK_DIAG_BY_FAMILY, 7,
                DiagAnswer(SampleV6(), Attribute(INET_DIAG_INFO, Info(SampleV6().counters)))),
        Message(NLMSG_DONE, 7, Bytes(4)),
    });
}

TEST(SambaSockets, DiagAnswersParsed) {
    Parsed parsed = Parse(GoodDump());
    EXPECT_EQ(parsed.end, DiagBufferEnd::kDone);
    ASSERT_EQ(parsed.sockets.size(), 2U);
    ExpectSocket(parsed.sockets[0], SampleV4());
    ExpectSocket(parsed.sockets[1], SampleV6());

    // The dump goes on in the next buffer; a socket without tcp_info is listed without counters.
    TcpSocketInfo bare = SampleV4();
    bare.hasCounters = false;
    bare.counters = {};
    parsed = Parse(Message(SOCK_DIAG_BY_FAMILY, 7, DiagAnswer(SampleV4(), {})));
    EXPECT_EQ(parsed.end, DiagBufferEnd::kMore);
    ASSERT_EQ(parsed.sockets.size(), 1U);
    ExpectSocket(parsed.sockets[0], bare);

    // The last message and attribute may come without their padding.
    Bytes answer = DiagAnswer(SampleV4(), Attribute(INET_DIAG_CONG, Bytes(3)));
    answer.pop_back();
    Bytes unpadded = Message(SOCK_DIAG_BY_FAMILY, 7, answer);
    ASSERT_EQ(unpadded.size() % 4, 0U);
    unpadded.pop_back();
    parsed = Parse(unpadded);
    EXPECT_EQ(parsed.end, DiagBufferEnd::kMore);
    EXPECT_EQ(parsed.sockets.size(), 1U);
}

TEST(SambaSockets, DiagAnswersCutShortAreRefused) {
    Bytes dump = GoodDump();
    // Where each message starts: a cut there leaves whole messages.
    std::vector<std::size_t> boundaries;
    for (std::size_t at = 0; at < dump.size();) {
        boundaries.push_back(at);
        nlmsghdr header;
        std::memcpy(&header, dump.data() + at, sizeof(header));
        at += NLMSG_ALIGN(header.nlmsg_len);
    }
    for (std::size_t length = 1; length < dump.size(); ++length) {
        Parsed parsed = Parse(Bytes(dump.begin(), dump.begin() + length));
        bool whole = std::find(boundaries.begin(), boundaries.end(), length) != boundaries.end();
        EXPECT_EQ(parsed.end, whole ? DiagBufferEnd::kMore : DiagBufferEnd::kMalformed)
            << "cut at " << length;
    }
}

TEST(SambaSockets, DiagAnswersWithLyingLengthsAreRefused) {
    Bytes answer = DiagAnswer(SampleV4(), Attribute(INET_DIAG_INFO, Info(SampleV4().counters)));
    uint32_t trueLength = static_cast<uint32_t>(sizeof(nlmsghdr) + answer.size());
    // A message longer than the buffer, one shorter than its own header (0 would never advance),
    // and an answer too short for inet_diag_msg.
    for (uint32_t length : {trueLength + 4, trueLength + 4096, 0U, 8U, 15U}) {
        EXPECT_EQ(Parse(Message(SOCK_DIAG_BY_FAMILY, 7, answer, length)).end,
                  DiagBufferEnd::kMalformed)
            << length;
    }
    EXPECT_EQ(Parse(Message(SOCK_DIAG_BY_FAMILY, 7, Bytes(sizeof(inet_diag_msg) - 1))).end,
              DiagBufferEnd::kMalformed);
    // A second message whose length runs past the buffer, after a good one.
    Bytes two = Concat({Message(SOCK_DIAG_BY_FAMILY, 7, answer),
                        Message(SOCK_DIAG_BY_FAMILY, 7, answer, trueLength + 64)});
    EXPECT_EQ(Parse(two).end, DiagBufferEnd::kMalformed);

    // Attributes longer than what is left of their message (though not of the buffer, where
    // the end of the dump follows), or shorter than their own header.
    Bytes info = Info(SampleV4().counters);
    for (uint16_t length :
         {static_cast<uint16_t>(info.size() + 4 + 1), static_cast<uint16_t>(info.size() + 4 + 8),
          static_cast<uint16_t>(info.size() + 4 + 4096), uint16_t{0}, uint16_t{3}}) {
        Bytes lying = DiagAnswer(SampleV4(), Attribute(INET_DIAG_INFO, info, length));
        EXPECT_EQ(Parse(Concat({Message(SOCK_DIAG_BY_FAMILY, 7, lying),
                                Message(NLMSG_DONE, 7, Bytes(4))}))
                      .end,
                  DiagBufferEnd::kMalformed)
            << length;
    }
    // Fewer bytes left after an attribute than an attribute header.
    Bytes tail = DiagAnswer(SampleV4(), Concat({Attribute(INET_DIAG_CONG, Bytes(4)), Bytes(2)}));
    EXPECT_EQ(Parse(Message(SOCK_DIAG_BY_FAMILY, 7, tail)).end, DiagBufferEnd::kMalformed);
}

TEST(SambaSockets, ShortTcpInfoLeavesTheFieldsItLacksAtZero) {
    TcpCounters counters = SampleV4().counters;
    auto parsedWith = [&](std::size_t length) {
        Parsed parsed = Parse(
            Message(SOCK_DIAG_BY_FAMILY, 7,
                    DiagAnswer(SampleV4(), Attribute(INET_DIAG_INFO, Info(counters, length)))));
        EXPECT_EQ(parsed.end, DiagBufferEnd::kMore);
        EXPECT_EQ(parsed.sockets.size(), 1U);
        return parsed.sockets.empty() ? TcpCounters{} : parsed.sockets[0].counters;
    };
    // An old kernel's tcp_info ends before the byte counters.
    EXPECT_EQ(parsedWith(offsetof(tcp_info, tcpi_bytes_acked)), TcpCounters{});
    // Half of a field is no field: bytes_received cut after its first four bytes.
    TcpCounters acked{};
    acked.bytesAcked = counters.bytesAcked;
    EXPECT_EQ(parsedWith(offsetof(tcp_info, tcpi_bytes_received) + 4), acked);
    // Up to segs_in: the data segment counters are missing.
    TcpCounters upToSegsIn = counters;
    upToSegsIn.dataSegsIn = 0;
    upToSegsIn.dataSegsOut = 0;
    EXPECT_EQ(parsedWith(offsetof(tcp_info, tcpi_segs_in) + 4), upToSegsIn);
    // Up to data_segs_in: data_segs_out, right after it, is missing.
    TcpCounters upToDataIn = counters;
    upToDataIn.dataSegsOut = 0;
    EXPECT_EQ(parsedWith(offsetof(tcp_info, tcpi_data_segs_in) + 4), upToDataIn);
    // A newer kernel's longer tcp_info.
    EXPECT_EQ(parsedWith(sizeof(tcp_info) + 64), counters);
    EXPECT_EQ(parsedWith(0), TcpCounters{});
}

TEST(SambaSockets, DiagErrorsAndEnd) {
    Bytes answer = Message(SOCK_DIAG_BY_FAMILY, 7, DiagAnswer(SampleV4(), {}));
    Parsed parsed = Parse(Concat({answer, Message(NLMSG_ERROR, 7, ErrorPayload(-EPERM))}));
    EXPECT_EQ(parsed.end, DiagBufferEnd::kError);
    EXPECT_EQ(parsed.error, EPERM);

    parsed = Parse(Message(NLMSG_DONE, 7, ErrorPayload(-EINTR)));
    EXPECT_EQ(parsed.end, DiagBufferEnd::kError);
    EXPECT_EQ(parsed.error, EINTR);
    parsed = Parse(Message(NLMSG_ERROR, 7, ErrorPayload(INT_MIN)));
    EXPECT_EQ(parsed.end, DiagBufferEnd::kError);
    EXPECT_GT(parsed.error, 0);

    // An acknowledgement ends the answer; nothing after it is read.
    parsed = Parse(Concat({Message(NLMSG_ERROR, 7, ErrorPayload(0)), answer}));
    EXPECT_EQ(parsed.end, DiagBufferEnd::kDone);
    EXPECT_TRUE(parsed.sockets.empty());
    // An error too short to hold its number.
    EXPECT_EQ(Parse(Message(NLMSG_ERROR, 7, Bytes(2))).end, DiagBufferEnd::kMalformed);
    // Another request's error is not this dump's.
    parsed = Parse(Concat({Message(NLMSG_ERROR, 9, ErrorPayload(-EPERM)), answer}));
    EXPECT_EQ(parsed.end, DiagBufferEnd::kMore);
    EXPECT_EQ(parsed.sockets.size(), 1U);
    // An empty buffer holds nothing yet.
    EXPECT_EQ(Parse({}).end, DiagBufferEnd::kMore);
}

TEST(SambaSockets, SessionsMatchTheirServersSocketFromTheirClient) {
    // Over loopback the client's own socket has the server's endpoint as its remote one, and a
    // client port may also be connected to another server: only the socket of the serving
    // process counts.
    TcpSocketInfo served = SampleV4();
    TcpSocketInfo elsewhere = SampleV4();
    elsewhere.inode = 55;
    elsewhere.local = Endpoint(AF_INET, "192.168.5.9", 445);
    elsewhere.counters = {1, 1, 1, 1, 1, 1};
    TcpSocketInfo mapped = SampleV6();
    mapped.remote = Endpoint(AF_INET6, "::ffff:10.9.9.9", 40000);
    mapped.inode = 90;
    TcpSocketInfo noInfo = SampleV6();
    noInfo.hasCounters = false;
    std::vector<TcpSocketInfo> sockets = {elsewhere, served, mapped, noInfo};

    std::vector<cifsmon::SessionSocketQuery> queries = {
        {100, served.remote},
        {200, served.remote},
        {100, Endpoint(AF_INET, "10.1.2.3", 50515)},
        {100, Endpoint(AF_INET, "10.9.9.9", 40000)},
        {100, Endpoint(AF_INET6, "::ffff:10.1.2.3", 50514)},
        {100, noInfo.remote},
        {300, served.remote},
    };
    std::vector<std::pair<uint64_t, std::vector<uint64_t>>> inodes = {
        {100, {3, served.inode, noInfo.inode, mapped.inode}}, {200, {55}}};
    auto found = cifsmon::MatchSessionSockets(queries, sockets, inodes);
    EXPECT_THAT(found, ElementsAre(served.counters, elsewhere.counters, std::nullopt,
                                   mapped.counters, served.counters, std::nullopt, std::nullopt));
}

TEST(SambaSockets, SocketDescriptorsOfAProcess) {
    testing_support::TempDir proc;
    std::filesystem::create_directories(proc.path() / "123" / "fd");
    auto link = [&](const std::string &name, const std::string &target) {
        std::filesystem::create_symlink(target, proc.path() / "123" / "fd" / name);
    };
    link("0", "/dev/null");
    link("3", "socket:[42]");
    link("4", "socket:[7]");
    link("5", "socket:[42]");
    link("6", "socket:[]");
    link("7", "socket:[12x]");
    link("8", "socket:[99");
    link("9", "pipe:[5]");
    link("10", "socket:[" + std::string(100, '1') + "]");
    link("11", "socket:[18446744073709551616]");
    link("12", "/srv/socket:[8]");
    EXPECT_THAT(cifsmon::SocketInodesOfProcess(proc.str(), 123), ElementsAre(7, 42));
    EXPECT_TRUE(cifsmon::SocketInodesOfProcess(proc.str(), 124).empty());
    EXPECT_TRUE(cifsmon::SocketInodesOfProcess(proc.str(), 0).empty());
    EXPECT_TRUE(cifsmon::SocketInodesOfProcess(proc.str() + "/none", 123).empty());
}

// A socket descriptor closed with its scope.
struct Fd {
    int fd;
    explicit Fd(int value) : fd(value) {}
    ~Fd() {
        if (fd >= 0) {
            close(fd);
        }
    }
};

SocketEndpoint LocalEndpoint(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    EXPECT_EQ(getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length), 0);
    SocketEndpoint endpoint;
    endpoint.family = AF_INET;
    std::memcpy(endpoint.address.data(), &address.sin_addr, 4);
    endpoint.port = ntohs(address.sin_port);
    return endpoint;
}

void Transfer(int from, int to, std::size_t count) {
    std::vector<char> data(count, 'x');
    std::size_t sent = 0;
    std::size_t received = 0;
    std::vector<char> buffer(65536);
    while (received < count) {
        if (sent < count) {
            ssize_t n = send(from, data.data() + sent, count - sent, MSG_DONTWAIT);
            ASSERT_TRUE(n > 0 || errno == EAGAIN) << std::strerror(errno);
            sent += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
        ssize_t n = recv(to, buffer.data(), buffer.size(), sent < count ? MSG_DONTWAIT : 0);
        ASSERT_TRUE(n > 0 || (n < 0 && errno == EAGAIN)) << std::strerror(errno);
        received += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
}

TEST(SambaSockets, LoopbackConnectionCountersOfTheAcceptingSide) {
    std::string failure;
    std::vector<TcpSocketInfo> all;
    if (!cifsmon::DumpTcpSockets(&all, &failure)) {
        GTEST_SKIP() << "the kernel's socket dump is not available here: " << failure;
    }

    // A process that holds none of the sockets below (forked before they exist).
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    pid_t other = fork();
    ASSERT_GE(other, 0);
    if (other == 0) {
        close(gate[1]);
        char byte;
        (void)!read(gate[0], &byte, 1);
        _exit(0);
    }
    close(gate[0]);

    Fd listener(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener.fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
    ASSERT_EQ(listen(listener.fd, 1), 0);
    socklen_t length = sizeof(address);
    ASSERT_EQ(getsockname(listener.fd, reinterpret_cast<sockaddr *>(&address), &length), 0);
    Fd client(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_EQ(connect(client.fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
    Fd server(accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC));
    ASSERT_GE(server.fd, 0);

    // Different sizes each way, so that a socket taken the wrong way round shows.
    constexpr std::size_t kToServer = 300007;
    constexpr std::size_t kToClient = 12345;
    Transfer(client.fd, server.fd, kToServer);
    Transfer(server.fd, client.fd, kToClient);

    SocketEndpoint clientEndpoint = LocalEndpoint(client.fd);
    std::vector<cifsmon::SessionSocketQuery> queries = {
        {static_cast<uint64_t>(getpid()), clientEndpoint},
        {static_cast<uint64_t>(other), clientEndpoint},
        {static_cast<uint64_t>(getpid()), LocalEndpoint(server.fd)},
    };
    std::vector<std::optional<TcpCounters>> found;
    // The client's acknowledgement of the last bytes may still be on its way.
    for (int attempt = 0; attempt < 500; ++attempt) {
        found = cifsmon::LookUpSessionSockets(queries, "/proc", &failure);
        ASSERT_EQ(failure, "");
        ASSERT_EQ(found.size(), 3U);
        if (!found[0] || found[0]->bytesAcked >= kToClient) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(found[0].has_value());
    EXPECT_EQ(found[0]->bytesReceived, kToServer);
    EXPECT_EQ(found[0]->bytesAcked, kToClient);
    EXPECT_GE(found[0]->dataSegsIn, 1U);
    EXPECT_GE(found[0]->segsIn, found[0]->dataSegsIn);
    EXPECT_GE(found[0]->dataSegsOut, 1U);
    EXPECT_GE(found[0]->segsOut, found[0]->dataSegsOut);
    EXPECT_EQ(found[1], std::nullopt);
    // The server's endpoint is the remote one of the client's socket, which this process also
    // holds: found, with the counts the other way round.
    ASSERT_TRUE(found[2].has_value());
    EXPECT_EQ(found[2]->bytesReceived, kToClient);

    close(gate[1]);
    int status = 0;
    EXPECT_EQ(waitpid(other, &status, 0), other);
}

}  // namespace
