// The demo backend's state file layout: what SerializeState writes ParseState reads back, and
// what it refuses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "monitoring/demo/state_json.h"
#include "monitoring/state.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(StateJson, SerialisedStateParsesBackToTheSameState) {
    cifsmon::State state;
    state.volumes = {{"DATA", "/srv/DATA"}, {"Ünïcode \"vol\"", ""}};
    cifsmon::Connection c;
    c.number = 65535;
    c.address = "192.168.1.1";
    c.user = "CORP\\o'brien <&>";
    c.type = "Ravelin";
    c.bytesRead = UINT64_MAX;
    c.bytesWritten = 1;
    c.requestCount = UINT32_MAX;
    c.loginTime = 1733600000;
    c.loginStatus = "Not-Logged In";
    c.privileges = "Supervisor";
    c.securityEquivalences = {"cn=R&D,o=Example", "tab\there"};
    c.openFiles = {{"Ünïcode \"vol\"", {"/a\\b \"c\".doc", "/ctl\x01.txt"}}, {"DATA", {"/d"}}};
    cifsmon::Connection notUtf8;
    notUtf8.user =
        "bad\xFF\xC3(\xED\xA0\x80"
        "end";  // a stray byte, a cut sequence, a surrogate
    state.connections = {c, notUtf8};

    std::string text = cifsmon::SerializeState(state);
    cifsmon::State parsed;
    std::string error;
    ASSERT_TRUE(cifsmon::ParseState(text, &parsed, &error)) << error;
    ASSERT_EQ(parsed.connections.size(), 2u);
    // Written and read back byte for byte, although not UTF-8.
    EXPECT_EQ(parsed.connections[1].user, notUtf8.user);
    EXPECT_THAT(text, HasSubstr("\"user\":\"" + notUtf8.user + "\""));
    EXPECT_EQ(cifsmon::SerializeState(parsed), text);
    const cifsmon::Connection &p = parsed.connections[0];
    EXPECT_EQ(p.number, 65535);
    EXPECT_EQ(p.user, c.user);
    EXPECT_EQ(p.bytesRead, UINT64_MAX);
    EXPECT_EQ(p.requestCount, UINT32_MAX);
    EXPECT_EQ(p.securityEquivalences, c.securityEquivalences);
    ASSERT_EQ(p.openFiles.size(), 2u);
    EXPECT_EQ(p.openFiles[0].volume, "Ünïcode \"vol\"");
    EXPECT_THAT(p.openFiles[0].paths, ElementsAre("/a\\b \"c\".doc", "/ctl\x01.txt"));
    EXPECT_THAT(text, HasSubstr("\"format\": \"cifsmonitoring-demo-state\""));
}

TEST(StateJson, GroupsOfOneVolumeAreMergedInOrder) {
    cifsmon::State state;
    std::string error;
    ASSERT_TRUE(cifsmon::ParseState(R"({"volumes": [{"name": "A"}, {"name": "B"}],
        "connections": [{"number": 1, "user": "u", "openFiles": [
          {"volume": "A", "paths": ["/1"]}, {"volume": "B", "paths": ["/2"]},
          {"volume": "A", "paths": ["/3"]}, {"volume": "B", "paths": []}]}]})",
                                    &state, &error))
        << error;
    const auto &groups = state.connections[0].openFiles;
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_THAT(groups[0].paths, ElementsAre("/1", "/3"));
    EXPECT_THAT(groups[1].paths, ElementsAre("/2"));
}

// A byte that is not UTF-8 is kept wherever it stands in a text: after escapes, next to an
// escaped character, at the end; the rest of the document is read as usual.
TEST(StateJson, BytesThatAreNotUtf8AreKeptInEveryText) {
    const std::string document =
        "{\"volumes\": [{\"name\": \"V\xFF\"}], \"connections\": [{\"number\": 1, \"user\": "
        "\"a\\\\\xFE\", \"securityEquivalences\": [\"\\\"\xC3\", \"\\u00e9\xE2\x82\", "
        "\"ok\"], \"openFiles\": [{\"volume\": \"V\xFF\", \"paths\": [\"/x\xC0\xAF\", "
        "\"/fine\"]}]}]}";
    cifsmon::State state;
    std::string error;
    ASSERT_TRUE(cifsmon::ParseState(document, &state, &error)) << error;
    EXPECT_EQ(state.volumes.at(0).name, "V\xFF");
    const cifsmon::Connection &c = state.connections.at(0);
    EXPECT_EQ(c.user, "a\\\xFE");
    EXPECT_THAT(c.securityEquivalences, ElementsAre("\"\xC3", "\xC3\xA9\xE2\x82", "ok"));
    ASSERT_EQ(c.openFiles.size(), 1u);
    EXPECT_THAT(c.openFiles[0].paths, ElementsAre("/x\xC0\xAF", "/fine"));
}

