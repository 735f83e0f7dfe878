// Loads the built libkel2cifs.so next to the recording host and the monitoring double (linked
// into this binary as libkel.so and libcifsmonitoring.so, so the plug-in binds to them), and
// checks what its load and unload routines register with the host.
#include <dlfcn.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "support/fake_host.h"
#include "support/fake_monitoring.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;

struct Expected {
    const char *displayName;
    const char *keyword;
    int length;
};

constexpr Expected kConnections{"Manage Connections", "cifscons", 8};
constexpr Expected kLogs{"View Logs", "cifslogs", 8};
constexpr Expected kOpenFiles{"Manage Open Files", "cifsofm", 7};

class Registration : public ::testing::Test {
  protected:
    void SetUp() override {
        root_.MakeDir("var/opt/zantio/log");
        root_.Write("opt/zantio/lib/libkel2cifs.conf", "LOG_LEVEL DEBUG\n");
        ASSERT_EQ(setenv("KEL2CIFS_ROOT", root_.str().c_str(), 1), 0);
        fake::ResetRegistry();
        fake::Reset();
    }
    void TearDown() override {
        if (handle_ != nullptr) {
            dlclose(handle_);
        }
        unsetenv("KEL2CIFS_ROOT");
        EXPECT_EQ(fake::Outstanding(), 0u);
        EXPECT_TRUE(fake::Errors().empty());
    }

