// Tests of the console's small units: the response buffer, the PNG encoder, the request target,
// the access log line and the command line.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "console/access_log.h"
#include "console/assets.h"
#include "console/buffer.h"
#include "console/cli.h"
#include "console/html.h"
#include "console/png.h"
#include "console/url.h"

namespace {

using namespace kel::console;

TEST(ResponseBuffer, FormatsAcrossGrowthAndStaysTerminated) {
    ResponseBuffer buffer;
    EXPECT_EQ(buffer.data(), nullptr);
    const std::string big(ResponseBuffer::kInitialCapacity + 100, 'b');
    EXPECT_EQ(buffer.Append("%s", "head:"), 5);
    EXPECT_EQ(buffer.Append("%s", big.c_str()), static_cast<int>(big.size()));
    EXPECT_EQ(buffer.Append("%d", 42), 2);
    EXPECT_EQ(buffer.view(), "head:" + big + "42");
    EXPECT_EQ(buffer.data()[buffer.size()], '\0');
    std::size_t size = 0;
    char *block = buffer.Release(&size);
    EXPECT_EQ(size, 5 + big.size() + 2);
    EXPECT_EQ(buffer.size(), 0u);
    std::free(block);
}

TEST(ResponseBuffer, WriteBeyondTheLimitFailsWithoutChangingTheContent) {
    ResponseBuffer buffer(64);
    ASSERT_EQ(buffer.Append("%s", std::string(60, 'a').c_str()), 60);
    EXPECT_EQ(buffer.Append("%s", "12345"), -1);
    EXPECT_FALSE(buffer.AppendBytes("12345"));
    EXPECT_EQ(buffer.view(), std::string(60, 'a'));
    EXPECT_EQ(buffer.data()[60], '\0');
    EXPECT_EQ(buffer.Append("%s", "1234"), 4);
}

// Only kBigPagesAtOnce bodies grow past kBigPageSize at once; a further one waits until one of
// them is released (handed to the server) or cleared, and then goes on.
TEST(ResponseBuffer, BigPagesAreBuiltAtMostSoManyAtOnce) {
    const std::string chunk(ResponseBuffer::kBigPageSize / 4, 'x');
    auto growBig = [&chunk](ResponseBuffer &buffer) {
        for (int part = 0; part < 5; ++part) {
            ASSERT_TRUE(buffer.AppendBytes(chunk));
        }
    };
    static_assert(ResponseBuffer::kBigPagesAtOnce == 2);
    std::vector<std::unique_ptr<ResponseBuffer>> holders;
    std::vector<std::thread> threads;
    std::mutex mutex;
    std::condition_variable changed;
    int grown = 0;
    bool finish = false;
    for (int index = 0; index < 3; ++index) {
        holders.push_back(std::make_unique<ResponseBuffer>());
    }
    // Each big page is built on its own thread, as the server's request threads do.
    for (int index = 0; index < 3; ++index) {
        threads.emplace_back([&, index] {
            growBig(*holders[index]);
            std::unique_lock lock(mutex);
            ++grown;
            changed.notify_all();
            changed.wait(lock, [&] { return finish; });
            if (index != 2) {
                holders[index]->Clear();
            }
        });
    }
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return grown == 2; });
        // The third waits for a place: nothing lets it through while both places are held.
        EXPECT_FALSE(
            changed.wait_for(lock, std::chrono::milliseconds(300), [&] { return grown == 3; }));
        EXPECT_EQ(BigPagesBeingBuilt(), 2u);
        finish = true;
        changed.notify_all();
        changed.wait(lock, [&] { return grown == 3; });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    EXPECT_EQ(BigPagesBeingBuilt(), 1u);
    std::size_t size = 0;
    char *body = holders[2]->Release(&size);
    EXPECT_EQ(size, 5 * chunk.size());
    EXPECT_EQ(BigPagesBeingBuilt(), 0u);
    FreeBigBody(body);
    // What the burst freed is kept while pages may follow, and given back once it is quiet.
    const auto sent = std::chrono::steady_clock::now();
    EXPECT_FALSE(TrimAfterBigPages(sent));
    EXPECT_TRUE(TrimAfterBigPages(sent + kQuietBeforeTrim + std::chrono::seconds(1)));
    EXPECT_FALSE(TrimAfterBigPages(sent + kQuietBeforeTrim + std::chrono::seconds(2)));

    // A thread building a second body while its first holds a place does not wait for itself.
    ResponseBuffer first;
    ResponseBuffer second;
    growBig(first);
    growBig(second);
    EXPECT_EQ(BigPagesBeingBuilt(), 1u);
}

