// Loads the built libkel2cifs.so into this process, as the console does, and checks what its load
// and unload routines do. This binary does not link the plug-in's code: it reaches the library
// only through dlopen/dlsym, and it uses the C math function `log` itself.
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "logger/logger.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;

constexpr char kLogRelative[] = "var/opt/zantio/log/libkel2cifs.log";
constexpr char kConfigRelative[] = "opt/zantio/lib/libkel2cifs.conf";

int CountOf(const std::string &text, const std::string &needle) {
    int count = 0;
    for (auto pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1)) {
        ++count;
    }
    return count;
}

// True while this process holds a descriptor open on file.
bool ProcessHasOpen(const std::filesystem::path &file) {
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        auto target = std::filesystem::read_symlink(entry.path(), ec);
        if (!ec && target == file) {
            return true;
        }
    }
    return false;
}

class PluginLoad : public ::testing::Test {
  protected:
    void SetUp() override {
        root_.MakeDir("var/opt/zantio/log");
        ASSERT_EQ(setenv("KEL2CIFS_ROOT", root_.str().c_str(), 1), 0);
    }
    void TearDown() override {
        if (handle_ != nullptr) {
            dlclose(handle_);
        }
        unsetenv("KEL2CIFS_ROOT");
    }

    void WriteConfig(const std::string &content) { root_.Write(kConfigRelative, content); }