    void Load() {
        handle_ = dlopen(KEL2CIFS_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << dlerror();
    }
    void Unload() {
        ASSERT_EQ(dlclose(handle_), 0);
        handle_ = nullptr;
    }

    std::string LogText() const {
        return ReadFile(root_.path() / "var/opt/zantio/log/libkel2cifs.log");
    }

    static void ExpectEntry(const fake::Registration &entry, fake::Registration::Kind kind,
                            const Expected &expected) {
        EXPECT_EQ(entry.kind, kind);
        EXPECT_EQ(entry.displayName, expected.displayName);
        EXPECT_EQ(entry.keyword, expected.keyword);
        EXPECT_EQ(entry.keywordLength, expected.length);
        EXPECT_EQ(entry.reserved1, nullptr);
        EXPECT_EQ(entry.reserved2, nullptr);
        EXPECT_TRUE(entry.hadStatus);
        EXPECT_NE(entry.method, nullptr);
        if (kind == fake::Registration::kRegister) {
            EXPECT_EQ(entry.flags, 0x4000du);
            ASSERT_TRUE(entry.group.has_value());
            EXPECT_EQ(entry.group->word1, 0u);
            EXPECT_EQ(entry.group->word2, 0u);
            EXPECT_STREQ(entry.group->title, "Manage CIFS Services");
        }
    }

    TempDir root_;
    void *handle_ = nullptr;
};

TEST_F(Registration, LoadRegistersThreePagesThatServeAndUnloadRemovesThem) {
    Load();
    std::vector<fake::Registration> calls = fake::Registrations();
    ASSERT_EQ(calls.size(), 3u);
    ExpectEntry(calls[0], fake::Registration::kRegister, kConnections);
    ExpectEntry(calls[1], fake::Registration::kRegister, kLogs);
    ExpectEntry(calls[2], fake::Registration::kRegister, kOpenFiles);
    EXPECT_NE(LogText().find("] Going to initialize cifs plugin\n"), std::string::npos);

    fake::SetVolumes({"VOL1"});
    fake::SetVolumeFiles("VOL1", {{7, "alice", {"/vol1/a.doc"}, std::nullopt}});
    fake::SetConnections({{7, "10.0.0.7", "alice", "Local", 3, 10, 20, 0}});
    for (const char *keyword : {"cifscons", "cifslogs", "cifsofm"}) {
        ServiceMethod method = fake::RegisteredMethod(keyword);
        ASSERT_NE(method, nullptr) << keyword;
        fake::Request request = fake::Get(std::string("/") + keyword);
        EXPECT_EQ(fake::Serve(method, request, fake::kAdministratorAccess), 200) << keyword;
        EXPECT_EQ(request.state, fake::Response::kEnded) << keyword;
        EXPECT_TRUE(request.violations.empty()) << keyword;
        EXPECT_FALSE(request.body.empty()) << keyword;
    }
    fake::Request ofm = fake::Get("/cifsofm/UserName/VOL1");
    EXPECT_EQ(fake::Serve(fake::RegisteredMethod("cifsofm"), ofm, fake::kAdministratorAccess), 200);
    EXPECT_NE(ofm.body.find("/vol1/a.doc"), std::string::npos);

    Unload();
    calls = fake::Registrations();
    ASSERT_EQ(calls.size(), 6u);
    ExpectEntry(calls[3], fake::Registration::kDeregister, kConnections);
    ExpectEntry(calls[4], fake::Registration::kDeregister, kOpenFiles);
    ExpectEntry(calls[5], fake::Registration::kDeregister, kLogs);
    for (int i = 3; i < 6; ++i) {
        EXPECT_EQ(calls[i].result, 1) << i;  // each one was registered
        EXPECT_EQ(calls[i].method, calls[i == 3 ? 0 : i == 4 ? 2 : 1].method);
    }
    EXPECT_EQ(fake::RegisteredMethod("cifscons"), nullptr);
    EXPECT_EQ(fake::RegisteredMethod("cifslogs"), nullptr);
    EXPECT_EQ(fake::RegisteredMethod("cifsofm"), nullptr);
}

TEST_F(Registration, RefusedSecondRegistrationStopsThePlugin) {
    fake::RefuseRegistration(2, 77);
    Load();
    std::vector<fake::Registration> calls = fake::Registrations();
    ASSERT_EQ(calls.size(), 5u);
    ExpectEntry(calls[0], fake::Registration::kRegister, kConnections);
    ExpectEntry(calls[1], fake::Registration::kRegister, kLogs);
    EXPECT_EQ(calls[1].result, 0);
    // The unload routine ran at once: all three are deregistered, whether registered or not.
    ExpectEntry(calls[2], fake::Registration::kDeregister, kConnections);
    ExpectEntry(calls[3], fake::Registration::kDeregister, kOpenFiles);
    ExpectEntry(calls[4], fake::Registration::kDeregister, kLogs);
    EXPECT_EQ(fake::RegisteredMethod("cifscons"), nullptr);

    std::string text = LogText();
    std::size_t going = text.find("] Going to initialize cifs plugin\n");
    std::size_t failed = text.find("] RegisterServiceMethodEx(Logs) failed rc=77\n");
    std::size_t ended = text.find("] Failed to initalize cifs plugin\n");
    ASSERT_NE(going, std::string::npos) << text;
    ASSERT_NE(failed, std::string::npos) << text;
    ASSERT_NE(ended, std::string::npos) << text;
    EXPECT_LT(going, failed);
    EXPECT_LT(failed, ended);

    // Stopped: the logger pointer is null, and unloading deregisters nothing more.
    auto **logPointer = static_cast<void **>(dlsym(handle_, "log"));
    ASSERT_NE(logPointer, nullptr);
    EXPECT_EQ(*logPointer, nullptr);
    Unload();
    EXPECT_EQ(fake::Registrations().size(), 5u);
}

// The failure lines are error lines, written even at the lowest level that writes anything, and
// a refused first registration names the Connections method.
TEST_F(Registration, RefusedFirstRegistrationIsLoggedAsAnErrorAtErrorLevel) {
    root_.Write("opt/zantio/lib/libkel2cifs.conf", "LOG_LEVEL ERROR\n");
    fake::RefuseRegistration(1, 5);
    Load();
    std::vector<fake::Registration> calls = fake::Registrations();
    ASSERT_EQ(calls.size(), 4u);
    ExpectEntry(calls[0], fake::Registration::kRegister, kConnections);
    EXPECT_EQ(calls[0].result, 0);
    ExpectEntry(calls[1], fake::Registration::kDeregister, kConnections);
    ExpectEntry(calls[2], fake::Registration::kDeregister, kOpenFiles);
    ExpectEntry(calls[3], fake::Registration::kDeregister, kLogs);

    // Line by line, without the time: "[! " is followed by 19 characters of time.
    std::vector<std::string> lines;
    std::string text = LogText();
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1) {
        std::string line = text.substr(start, end - start);
        ASSERT_GE(line.size(), 24u) << line;
        lines.push_back(line.substr(0, 3) + line.substr(22));
    }
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "[L ] ProcessLogLevel changed to \"error\"",
                         "[L ] ProcessLogLevel set file size = 4194304",
                         "[! ] Going to initialize cifs plugin",
                         "[! ] RegisterServiceMethodEx(Connections) failed rc=5",
                         "[! ] Failed to initalize cifs plugin",
                     }));
    Unload();
}

}  // namespace
