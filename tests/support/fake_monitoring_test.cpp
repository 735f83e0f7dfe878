#include "support/fake_monitoring.h"

#include <cstring>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::SizeIs;

class FakeMonitoring : public testing::Test {
  protected:
    void SetUp() override { fake::Reset(); }
    void TearDown() override { fake::Reset(); }
};

TEST_F(FakeMonitoring, CountsEveryBlockUntilItIsFreed) {
    fake::SetVolumeFiles("VOL1", {{3, "alice", {"/VOL1/a", "/VOL1/b"}, {}}, {4, "bob", {}, {}}});
    VolFileListNode *list = nullptr;
    int count = 0;
    ASSERT_EQ(Ext_ListVolFileDetails("VOL1", &list, &count), 0);
    EXPECT_EQ(count, 2);
    // Two nodes, one array and its two texts; bob has no files and no array.
    EXPECT_EQ(fake::Outstanding(), 5u);
    EXPECT_THAT(fake::OutstandingBlocks(), testing::Contains(HasSubstr("/VOL1/b")));

    // A free that starts past the head gives back only what it walks.
    VolFileListNode *second = list->next;
    FreeVolFileListNodes(&second);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(fake::Outstanding(), 4u);
    list->next = nullptr;

    FreeVolFileListNodes(&list);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(fake::Outstanding(), 0u);
    EXPECT_EQ(fake::Allocated(), 5u);
    EXPECT_THAT(fake::Errors(), IsEmpty());
}

TEST_F(FakeMonitoring, RecordsADoubleFreeAndAForeignPointer) {
    fake::SetVolumes({"VOL1"});
    VolumeDetailsNode *list = nullptr;
    int count = 0;
    Ext_ListVolumeDetails(&count, &list);
    VolumeDetailsNode *copy = list;
    FreeVolsDetailsNode(&list);
    EXPECT_THAT(fake::Errors(), IsEmpty());
    FreeVolsDetailsNode(&copy);
    ASSERT_THAT(fake::Errors(), SizeIs(1));
    EXPECT_THAT(fake::Errors()[0], HasSubstr("double free"));

    ConnListNode foreign = {};
    ConnListNode *pointer = &foreign;
    FreeConnListNodes(&pointer);
    ASSERT_THAT(fake::Errors(), SizeIs(2));
    EXPECT_THAT(fake::Errors()[1], HasSubstr("never handed out"));
    EXPECT_EQ(fake::Outstanding(), 0u);
}

TEST_F(FakeMonitoring, RecordsAFreeOfTheWrongKindAndKeepsTheBlock) {
    fake::SetVolumes({"VOL1"});
    VolumeDetailsNode *list = nullptr;
    int count = 0;
    Ext_ListVolumeDetails(&count, &list);
    auto *wrong = reinterpret_cast<ConnListNode *>(list);
    FreeConnListNodes(&wrong);
    EXPECT_THAT(fake::Errors(), ElementsAre(HasSubstr("freed as a ConnListNode")));
    EXPECT_EQ(fake::Outstanding(), 1u);
    FreeVolsDetailsNode(&list);
    EXPECT_EQ(fake::Outstanding(), 0u);
}

