// The demo data generator: determinism, sizes, the variety of the data, and its command line.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "cifsmonitoring/monitoring.h"
#include "monitoring/demo/demo_generator.h"
#include "monitoring/demo/generator_flags.h"
#include "monitoring/demo/state_json.h"
#include "monitoring/monitoring_fixture.h"

namespace {

using ::testing::HasSubstr;

constexpr uint64_t kNow = 1733600000;

cifsmon::State Generate(std::size_t volumes, std::size_t connections, std::size_t files,
                        uint64_t seed = 1) {
    cifsmon::GeneratorOptions options;
    options.volumes = volumes;
    options.connections = connections;
    options.files = files;
    options.seed = seed;
    options.now = kNow;
    cifsmon::State state;
    std::string error;
    EXPECT_TRUE(cifsmon::GenerateDemoState(options, &state, &error)) << error;
    return state;
}

std::size_t OpenCount(const cifsmon::State &state) {
    std::size_t opens = 0;
    for (const auto &connection : state.connections) {
        for (const auto &group : connection.openFiles) {
            opens += group.paths.size();
        }
    }
    return opens;
}

std::string FileName(const std::string &path) {
    return path.substr(path.rfind('/') + 1);
}

TEST(DemoGenerator, TheSameOptionsGiveTheSameStateAndAnotherSeedAnother) {
    std::string first = cifsmon::SerializeState(Generate(4, 36, 300, 7));
    EXPECT_EQ(cifsmon::SerializeState(Generate(4, 36, 300, 7)), first);
    EXPECT_NE(cifsmon::SerializeState(Generate(4, 36, 300, 8)), first);
}

TEST(DemoGenerator, GivesExactlyTheSizesAskedFor) {
    const std::size_t sizes[][3] = {{4, 36, 300}, {1, 1, 1}, {10, 5, 0}, {2, 100, 2000}, {1, 0, 0}};
    for (const auto &size : sizes) {
        cifsmon::State state = Generate(size[0], size[1], size[2]);
        EXPECT_EQ(state.volumes.size(), size[0]);
        EXPECT_EQ(state.connections.size(), size[1]);
        EXPECT_EQ(OpenCount(state), size[2]);
        std::set<std::string> names;
        for (const auto &volume : state.volumes) {
            EXPECT_TRUE(names.insert(volume.name).second) << "repeated volume " << volume.name;
        }
    }
}

TEST(DemoGenerator, HoldsExactlyOneTrapFile) {
    for (uint64_t seed : {1u, 2u, 3u}) {
        cifsmon::State state = Generate(4, 36, 300, seed);
        int traps = 0;
        for (const auto &connection : state.connections) {
            for (const auto &group : connection.openFiles) {
                for (const auto &path : group.paths) {
                    traps += FileName(path) == cifsmon::kTrapFileName;
                }
            }
        }
        EXPECT_EQ(traps, 1) << "seed " << seed;
    }
}

TEST(DemoGenerator, MakesRealisticVariedData) {
    cifsmon::State state = Generate(4, 36, 300);
    std::map<std::string, int> types, statuses, privileges, extensions;
    std::map<std::string, int> holders;
    bool blank = false, accent = false, htmlSpecial = false;
    for (const auto &c : state.connections) {
        ++types[c.type];
        ++statuses[c.loginStatus];
        ++privileges[c.privileges];
        in_addr address;
        EXPECT_EQ(inet_pton(AF_INET, c.address.c_str(), &address), 1) << c.address;
        EXPECT_LT(c.address.size(), static_cast<std::size_t>(CIFSMON_NET_ADDRESS_SIZE));
        EXPECT_LT(c.loginTime, kNow);
        EXPECT_GT(c.loginTime, kNow - 8 * 24 * 3600);
        EXPECT_TRUE(c.number >= 1 && c.number <= 36);
        if (c.loginStatus == "Logged-In") {
            EXPECT_FALSE(c.securityEquivalences.empty());
            EXPECT_GT(c.requestCount, 0u);
        }
        std::set<std::string> own;
        for (const auto &group : c.openFiles) {
            const cifsmon::Volume *volume = nullptr;
            for (const auto &v : state.volumes) {
                volume = v.name == group.volume ? &v : volume;
            }
            ASSERT_NE(volume, nullptr);
            for (const auto &path : group.paths) {
                EXPECT_EQ(path.rfind(volume->path + "/", 0), 0u) << path;
                EXPECT_LT(path.size(), 512u) << path;
                EXPECT_TRUE(own.insert(path).second) << "held twice: " << path;
                ++holders[path];
                std::string name = FileName(path);
                ++extensions[name.substr(name.rfind('.'))];
                blank = blank || name.find(' ') != std::string::npos;
                accent = accent ||
                         std::any_of(name.begin(), name.end(), [](char ch) { return ch & 0x80; });
                htmlSpecial = htmlSpecial || (name != cifsmon::kTrapFileName &&
                                              name.find_first_of("<>&\"'") != std::string::npos);
            }
        }
    }
    EXPECT_GT(types["Active Directory"], 0);
    EXPECT_GT(types["Ravelin"], 0);
    EXPECT_EQ(types.size(), 2u);
    EXPECT_GT(statuses["Logged-In"], 36 * 7 / 10);
    EXPECT_GT(privileges["Non-Supervisor"], 0);
    EXPECT_EQ(privileges.size() - privileges.count("Supervisor"), 1u);
    for (const char *extension : {".doc", ".docx", ".xls", ".xlsx", ".pdf", ".txt"}) {
        EXPECT_GT(extensions[extension], 0) << extension;
    }
    EXPECT_TRUE(blank && accent && htmlSpecial);
    EXPECT_TRUE(std::any_of(holders.begin(), holders.end(), [](const auto &entry) {
        return entry.second > 1;
    })) << "no file is held by two connections";
}

TEST(DemoGenerator, SessionsAndOpensCarryDetailsAsSambaReportsThem) {
    const cifsmon::State state = Generate(4, 200, 3000);
    std::map<std::string, int> dialects;
    std::set<std::string> signing;
    std::set<std::string> encryption;
    std::set<std::string> oplocks;
    std::set<uint32_t> shareModes;
    std::size_t idle = 0;
    for (const cifsmon::Connection &c : state.connections) {
        ++dialects[c.dialect];
        signing.insert(c.signing);
        encryption.insert(c.encryption);
        ASSERT_TRUE(c.idleSeconds.has_value());
        EXPECT_LE(*c.idleSeconds, kNow - c.loginTime);
        idle += *c.idleSeconds > 600 ? 1 : 0;
        EXPECT_EQ(c.node, cifsmon::kNoNode);
        if (c.dialect == "SMB2_10") {
            EXPECT_EQ(c.encryption, "no") << "SMB 2.1 does not encrypt";
        }
        for (const cifsmon::OpenFileGroup &group : c.openFiles) {
            ASSERT_EQ(group.details.size(), group.paths.size());
            for (const cifsmon::OpenDetail &detail : group.details) {
                EXPECT_GT(detail.openedAt, c.loginTime);
                EXPECT_LE(detail.openedAt, kNow);
                EXPECT_TRUE(detail.access & cifsmon::kAccessRead);
                oplocks.insert(detail.oplock);
                shareModes.insert(detail.shareMode);
            }
        }
    }
    EXPECT_EQ(dialects.size(), 3u);
    EXPECT_GT(dialects["SMB3_11"], dialects["SMB3_02"]);
    EXPECT_GT(dialects["SMB3_02"], dialects["SMB2_10"]);
    EXPECT_THAT(signing,
                ::testing::IsSupersetOf({"no", "AES-128-GMAC", "AES-128-CMAC", "HMAC-SHA256"}));
    EXPECT_THAT(encryption, ::testing::IsSupersetOf({"no", "AES-128-GCM", "AES-128-CCM"}));
    EXPECT_THAT(oplocks,
                ::testing::IsSupersetOf({"none", "batch", "level II", "lease (RWH)", "lease (R)"}));
    EXPECT_TRUE(shareModes.count(cifsmon::kShareRead)) << "some opens deny writing";
    EXPECT_GT(idle, 0u) << "some clients have been quiet a while";
}

TEST(DemoGenerator, NumbersStartAgainAfter65535Connections) {
    cifsmon::State state = Generate(1, 65537, 0);
    EXPECT_EQ(state.connections[65534].number, 65535);
    EXPECT_EQ(state.connections[65535].number, 1);
    EXPECT_EQ(state.connections[65536].number, 2);
}

TEST(DemoGenerator, RefusesFilesWithoutAConnectionOrAVolume) {
    cifsmon::GeneratorOptions options;
    options.connections = 0;
    cifsmon::State state;
    std::string error;
    EXPECT_FALSE(cifsmon::GenerateDemoState(options, &state, &error));
    options.connections = 3;
    options.volumes = 0;
    EXPECT_FALSE(cifsmon::GenerateDemoState(options, &state, &error));
    EXPECT_THAT(error, HasSubstr("at least one volume and one connection"));
}

TEST(GeneratorFlags, ReadsEveryFlagInBothForms) {
    const char *argv[] = {"gen",      "--volumes", "2",   "--connections=5", "--files", "7",
                          "--seed=9", "--now",     "100", "--output",        "x.json"};
    cifsmon::GeneratorFlags flags;
    std::string error;
    ASSERT_TRUE(cifsmon::ParseGeneratorFlags(11, argv, &flags, &error)) << error;
    EXPECT_EQ(flags.options.volumes, 2u);
    EXPECT_EQ(flags.options.connections, 5u);
    EXPECT_EQ(flags.options.files, 7u);
    EXPECT_EQ(flags.options.seed, 9u);
    EXPECT_EQ(flags.options.now, 100u);
    EXPECT_TRUE(flags.nowGiven);
    EXPECT_EQ(flags.output, "x.json");
    EXPECT_FALSE(flags.help);

    cifsmon::GeneratorFlags defaults;
    const char *none[] = {"gen"};
    ASSERT_TRUE(cifsmon::ParseGeneratorFlags(1, none, &defaults, &error));
    EXPECT_EQ(defaults.options.volumes, 4u);
    EXPECT_EQ(defaults.options.connections, 36u);
    EXPECT_EQ(defaults.options.files, 300u);
    EXPECT_FALSE(defaults.nowGiven);
    EXPECT_TRUE(defaults.output.empty());
}

TEST(GeneratorFlags, RefusesWhatIsNotAFlagOrNotANumber) {
    const std::vector<std::vector<const char *>> cases = {
        {"gen", "--bogus", "1"},  {"gen", "--files"},
        {"gen", "--files", "-1"}, {"gen", "--files=12x"},
        {"gen", "--files", "+3"}, {"gen", "--volumes=100000001"},
        {"gen", "--output="},     {"gen", "--seed", "99999999999999999999"}};
    for (const auto &argv : cases) {
        cifsmon::GeneratorFlags flags;
        std::string error;
        EXPECT_FALSE(cifsmon::ParseGeneratorFlags(static_cast<int>(argv.size()), argv.data(),
                                                  &flags, &error))
            << argv[1];
        EXPECT_FALSE(error.empty());
    }
}

class GeneratorProgram : public monitoring_test::StateFileTest {
  protected:
    int Run(const std::string &arguments) {
        std::string command =
            std::string(CIFSMON_DEMO_GEN) + " " + arguments + " >" + dir_.str() + "/out.txt 2>&1";
        return std::system(command.c_str());
    }
    std::string Output() { return testing_support::ReadFile(dir_.path() / "out.txt"); }
};

TEST_F(GeneratorProgram, WritesTheSameFileForTheSameFlagsAndTheLibraryReadsIt) {
    const std::string flags = "--volumes 3 --connections 20 --files 150 --seed 5 --now 1733600000";
    ASSERT_EQ(Run(flags + " --output " + dir_.str() + "/a/first.json"), 0) << Output();
    EXPECT_THAT(Output(), HasSubstr("wrote 3 volumes, 20 connections and 150 open files to " +
                                    dir_.str() + "/a/first.json"));
    ASSERT_EQ(Run(flags), 0) << Output();  // into CIFSMONITORING_STATE
    std::string first = testing_support::ReadFile(dir_.path() / "a/first.json");
    EXPECT_EQ(StateBytes(), first);

    int count = 0;
    VolumeDetailsNode *volumes = nullptr;
    ASSERT_EQ(Ext_ListVolumeDetails(&count, &volumes), 0);
    EXPECT_EQ(count, 3);
    FreeVolsDetailsNode(&volumes);
    ConnListNode *connections = nullptr;
    ASSERT_EQ(Ext_ListConnDetails(&count, &connections), 0);
    EXPECT_EQ(count, 20);
    FreeConnListNodes(&connections);
}

TEST_F(GeneratorProgram, RefusesABadFlagWithItsUsage) {
    EXPECT_NE(Run("--files lots"), 0);
    EXPECT_THAT(Output(), HasSubstr("--files needs a number"));
    EXPECT_THAT(Output(), HasSubstr("usage: cifsmon-demo-gen"));
    EXPECT_FALSE(std::filesystem::exists(statePath_));
}

}  // namespace