TEST(Png, ChecksumsMatchTheirStandardCheckValues) {
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Adler32("Wikipedia", 9), 0x11E60398u);
}

std::uint32_t BigEndian(const std::string &bytes, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3]));
}

TEST(Png, ChunksCarryValidChecksumsAndStoredBlocksHoldThePixels) {
    // 200 x 100 RGBA pixels make more than one stored deflate block.
    std::vector<Rgba> pixels(200 * 100);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8), 7, 255};
    }
    const std::string png = EncodePng(200, 100, pixels);
    ASSERT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    std::vector<std::string> types;
    std::string idat;
    for (std::size_t at = 8; at < png.size();) {
        const std::uint32_t length = BigEndian(png, at);
        const std::string typed = png.substr(at + 4, 4 + length);
        EXPECT_EQ(BigEndian(png, at + 8 + length), Crc32(typed.data(), typed.size()));
        types.push_back(typed.substr(0, 4));
        if (types.back() == "IHDR") {
            EXPECT_EQ(BigEndian(typed, 4), 200u);
            EXPECT_EQ(BigEndian(typed, 8), 100u);
            EXPECT_EQ(typed.substr(12, 5), std::string("\x08\x06\0\0\0", 5));
        }
        if (types.back() == "IDAT") {
            idat = typed.substr(4);
        }
        at += 12 + length;
    }
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    // Inflate the stored blocks by hand.
    std::string raw;
    std::size_t at = 2;
    bool last = false;
    while (!last) {
        last = (idat[at] & 1) != 0;
        const unsigned length = static_cast<unsigned char>(idat[at + 1]) |
                                static_cast<unsigned char>(idat[at + 2]) << 8;
        const unsigned complement = static_cast<unsigned char>(idat[at + 3]) |
                                    static_cast<unsigned char>(idat[at + 4]) << 8;
        ASSERT_EQ(length ^ complement, 0xFFFFu);
        raw += idat.substr(at + 5, length);
        at += 5 + length;
    }
    EXPECT_EQ(BigEndian(idat, at), Adler32(raw.data(), raw.size()));
    ASSERT_EQ(raw.size(), 100u * (1 + 200 * 4));
    const std::size_t row = 37, column = 123;
    const Rgba &pixel = pixels[row * 200 + column];
    const std::size_t offset = row * (1 + 200 * 4) + 1 + column * 4;
    EXPECT_EQ(raw[row * (1 + 200 * 4)], '\0');  // filter byte
    EXPECT_EQ(static_cast<unsigned char>(raw[offset]), pixel.r);
    EXPECT_EQ(static_cast<unsigned char>(raw[offset + 1]), pixel.g);
}

TEST(Assets, IconsAreDrawnAndTheStylesheetIsServed) {
    for (const char *name :
         {"sorted.png", "sortdown.png", "GRPstatus_critical.png", "network.png"}) {
        const Asset *asset = FindAsset(std::string("/opt/zantio/kel/") + name);
        ASSERT_NE(asset, nullptr) << name;
        EXPECT_STREQ(asset->contentType, "image/png");
        EXPECT_GT(asset->bytes.size(), 100u);
    }
    EXPECT_EQ(FindAsset("/opt/zantio/kel/"), nullptr);
    EXPECT_EQ(FindAsset("/console/console.css")->bytes, Stylesheet());
}