TEST(StateJson, DetailsKeepTheirPathsThroughMergesAndAreWrittenOnlyWhenKnown) {
    // The second group of DATA has details and the first none: the merged group gets the
    // defaults for the first group's paths. A path added without its detail (/e) gets the
    // defaults too, and a detail past the paths is ignored.
    const char *document = R"json({"volumes": [{"name": "DATA"}], "connections": [
        {"number": 1, "user": "u", "dialect": "SMB3_02", "signing": "AES-128-CMAC",
         "encryption": "no", "idleSeconds": 0, "node": 3,
         "openFiles": [{"volume": "DATA", "paths": ["/a"]},
                       {"volume": "DATA", "paths": ["/b", "/e"],
                        "details": [{"openedAt": 9, "access": 2, "shareMode": 5,
                                     "oplock": "lease (RWH)"}]}]},
        {"number": 3, "user": "w", "openFiles": [{"volume": "DATA", "paths": ["/f"],
                        "details": [{"openedAt": 1}, {"openedAt": 2}]}]},
        {"number": 2, "user": "v", "openFiles": [{"volume": "DATA", "paths": ["/c"]}]}]})json";
    cifsmon::State state;
    std::string error;
    ASSERT_TRUE(cifsmon::ParseState(document, &state, &error)) << error;
    const cifsmon::OpenFileGroup &group = state.connections[0].openFiles.at(0);
    ASSERT_EQ(group.details.size(), 3u);
    EXPECT_EQ(group.details[0], cifsmon::OpenDetail());
    EXPECT_EQ(group.details[1].openedAt, 9u);
    EXPECT_EQ(group.details[2], cifsmon::OpenDetail());
    ASSERT_EQ(state.connections[1].openFiles.at(0).details.size(), 1u);
    EXPECT_EQ(state.connections[1].openFiles[0].details[0].openedAt, 1u);
    EXPECT_EQ(group.details[1].shareMode, cifsmon::kShareRead | cifsmon::kShareDelete);
    EXPECT_EQ(state.connections[0].idleSeconds, std::optional<uint64_t>(0));
    EXPECT_EQ(state.connections[0].node, 3u);
    EXPECT_EQ(state.connections[1].idleSeconds, std::nullopt);
    EXPECT_EQ(state.connections[1].node, cifsmon::kNoNode);

    const std::string written = cifsmon::SerializeState(state);
    cifsmon::State back;
    ASSERT_TRUE(cifsmon::ParseState(written, &back, &error)) << error;
    EXPECT_EQ(back.connections[0].openFiles[0].details, group.details);
    EXPECT_EQ(back.connections[0].dialect, "SMB3_02");
    EXPECT_EQ(back.connections[0].idleSeconds, std::optional<uint64_t>(0));
    // The connection without details is written as a state file without them was.
    const std::string second = written.substr(written.find("{\"number\":2"));
    EXPECT_THAT(second, Not(HasSubstr("details")));
    EXPECT_THAT(second, Not(HasSubstr("idleSeconds")));
    EXPECT_THAT(second, Not(HasSubstr("node")));
}

TEST(StateJson, InvalidDocumentsNameTheirFirstFault) {
    const std::pair<const char *, const char *> cases[] = {
        {"", "not JSON"},
        {"[]", "document: must be an object"},
        {R"({"connections": []})", "document.volumes: is missing"},
        {R"({"volumes": {}, "connections": []})", "document.volumes: must be an array"},
        {R"({"version": 2, "volumes": [], "connections": []})", "version: must be 1"},
        {R"({"volumes": [{"path": "/x"}], "connections": []})", "volumes[0].name: is missing"},
        {R"({"volumes": [{"name": ""}], "connections": []})", "volumes[0].name: must not be empty"},
        {R"({"volumes": [{"name": "A"}, {"name": "A"}], "connections": []})",
         "volumes[1].name: repeats the volume \"A\""},
        {R"({"volumes": [], "connections": [{"user": "u"}]})", "connections[0].number: is missing"},
        {R"({"volumes": [], "connections": [{"number": -1, "user": "u"}]})",
         "connections[0].number: must be an integer from 0 to 65535"},
        {R"({"volumes": [], "connections": [{"number": 1.5, "user": "u"}]})",
         "connections[0].number: must be an integer"},
        {R"({"volumes": [], "connections": [{"number": 1}]})", "connections[0].user: is missing"},
        {R"({"volumes": [], "connections": [{"number": 1, "user": 5}]})",
         "connections[0].user: must be a text"},
        {R"({"volumes": [], "connections": [{"number": 1, "user": "a\u0000b"}]})",
         "connections[0].user: must not hold a NUL character"},
        {R"({"volumes": [], "connections": [{"number": 1, "user": "u", "requestCount": 4294967296}]})",
         "connections[0].requestCount: must be an integer from 0 to 4294967295"},
        {R"({"volumes": [], "connections": [{"number": 1, "user": "u",
             "openFiles": [{"volume": "X", "paths": ["/a"]}]}]})",
         "connections[0].openFiles[0].volume: names no listed volume (\"X\")"},
        {R"({"volumes": [{"name": "X"}], "connections": [{"number": 1, "user": "u",
             "openFiles": [{"volume": "X", "paths": ["/a", ""]}]}]})",
         "connections[0].openFiles[0].paths[1]: must not be empty"},
        {R"({"volumes": [{"name": "X"}], "connections": [{"number": 1, "user": "u",
             "securityEquivalences": "cn=x"}]})",
         "connections[0].securityEquivalences: must be an array of texts"},
        {R"({"volumes": [{"name": "X"}], "connections": [{"number": 1, "user": "u",
             "openFiles": [{"volume": "X", "paths": ["/a"], "details": [{"access": 8}]}]}]})",
         "connections[0].openFiles[0].details[0].access: must be an integer from 0 to 7"},
        {R"({"volumes": [], "connections": [{"number": 1, "user": "u", "node": 4294967296}]})",
         "connections[0].node: must be an integer from 0 to 4294967295"},
        {R"({"volumes": [], "connections": [{"number": 1, "user": "u", "dialect": 3}]})",
         "connections[0].dialect: must be a text"},
        // A byte that is not UTF-8 is kept inside a text, but outside one it is no JSON.
        {"{\"volumes\": [{\"name\": \"A\"}\xC3], \"connections\": []}", "not JSON"},
    };
    for (const auto &[document, expected] : cases) {
        cifsmon::State state;
        std::string error;
        EXPECT_FALSE(cifsmon::ParseState(document, &state, &error)) << document;
        EXPECT_THAT(error, HasSubstr(expected)) << document;
    }
}

}  // namespace
