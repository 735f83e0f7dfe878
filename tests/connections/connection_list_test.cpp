// The connection list as the plug-in's own nodes, its merge sort, and the detail record.
#include "connections/connection_list.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cons_fixture.h"

namespace kel2cifs {
namespace {

using cons_test::Conn;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class ConnectionList : public cons_test::ConsTest {
  protected:
    // Sorts the library's list by sortType and returns the connection numbers in list order.
    std::vector<unsigned> Sorted(std::vector<fake::Connection> connections, cifsSortType sortType) {
        fake::SetConnections(std::move(connections));
        ConnectionSortStruct *list = nullptr;
        EXPECT_EQ(GetSortedConnectionList(&list, sortType), 0);
        std::vector<unsigned> numbers;
        for (const ConnectionSortStruct *node = list; node != nullptr; node = node->next) {
            numbers.push_back(node->connNumber);
        }
        FreeConnectionList(list);
        return numbers;
    }
};

TEST_F(ConnectionList, SortsEveryKeyAscending) {
    EXPECT_THAT(Sorted({Conn(7, "g"), Conn(3, "c"), Conn(5, "e")}, kSortByConnectionNumber),
                ElementsAre(3, 5, 7));
    // Byte-wise: upper case before lower case.
    EXPECT_THAT(Sorted({Conn(1, "bob"), Conn(2, "Zed"), Conn(3, "amy")}, kSortByConnectionName),
                ElementsAre(2, 3, 1));
    EXPECT_THAT(
        Sorted({Conn(1, "a", 0, 30), Conn(2, "b", 0, 10), Conn(3, "c", 0, 20)}, kSortByZupRequest),
        ElementsAre(2, 3, 1));
    EXPECT_THAT(Sorted({Conn(1, "a", 0, 0, 300), Conn(2, "b", 0, 0, 100), Conn(3, "c", 0, 0, 200)},
                       kSortByLoginTime),
                ElementsAre(2, 3, 1));
}

TEST_F(ConnectionList, EqualKeysComeOutBackHalfFirst) {
    // Byte totals 10, 10, 4 delivered as A, B, C.
    EXPECT_THAT(Sorted({Conn(1, "A", 10), Conn(2, "B", 10), Conn(3, "C", 4)}, kSortByFSActivity),
                ElementsAre(3, 2, 1));
    // Two connections of one user, by name and by type (the same key).
    EXPECT_THAT(Sorted({Conn(1, "ann"), Conn(2, "ann")}, kSortByConnectionName), ElementsAre(2, 1));
    EXPECT_THAT(Sorted({Conn(1, "ann", 0, 0, 0, "Active Directory"), Conn(2, "ann")},
                       kSortByConnectionType),
                ElementsAre(2, 1));
    // Keys 1, 0, 1, 0: a stable sort would give 2, 4, 1, 3.
    EXPECT_THAT(
        Sorted({Conn(1, "a", 0, 1), Conn(2, "b", 0, 0), Conn(3, "c", 0, 1), Conn(4, "d", 0, 0)},
               kSortByZupRequest),
        ElementsAre(4, 2, 3, 1));
    // All keys equal: every merge takes its back half first, which reverses the list.
    EXPECT_THAT(Sorted({Conn(1, "x"), Conn(2, "x"), Conn(3, "x"), Conn(4, "x"), Conn(5, "x")},
                       kSortByConnectionName),
                ElementsAre(5, 4, 3, 2, 1));
}

TEST_F(ConnectionList, SixtyFourBitKeysCompareInFull) {
    const uint64_t above = (uint64_t{1} << 32) + 1;  // low half 1
    EXPECT_THAT(Sorted({Conn(1, "a", above), Conn(2, "b", 2), Conn(3, "c", uint64_t{1} << 33)},
                       kSortByFSActivity),
                ElementsAre(2, 1, 3));
    EXPECT_THAT(Sorted({Conn(1, "a", 0, 0, above), Conn(2, "b", 0, 0, 7)}, kSortByLoginTime),
                ElementsAre(2, 1));
}

TEST_F(ConnectionList, LongListSortsWithoutDeepNesting) {
    constexpr int kLength = 200000;
    ConnectionSortStruct *list = nullptr;
    for (int i = 0; i < kLength; ++i) {
        auto *node =
            static_cast<ConnectionSortStruct *>(std::calloc(1, sizeof(ConnectionSortStruct)));
        ASSERT_NE(node, nullptr);
        node->requestCount = static_cast<uint32_t>(i);  // built front first: descending
        node->next = list;
        list = node;
    }
    ConnectionSortStruct *head = mergesort(&list, kSortByZupRequest);
    EXPECT_EQ(head, list);
    uint32_t expected = 0;
    for (const ConnectionSortStruct *node = list; node != nullptr; node = node->next) {
        ASSERT_EQ(node->requestCount, expected++);
    }
    EXPECT_EQ(expected, static_cast<uint32_t>(kLength));
    FreeConnectionList(list);
}

// The sort as defined: split after ceil(n/2) nodes, sort both halves, merge front first.
ConnectionSortStruct *ReferenceSort(ConnectionSortStruct *list, cifsSortType sortType) {
    if (list == nullptr || list->next == nullptr) {
        return list;
    }
    ConnectionSortStruct *front = nullptr;
    ConnectionSortStruct *back = nullptr;
    split_the_list(list, &front, &back);
    return merge(ReferenceSort(front, sortType), ReferenceSort(back, sortType), sortType);
}

// mergesort agrees node for node with the definition for every sort type, on keys with many
// ties, names sharing long beginnings and ending around eight bytes past them, and a name that
// fills its array without a terminator.
TEST_F(ConnectionList, MergeSortGivesTheOrderOfSplittingAndMerging) {
    static const char *const kNames[] = {"CORP\\user.",
                                         "CORP\\user.abcdefg",
                                         "CORP\\user.abcdefgh",
                                         "CORP\\user.abcdefghi",
                                         "CORP\\user.abcdefgi",
                                         "",
                                         "B"};
    for (int count : {2, 5, 100, 1001}) {
        std::vector<ConnectionSortStruct> first(static_cast<std::size_t>(count));
        unsigned state = 7;
        auto next = [&state] {
            state = state * 1103515245u + 12345u;
            return state >> 8;
        };
        for (ConnectionSortStruct &node : first) {
            node.connNumber = static_cast<uint16_t>(next() % 4);
            node.requestCount = next() % 3;
            node.bytesReadWritten = static_cast<uint64_t>(next() % 3) << 33;
            node.loginTime = next() % 3;
            const unsigned pick = next() % 8;
            if (pick == 7) {
                std::memset(node.userName, 'z', sizeof(node.userName));
            } else {
                std::snprintf(node.userName, sizeof(node.userName), "%s", kNames[pick]);
            }
        }
        for (int type = 0; type <= 7; ++type) {
            const auto sortType = static_cast<cifsSortType>(type);
            std::vector<ConnectionSortStruct> mine = first;
            std::vector<ConnectionSortStruct> defined = first;
            for (int i = 0; i < count; ++i) {
                mine[i].next = i + 1 < count ? &mine[i + 1] : nullptr;
                defined[i].next = i + 1 < count ? &defined[i + 1] : nullptr;
            }
            ConnectionSortStruct *sorted = mine.data();
            ConnectionSortStruct *head = mergesort(&sorted, sortType);
            EXPECT_EQ(head, sorted);
            std::vector<long> got;
            for (const ConnectionSortStruct *node = sorted; node != nullptr; node = node->next) {
                got.push_back(node - mine.data());
            }
            std::vector<long> want;
            for (const ConnectionSortStruct *node = ReferenceSort(defined.data(), sortType);
                 node != nullptr; node = node->next) {
                want.push_back(node - defined.data());
            }
            ASSERT_EQ(got, want) << count << " nodes, sort type " << type;
        }
    }
}

TEST_F(ConnectionList, CopiesBoundedTextsAndMarksNamedConnections) {
    fake::Connection full = Conn(9, fake::Unterminated(256), 3, 4, UINT64_MAX);
    full.netAddress = fake::Unterminated(16, 'n');
    full.connType = fake::Unterminated(20, 't');
    fake::SetConnections({full, Conn(2, "")});
    ConnectionSortStruct *list = nullptr;
    ASSERT_EQ(GetSortedConnectionList(&list, kSortByConnectionNumber), 0);
    ASSERT_NE(list, nullptr);
    ASSERT_NE(list->next, nullptr);
    const ConnectionSortStruct &unnamed = *list;
    const ConnectionSortStruct &named = *list->next;
    EXPECT_STREQ(unnamed.loggedInMark, "no");
    EXPECT_STREQ(unnamed.loginTimeText, "Tue Nov 14 22:13:20 2023");
    EXPECT_STREQ(named.loggedInMark, "yes");
    EXPECT_EQ(named.userName, std::string(255, 'x'));
    EXPECT_EQ(named.netAddress, std::string(15, 'n'));
    EXPECT_EQ(named.connType, std::string(19, 't'));
    EXPECT_EQ(named.bytesReadWritten, 3u);
    EXPECT_EQ(named.requestCount, 4u);
    EXPECT_EQ(named.loginTimeText, std::string(80, ' '));
    EXPECT_THAT(LogText(), HasSubstr("convertToTimeString, Error in getting Time string"));
    FreeConnectionList(list);
}

TEST_F(ConnectionList, ListingFailuresAndCounts) {
    ConnectionSortStruct *list = nullptr;
    // A failure that still hands out a list: logged, and the list is used.
    fake::SetConnections({Conn(1, "a"), Conn(2, "b")}, 5);
    ASSERT_EQ(GetSortedConnectionList(&list, kSortByConnectionNumber), 0);
    ASSERT_NE(list, nullptr);
    EXPECT_THAT(LogText(), HasSubstr("Ext_ListConnDetails() has failed with error = 5"));
    FreeConnectionList(list);

    // The walk stops at the reported count; a count of 0 with a list gives the empty list.
    fake::SetConnections({Conn(1, "a"), Conn(2, "b")}, 0, 1);
    ASSERT_EQ(GetSortedConnectionList(&list, kSortByConnectionNumber), 0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->next, nullptr);
    FreeConnectionList(list);
    fake::SetConnections({Conn(1, "a")}, 0, 0);
    ConnectionSortStruct sentinel{};
    list = &sentinel;
    ASSERT_EQ(GetSortedConnectionList(&list, kSortByConnectionNumber), 0);
    EXPECT_EQ(list, nullptr);

    // No list at all: -1, nothing stored.
    fake::SetConnections({}, 3);
    list = &sentinel;
    EXPECT_EQ(GetSortedConnectionList(&list, kSortByConnectionNumber), kNoConnectionList);
    EXPECT_EQ(list, &sentinel);
    EXPECT_THAT(LogText(), HasSubstr("GetSortedConnectionList, Connection list is Empty"));
}

TEST_F(ConnectionList, DetailRecordKeepsWholeTexts) {
    fake::ConnInfo info;
    info.connNumber = 12;
    info.userName = fake::Unterminated(256, 'u');
    info.netAddress = fake::Unterminated(16, 'a');
    info.loginStatus = fake::Unterminated(32, 's');
    info.privileges = "Supervisor";
    info.connType = fake::Unterminated(20, 't');
    info.openFileNames = {"/v/a", "/v/b"};
    info.loginTime = 1600000000;
    fake::SetConnInfo(12, info);
    UserInfo_s *source = nullptr;
    ASSERT_EQ(Ext_GetConnInfo(12, &source), 0);

    CIFSConnectionDetails *details = nullptr;
    ASSERT_EQ(GetConnInfo(99, source, &details), 0);
    FreeUserDetailsNode(&source);
    EXPECT_EQ(details->connNumber, 12);
    EXPECT_EQ(details->userName, std::string(256, 'u'));
    EXPECT_EQ(details->netAddress, std::string(16, 'a'));
    EXPECT_EQ(details->loginStatus, std::string(32, 's'));
    EXPECT_STREQ(details->privileges, "Supervisor");
    EXPECT_EQ(details->connType, std::string(20, 't'));
    EXPECT_EQ(details->openFileCount, 2);
    EXPECT_STREQ(details->loginTimeText, "Sun Sep 13 12:26:40 2020");
    std::free(details);

    CIFSConnectionDetails sentinel{};
    details = &sentinel;
    EXPECT_EQ(GetConnInfo(12, nullptr, &details), kNoConnectionList);
    EXPECT_EQ(details, &sentinel);
    EXPECT_THAT(LogText(), HasSubstr("GetCoonInfo, UserInfo is NULL"));
}

}  // namespace
}  // namespace kel2cifs