TEST(RequestTarget, SplitsAtTheFirstQuestionMark) {
    Target target;
    ASSERT_TRUE(SplitTarget("/a/b?c=1?d", &target));
    EXPECT_EQ(target.path, "/a/b");
    EXPECT_EQ(target.query, "c=1?d");
    EXPECT_TRUE(target.hasQuery);
    ASSERT_TRUE(SplitTarget("/x?", &target));
    EXPECT_TRUE(target.hasQuery);
    EXPECT_EQ(target.query, "");
    ASSERT_TRUE(SplitTarget("/x", &target));
    EXPECT_FALSE(target.hasQuery);
    EXPECT_FALSE(SplitTarget("http://host/x", &target));
    EXPECT_FALSE(SplitTarget("*", &target));
}

TEST(RequestTarget, DecodesPercentEscapesOnly) {
    std::string decoded;
    EXPECT_EQ(DecodePath("/a%20b+c%2fd%zz%4", &decoded), 0);
    EXPECT_EQ(decoded, "/a b+c/d%zz%4");
    EXPECT_EQ(DecodePath("/%3Cfilename%3E", &decoded), 0);
    EXPECT_EQ(decoded, "/<filename>");
    EXPECT_EQ(DecodePath("/a%00", &decoded), kDecodedNul);
    EXPECT_EQ(DecodePath("/" + std::string(255, 'a') + "/" + std::string(255, 'b'), &decoded), 0);
    EXPECT_EQ(DecodePath("/" + std::string(256, 'a'), &decoded), kComponentTooLong);
    EXPECT_EQ(DecodePath("/" + std::string(254, 'a') + "%41%41", &decoded), kComponentTooLong);
}

TEST(RequestTarget, LocalTargetsStayOnTheConsole) {
    EXPECT_TRUE(IsLocalTarget("/"));
    EXPECT_TRUE(IsLocalTarget("/cifsofm/VOL1?x=1"));
    EXPECT_FALSE(IsLocalTarget("//evil.example/"));
    EXPECT_FALSE(IsLocalTarget("/\\evil.example/"));
    EXPECT_FALSE(IsLocalTarget("https://evil.example/"));
    EXPECT_FALSE(IsLocalTarget("/a\r\nSet-Cookie: x"));
    EXPECT_FALSE(IsLocalTarget(""));
    EXPECT_EQ(PercentEncode("/a b?c=d&e"), "/a%20b%3Fc%3Dd%26e");
}

TEST(Html, EscapesEveryMarkupCharacter) {
    EXPECT_EQ(EscapeHtml("<a href=\"x\">'&'</a>"),
              "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;");
    EXPECT_TRUE(IsLinkableUrl("/cifsofm/help"));
    EXPECT_TRUE(IsLinkableUrl("https://docs.example/help"));
    EXPECT_FALSE(IsLinkableUrl("javascript:alert(1)"));
    EXPECT_FALSE(IsLinkableUrl("//evil.example"));
    EXPECT_FALSE(IsLinkableUrl("/a\nb"));
}

TEST(AccessLog, OneLineWithEveryFieldAndUnprintableBytesEscaped) {
    AccessRecord record;
    record.when = 0;
    record.client = "127.0.0.1";
    record.method = "GET";
    record.path = "/cifsofm/a b\n";
    record.status = 200;
    record.bytes = 5123;
    record.milliseconds = 3;
    record.account = "admin";
    const std::string line = FormatAccessLine(record);
    EXPECT_THAT(line, testing::EndsWith(" 127.0.0.1 GET /cifsofm/a%20b%0A 200 5123 3ms admin\n"));
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
    record.status = 0;
    record.account = {};
    EXPECT_THAT(FormatAccessLine(record), testing::EndsWith(" - 5123 3ms -\n"));
}