    void Load() {
        handle_ = dlopen(KEL2CIFS_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << dlerror();
    }

    void Unload() {
        ASSERT_EQ(dlclose(handle_), 0);
        handle_ = nullptr;
        // Really unmapped, so its unload routine ran.
        void *still = dlopen(KEL2CIFS_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
        EXPECT_EQ(still, nullptr);
        if (still != nullptr) {
            dlclose(still);
        }
    }

    template <typename T>
    T *Symbol(const char *name) {
        void *address = dlsym(handle_, name);
        EXPECT_NE(address, nullptr) << name;
        return static_cast<T *>(address);
    }

    Logger *Instance() { return Symbol<Logger>("_my_local_instance"); }
    Logger **LogPointer() { return Symbol<Logger *>("log"); }

    std::filesystem::path LogFile() const { return root_.path() / kLogRelative; }
    std::string LogText() const { return ReadFile(LogFile()); }

    TempDir root_;
    void *handle_ = nullptr;
};

TEST_F(PluginLoad, LoadRunsInitOnceAndWritesTheStartLines) {
    WriteConfig("LOG_LEVEL INFO\n");
    Load();
    std::string text = LogText();
    std::regex started(
        R"(\[i \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] \.\.\. libkel2cifs plugin started \w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}\n\n)");
    EXPECT_TRUE(std::regex_search(text, started)) << text;
    EXPECT_NE(text.find("] ... log level = 3\n"), std::string::npos) << text;
    EXPECT_EQ(CountOf(text, "plugin started"), 1);

    // The loader ran our routine; running it again while started does nothing.
    auto init = reinterpret_cast<void (*)()>(dlsym(handle_, "_init"));
    ASSERT_NE(init, nullptr);
    init();
    EXPECT_EQ(LogText(), text);
    EXPECT_EQ(*LogPointer(), Instance());
}

TEST_F(PluginLoad, UnloadClosesTheLogStream) {
    WriteConfig("LOG_LEVEL INFO\n");
    Load();
    ASSERT_TRUE(ProcessHasOpen(LogFile()));
    Unload();
    EXPECT_FALSE(ProcessHasOpen(LogFile()));
}

TEST_F(PluginLoad, FiniStopsOnceAndInitStartsAfresh) {
    WriteConfig("LOG_LEVEL INFO\n");
    Load();
    auto init = reinterpret_cast<void (*)()>(dlsym(handle_, "_init"));
    auto fini = reinterpret_cast<void (*)()>(dlsym(handle_, "_fini"));
    ASSERT_NE(init, nullptr);
    ASSERT_NE(fini, nullptr);

    fini();
    EXPECT_EQ(*LogPointer(), nullptr);
    EXPECT_FALSE(ProcessHasOpen(LogFile()));
    fini();  // stopped already: nothing happens
    EXPECT_EQ(*LogPointer(), nullptr);

    init();
    EXPECT_EQ(*LogPointer(), Instance());
    EXPECT_EQ(CountOf(LogText(), "plugin started"), 2);
    Unload();
}

TEST_F(PluginLoad, MissingKeysTakeTheirDefaults) {
    WriteConfig("LOG_LEVEL DEBUG\n");
    Load();
    std::string text = LogText();
    EXPECT_NE(text.find("] ProcessLogLevel changed to \"debug\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("] ... log level = 4\n"), std::string::npos) << text;
    EXPECT_NE(text.find("] ProcessLogLevel set file size = 4194304\n"), std::string::npos) << text;
    EXPECT_EQ(Instance()->maxFileSize, 4194304);
    EXPECT_EQ(Instance()->level, 4);
}

TEST_F(PluginLoad, WithoutConfigurationTheLevelStaysDebugAndNoStartLines) {
    Load();
    EXPECT_EQ(Instance()->level, 4);
    EXPECT_EQ(Instance()->maxFileSize, 16777216);
    EXPECT_EQ(LogText().find("plugin started"), std::string::npos);
}

TEST_F(PluginLoad, EmptyConfigurationAppliesEveryDefault) {
    WriteConfig("# nothing set here\n");
    Load();
    std::string text = LogText();
    EXPECT_NE(text.find("] ProcessLogLevel changed to \"warning\"\n"), std::string::npos) << text;
    EXPECT_EQ(Instance()->level, 2);
    EXPECT_EQ(Instance()->maxFileSize, 4194304);
}

struct SizeCase {
    const char *value;
    int expected;
};

class PluginLoadSize : public PluginLoad, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(PluginLoadSize, OnlySizesAbove4095AreApplied) {
    WriteConfig(std::string("LOG_LEVEL INFO\nLOG_MAXIMUM_FILE_SIZE ") + GetParam().value + "\n");
    Load();
    EXPECT_EQ(Instance()->maxFileSize, GetParam().expected) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(Values, PluginLoadSize,
                         ::testing::Values(SizeCase{"4096", 4096}, SizeCase{"4095", 16777216},
                                           SizeCase{"0", 16777216}, SizeCase{"big", 16777216},
                                           SizeCase{"8192kb", 8192},
                                           SizeCase{"99999999999", 2147483647}));

TEST_F(PluginLoad, OverLongLevelFallsBackToWarning) {
    WriteConfig("LOG_LEVEL " + std::string(64, 'D') + "\n");
    Load();
    EXPECT_EQ(Instance()->level, 2);
    // The start lines are info lines: below the warning level they are not written.
    EXPECT_EQ(LogText().find("plugin started"), std::string::npos);
}

TEST_F(PluginLoad, LogFileIsOwnerReadWriteOnly) {
    WriteConfig("LOG_LEVEL INFO\n");
    Load();
    struct stat st {};
    ASSERT_EQ(stat(LogFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

// The loader runs _init before the library's constructors: nothing of the plug-in's own code may
// need one. The one entry of its initialiser array is the C runtime's (crtbeginS.o).
TEST_F(PluginLoad, LibraryHasNoDynamicInitialisersOfItsOwn) {
#ifdef KEL2CIFS_SANITIZED_BUILD
    GTEST_SKIP() << "the sanitizers add a constructor to every object";
#endif
    Load();
    link_map *map = nullptr;
    ASSERT_EQ(dlinfo(handle_, RTLD_DI_LINKMAP, &map), 0);
    ElfW(Xword) initArraySize = 0;
    for (const ElfW(Dyn) *entry = map->l_ld; entry->d_tag != DT_NULL; ++entry) {
        if (entry->d_tag == DT_INIT_ARRAYSZ) {
            initArraySize = entry->d_un.d_val;
        }
    }
    EXPECT_LE(initArraySize, sizeof(void *));
}

// The process has the math library loaded and calls its `log` before and after: the plug-in's
// own pointer named log must neither replace the function nor be replaced by it.
TEST_F(PluginLoad, MathLogAndThePluginsLogPointerStayApart) {
    volatile double e = M_E;
    EXPECT_DOUBLE_EQ(std::log(e), 1.0);
    WriteConfig("LOG_LEVEL INFO\n");
    Load();
    EXPECT_EQ(*LogPointer(), Instance());
    EXPECT_NE(LogText().find("plugin started"), std::string::npos);
    EXPECT_NE(dlsym(RTLD_DEFAULT, "log"), static_cast<void *>(LogPointer()));
    EXPECT_DOUBLE_EQ(std::log(e), 1.0);
    Unload();
    EXPECT_DOUBLE_EQ(std::log(e), 1.0);
}

}  // namespace