TEST_F(FakeMonitoring, HandsOutHostileRecordsAsSet) {
    fake::SetVolumes({fake::Unterminated(CIFSMON_VOLUME_NAME_SIZE), ""}, 5, 7);
    VolumeDetailsNode *volumes = nullptr;
    int count = 0;
    EXPECT_EQ(Ext_ListVolumeDetails(&count, &volumes), 5);  // a failure that still lists
    EXPECT_EQ(count, 7);
    ASSERT_NE(volumes, nullptr);
    EXPECT_EQ(std::memchr(volumes->volumeName, '\0', sizeof volumes->volumeName), nullptr);
    VolumeDetailsNode *const empty = volumes->next;
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->volumeName[0], '\0');
    VolumeDetailsNode *const end = empty->next;
    EXPECT_EQ(end, nullptr);
    FreeVolsDetailsNode(&volumes);

    fake::ConnInfo info;
    info.connNumber = 9;
    info.userName = "carol";
    info.openFileNames = {"/VOL1/a", std::nullopt, "/VOL1/c"};
    info.openFileCount = 5;
    fake::SetConnInfo(9, info, 0);
    UserInfo_s *record = nullptr;
    EXPECT_EQ(Ext_GetConnInfo(9, &record), 0);
    ASSERT_NE(record, nullptr);
    // The record is packed: its fields are copied before gtest takes references to them.
    const uint16_t openFileCount = record->openFileCount;
    char **const names = record->openFileNames;
    char **const sevDNs = record->sevDNs;
    const uint32_t secEquivCount = record->secEquivCount;
    EXPECT_EQ(openFileCount, 5);
    EXPECT_STREQ(names[0], "/VOL1/a");
    EXPECT_EQ(names[1], nullptr);
    EXPECT_STREQ(names[2], "/VOL1/c");
    for (int i = 3; i <= 5; ++i) {
        EXPECT_EQ(names[i], nullptr) << i;
    }
    EXPECT_EQ(sevDNs, nullptr);
    EXPECT_EQ(secEquivCount, 0u);
    FreeUserDetailsNode(&record);
    EXPECT_EQ(record, nullptr);

    UserInfo_s *unknown = reinterpret_cast<UserInfo_s *>(&count);
    EXPECT_EQ(Ext_GetConnInfo(10, &unknown), fake::kUnknownStatus);
    EXPECT_EQ(unknown, nullptr);
    EXPECT_EQ(fake::Outstanding(), 0u);
    EXPECT_THAT(fake::Errors(), IsEmpty());
}

TEST_F(FakeMonitoring, RecordsClosesInOrderWithTheirProgrammedResults) {
    fake::SetCloseResults({12});
    EXPECT_EQ(Ext_CloseFileByFileName("/VOL1/a"), 12);
    EXPECT_EQ(Ext_CloseFileByID(3), 0);
    EXPECT_EQ(Ext_CloseFileByFileName(std::string(512, 'p').c_str()), 0);
    const auto closes = fake::CloseCalls();
    ASSERT_EQ(closes.size(), 3u);
    EXPECT_EQ(closes[0].kind, fake::CloseCall::kByFileName);
    EXPECT_EQ(closes[0].path, "/VOL1/a");
    EXPECT_EQ(closes[0].result, 12);
    EXPECT_EQ(closes[1].kind, fake::CloseCall::kByID);
    EXPECT_EQ(closes[1].connNumber, 3u);
    EXPECT_THAT(fake::Errors(), ElementsAre(HasSubstr("512 characters")));
    EXPECT_THAT(fake::Calls(),
                ElementsAre("Ext_CloseFileByFileName(/VOL1/a)", "Ext_CloseFileByID(3)",
                            "Ext_CloseFileByFileName(" + std::string(512, 'p') + ")"));
}

TEST_F(FakeMonitoring, CloseHandlerDecidesResultsAndMayReprogramTheListings) {
    fake::SetVolumeFiles("VOL1", {{3, "alice", {"/VOL1/a"}, {}}});
    fake::SetCloseResults({12, 12});
    std::vector<fake::CloseCall> seen;
    fake::SetCloseHandler([&seen](const fake::CloseCall &call) {
        seen.push_back(call);
        // Runs outside the lock: programming the listings from here must not deadlock.
        fake::SetVolumeFiles("VOL1", {});
        return call.kind == fake::CloseCall::kByID ? 7 : 0;
    });
    EXPECT_EQ(Ext_CloseFileByFileName("/VOL1/a"), 0);
    EXPECT_EQ(Ext_CloseFileByID(3), 7);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].path, "/VOL1/a");
    EXPECT_EQ(seen[1].connNumber, 3u);
    const auto closes = fake::CloseCalls();
    ASSERT_EQ(closes.size(), 2u);
    EXPECT_EQ(closes[0].result, 0);
    EXPECT_EQ(closes[1].result, 7);

    VolFileListNode *list = nullptr;
    int count = -1;
    EXPECT_EQ(Ext_ListVolFileDetails("VOL1", &list, &count), 0);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(count, 0);

    // Reset removes the handler: the programmed results apply again.
    fake::Reset();
    fake::SetCloseResults({12});
    EXPECT_EQ(Ext_CloseFileByID(3), 12);
    EXPECT_EQ(seen.size(), 2u);
}

}  // namespace