TEST(CommandLine, ListenAddressAndPort) {
    std::string address;
    std::uint16_t port = 1;
    EXPECT_TRUE(ParseListen("127.0.0.1:9090", &address, &port));
    EXPECT_EQ(address, "127.0.0.1");
    EXPECT_EQ(port, 9090);
    EXPECT_TRUE(ParseListen("[::1]:0", &address, &port));
    EXPECT_EQ(address, "::1");
    EXPECT_EQ(port, 0);
    port = 7;
    EXPECT_TRUE(ParseListen("::1", &address, &port));
    EXPECT_EQ(port, 7);
    EXPECT_TRUE(ParseListen("10.0.0.1", &address, &port));
    EXPECT_EQ(address, "10.0.0.1");
    EXPECT_FALSE(ParseListen("127.0.0.1:", &address, &port));
    EXPECT_FALSE(ParseListen("127.0.0.1:65536", &address, &port));
    EXPECT_FALSE(ParseListen("[::1", &address, &port));
    EXPECT_FALSE(ParseListen(":8080", &address, &port));
}

TEST(CommandLine, ServeAndPasswdOptions) {
    CommandLine line;
    std::string error;
    ASSERT_TRUE(ParseCommandLine(
        {"--listen=0.0.0.0:443", "--tls-cert", "c.pem", "--tls-key=k.pem", "--plugins=/p",
         "--accounts=/a", "--allow-insecure-remote", "--session-idle=60", "--login-delay=250",
         "--threads=8", "--sessions-per-account", "3", "--header-timeout=4",
         "--connections-per-address", "5", "--session-lifetime=7200"},
        &line, &error))
        << error;
    EXPECT_EQ(line.command, CommandLine::Command::kServe);
    EXPECT_EQ(line.server.address, "0.0.0.0");
    EXPECT_EQ(line.server.port, 443);
    EXPECT_EQ(line.server.certificateFile, "c.pem");
    EXPECT_EQ(line.server.keyFile, "k.pem");
    EXPECT_EQ(line.pluginDirectory, "/p");
    EXPECT_TRUE(line.pluginDirectoryGiven);
    EXPECT_EQ(line.server.accountFile, "/a");
    EXPECT_TRUE(line.server.allowInsecureRemote);
    EXPECT_EQ(line.server.sessionIdle, std::chrono::seconds(60));
    EXPECT_EQ(line.server.sessionLifetime, std::chrono::hours(2));
    EXPECT_EQ(line.server.loginDelay, std::chrono::milliseconds(250));
    EXPECT_EQ(line.server.threads, 8u);
    EXPECT_EQ(line.server.maxSessionsPerAccount, 3u);
    EXPECT_EQ(line.server.headTimeout, std::chrono::seconds(4));
    EXPECT_EQ(line.server.connectionsPerAddress, 5u);
    CommandLine defaults;
    ASSERT_TRUE(ParseCommandLine({}, &defaults, &error)) << error;
    EXPECT_EQ(defaults.server.maxSessionsPerAccount, 8u);
    EXPECT_EQ(defaults.server.headTimeout, std::chrono::seconds(10));
    EXPECT_EQ(defaults.server.connectionsPerAddress, 16u);
    EXPECT_EQ(defaults.server.sessionLifetime, std::chrono::hours(12));

    CommandLine passwd;
    ASSERT_TRUE(ParseCommandLine({"passwd", "--role=none", "guest"}, &passwd, &error)) << error;
    EXPECT_EQ(passwd.command, CommandLine::Command::kPasswd);
    EXPECT_EQ(passwd.passwdName, "guest");
    EXPECT_EQ(passwd.passwdAccess, 0u);

    for (std::vector<std::string> bad : {std::vector<std::string>{"--listen"},
                                         {"--bogus=1"},
                                         {"stray"},
                                         {"--threads=0"},
                                         {"--session-lifetime=0"},
                                         {"--sessions-per-account=0"},
                                         {"--sessions-per-account=1001"},
                                         {"--header-timeout=0"},
                                         {"--connections-per-address=0"},
                                         {"passwd"},
                                         {"passwd", "a", "b"},
                                         {"passwd", "--listen=1.2.3.4", "a"},
                                         {"passwd", "--role=root", "a"}}) {
        CommandLine parsed;
        EXPECT_FALSE(ParseCommandLine(bad, &parsed, &error)) << bad[0];
    }
}

}  // namespace
