// Ordering an open-file list, and the sortable column headings.
#include "ofm/sort.h"

#include <pthread.h>

#include <cstring>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "expected_ofm.h"
#include "ofm_fixture.h"

namespace kel2cifs {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

struct NodeFields {
    int conn;
    std::string user;
    std::string path;
};

// Nodes that live in the test; sorting only relinks them.
class Nodes {
  public:
    explicit Nodes(const std::vector<NodeFields> &fields) : nodes_(fields.size()) {
        for (std::size_t i = 0; i < fields.size(); ++i) {
            nodes_[i].connNumber = static_cast<uint16_t>(fields[i].conn);
            nodes_[i].connNumberAlt = nodes_[i].connNumber;
            std::snprintf(nodes_[i].userName, sizeof(nodes_[i].userName), "%s",
                          fields[i].user.c_str());
            std::snprintf(nodes_[i].fileName, sizeof(nodes_[i].fileName), "%s",
                          fields[i].path.c_str());
            nodes_[i].next = i + 1 < fields.size() ? &nodes_[i + 1] : nullptr;
        }
    }
    OpenFileInfo *head() { return nodes_.empty() ? nullptr : &nodes_[0]; }
    // The positions (in the input) of the nodes of a list, in list order.
    std::vector<int> Order(const OpenFileInfo *list) const {
        std::vector<int> order;
        for (; list != nullptr; list = list->next) {
            order.push_back(static_cast<int>(list - nodes_.data()));
        }
        return order;
    }

  private:
    std::vector<OpenFileInfo> nodes_;
};

std::vector<int> Sorted(const std::vector<NodeFields> &fields, cifsSortType sortType) {
    Nodes nodes(fields);
    OpenFileInfo *list = nodes.head();
    OpenFileInfo *head = SortOpenFilesTable(&list, sortType);
    EXPECT_EQ(head, list);
    return nodes.Order(list);
}

class SortOrder : public ofm_test::OfmTest {};

TEST_F(SortOrder, AscendingByEachKey) {
    const std::vector<NodeFields> files = {
        {7, "bob", "/VOL1/a.doc"}, {3, "carol", "/VOL1/c.doc"}, {5, "alice", "/VOL1/b.doc"}};
    EXPECT_THAT(Sorted(files, kSortByConnectionNumber), ElementsAre(1, 2, 0));
    EXPECT_THAT(Sorted(files, kSortByUserName), ElementsAre(2, 0, 1));
    EXPECT_THAT(Sorted(files, kSortByFileName), ElementsAre(0, 2, 1));
}

TEST_F(SortOrder, EqualKeysTakeTheBackHalfFirst) {
    const std::vector<NodeFields> files = {{4, "ann", "/first"}, {4, "ann", "/second"}};
    EXPECT_THAT(Sorted(files, kSortByConnectionNumber), ElementsAre(1, 0));
    EXPECT_THAT(Sorted(files, kSortByUserName), ElementsAre(1, 0));
    // Four equal keys: each half is reversed, and the back half comes first.
    const std::vector<NodeFields> four = {
        {1, "u", "/a"}, {1, "u", "/b"}, {1, "u", "/c"}, {1, "u", "/d"}};
    EXPECT_THAT(Sorted(four, kSortByUserName), ElementsAre(3, 2, 1, 0));
}

TEST_F(SortOrder, ByteOrderPutsCapitalsAndPrefixesFirst) {
    EXPECT_THAT(Sorted({{1, "bob", "/x"}, {2, "Alice", "/y"}}, kSortByUserName), ElementsAre(1, 0));
    EXPECT_THAT(Sorted({{1, "u", "/v/a/b"}, {2, "u", "/v/a"}}, kSortByFileName), ElementsAre(1, 0));
    // Bytes above 0x7f order after ASCII, as unsigned.
    EXPECT_THAT(Sorted({{1, "\xc3\xa9mile", "/x"}, {2, "zed", "/y"}}, kSortByUserName),
                ElementsAre(1, 0));
}

TEST_F(SortOrder, AnUnknownSortTypeReversesTheList) {
    const std::vector<NodeFields> files = {
        {1, "a", "/1"}, {2, "b", "/2"}, {3, "c", "/3"}, {4, "d", "/4"}, {5, "e", "/5"}};
    EXPECT_THAT(Sorted(files, static_cast<cifsSortType>(9)), ElementsAre(4, 3, 2, 1, 0));
    EXPECT_THAT(Sorted(files, static_cast<cifsSortType>(0)), ElementsAre(4, 3, 2, 1, 0));
}

TEST_F(SortOrder, LogsEveryComparisonByFileNameOnly) {
    Sorted({{1, "u", "/v/a/b"}, {2, "u", "/v/a"}}, kSortByFileName);
    const std::string log = LogText();
    EXPECT_THAT(log, HasSubstr("[D] calling mergesort\n"));
    EXPECT_THAT(log, HasSubstr("[D] les = 0 , left = /v/a/b\n , right = /v/a\n\n"));
    Sorted({{1, "u", "/a"}, {2, "u", "/b"}, {3, "u", "/c"}}, kSortByFileName);
    std::string after = LogText().substr(log.size());
    // Three nodes: front [/a, /b] merges once, then with [/c] twice.
    EXPECT_THAT(after, HasSubstr("les = 1 , left = /a\n , right = /b\n"));
    EXPECT_THAT(after, HasSubstr("les = 1 , left = /a\n , right = /c\n"));
    EXPECT_THAT(after, HasSubstr("les = 1 , left = /b\n , right = /c\n"));
    std::size_t comparisons = 0;
    for (std::size_t at = after.find("les = "); at != std::string::npos;
         at = after.find("les = ", at + 1)) {
        ++comparisons;
    }
    EXPECT_EQ(comparisons, 3u);
}

TEST_F(SortOrder, OtherSortTypesLogOnlyTheCall) {
    Sorted({{2, "b", "/2"}, {1, "a", "/1"}}, kSortByConnectionNumber);
    Sorted({{2, "b", "/2"}, {1, "a", "/1"}}, kSortByUserName);
    EXPECT_THAT(LogText(), Not(HasSubstr("les = ")));
}

class SplitList : public ofm_test::OfmTest {};

TEST_F(SplitList, FrontTakesTheLargerHalf) {
    Nodes five({{1, "", ""}, {2, "", ""}, {3, "", ""}, {4, "", ""}, {5, "", ""}});
    OpenFileInfo *front = nullptr;
    OpenFileInfo *back = nullptr;
    split_the_File_list(five.head(), &front, &back);
    EXPECT_THAT(five.Order(front), ElementsAre(0, 1, 2));
    EXPECT_THAT(five.Order(back), ElementsAre(3, 4));

    Nodes one({{1, "", ""}});
    split_the_File_list(one.head(), &front, &back);
    EXPECT_EQ(front, one.head());
    EXPECT_EQ(back, nullptr);
    split_the_File_list(nullptr, &front, &back);
    EXPECT_EQ(front, nullptr);
    EXPECT_EQ(back, nullptr);
}

class MergeSort : public ofm_test::OfmTest {};

TEST_F(MergeSort, LeavesShortListsAlone) {
    OpenFileInfo *empty = nullptr;
    mergesortFile(&empty, kSortByUserName);
    EXPECT_EQ(empty, nullptr);
    Nodes one({{1, "a", "/a"}});
    OpenFileInfo *list = one.head();
    mergesortFile(&list, kSortByUserName);
    EXPECT_EQ(list, one.head());
    EXPECT_EQ(list->next, nullptr);
}

class MergeFile : public ofm_test::OfmTest {};

TEST_F(MergeFile, TakesTheFrontOnlyWhenStrictlyLess) {
    Nodes nodes({{1, "", ""}, {3, "", ""}, {1, "", ""}, {2, "", ""}});
    OpenFileInfo *a = nodes.head();
    a->next->next = nullptr;        // a: 1, 3
    OpenFileInfo *b = a->next + 1;  // b: 1, 2
    EXPECT_THAT(nodes.Order(mergeFile(a, b, kSortByConnectionNumber)), ElementsAre(2, 0, 3, 1));
    EXPECT_EQ(mergeFile(nullptr, nullptr, kSortByConnectionNumber), nullptr);
}

// A million nodes, a thousand of each key, sorted on a thread whose whole stack is 256 KiB: a
// merge that nests once per node would overflow it.
TEST_F(MergeSort, SortsAMillionNodesInASmallStack) {
    constexpr int kCount = 1000000;
    constexpr int kKeys = 1000;
    std::vector<OpenFileInfo> nodes(kCount);
    for (int i = 0; i < kCount; ++i) {
        nodes[i].connNumber = static_cast<uint16_t>((static_cast<long long>(i) * 7919) % kKeys);
        nodes[i].next = i + 1 < kCount ? &nodes[i + 1] : nullptr;
    }
    struct Job {
        OpenFileInfo *list;
    } job{nodes.data()};

    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 256 * 1024), 0);
    pthread_t thread;
    auto run = [](void *argument) -> void * {
        auto *work = static_cast<Job *>(argument);
        SortOpenFilesTable(&work->list, kSortByConnectionNumber);
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, run, &job), 0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    pthread_attr_destroy(&attributes);

    // Ascending keys; equal keys in the reverse of their input order (back half first at every
    // merge reverses every run of equal keys).
    int seen = 0;
    const OpenFileInfo *previous = nullptr;
    bool ordered = true;
    for (const OpenFileInfo *node = job.list; node != nullptr; node = node->next, ++seen) {
        if (previous != nullptr) {
            if (node->connNumber < previous->connNumber ||
                (node->connNumber == previous->connNumber && node > previous)) {
                ordered = false;
                break;
            }
        }
        previous = node;
    }
    EXPECT_TRUE(ordered) << "out of order after " << seen << " nodes";
    EXPECT_EQ(seen, kCount);
}

// The sort as defined: split after ceil(n/2) nodes, sort both halves, merge front first.
OpenFileInfo *ReferenceSort(OpenFileInfo *list, cifsSortType sortType) {
    if (list == nullptr || list->next == nullptr) {
        return list;
    }
    OpenFileInfo *front = nullptr;
    OpenFileInfo *back = nullptr;
    split_the_File_list(list, &front, &back);
    return mergeFile(ReferenceSort(front, sortType), ReferenceSort(back, sortType), sortType);
}

// Keys built to trip a sort that compares key prefixes: long shared beginnings, keys ending just
// before, at and after eight bytes past them, empty keys, and fields filled to their last byte
// without a terminator.
void FillKey(char *field, std::size_t size, unsigned pick, const char *stem) {
    static const char *const kTails[] = {"",          "a",         "abcdefg",  "abcdefgh",
                                         "abcdefghi", "abcdefgh~", "abcdefgi", "B",
                                         "\xc3\xa9",  "abcdefgh"};
    constexpr unsigned kTailCount = sizeof(kTails) / sizeof(kTails[0]);
    if (pick % (kTailCount + 2) == kTailCount) {
        std::memset(field, 'z', size);  // no terminator
        return;
    }
    if (pick % (kTailCount + 2) == kTailCount + 1) {
        field[0] = '\0';
        return;
    }
    std::snprintf(field, size, "%s%s", stem, kTails[pick % (kTailCount + 2)]);
}

// Two sorts of the same list must agree node for node; the list is sorted in place by the
// entries path (the logger below debug level) and compared with the definition.
TEST_F(MergeSort, EveryPathGivesTheOrderOfSplittingAndMerging) {
    ::kel2cifs::log->setLevel(kLevelWarning);
    struct Restore {
        ~Restore() { ::kel2cifs::log->setLevel(kLevelEverything); }
    } restore;
    for (unsigned seed : {1u, 2u, 3u}) {
        for (int count : {2, 3, 7, 64, 1000, 1025, 6000}) {
            std::vector<OpenFileInfo> first(count);
            unsigned state = seed;
            auto next = [&state] {
                state = state * 1103515245u + 12345u;
                return state >> 8;
            };
            for (int i = 0; i < count; ++i) {
                first[i].connNumber = static_cast<uint16_t>(next() % 5);
                FillKey(first[i].userName, sizeof(first[i].userName), next(), "CORP\\user.");
                FillKey(first[i].fileName, sizeof(first[i].fileName), next(),
                        "/srv/cifs/DATA/Finance/Budget/");
            }
            for (int type : {1, 2, 3, 0}) {
                const auto sortType = static_cast<cifsSortType>(type);
                std::vector<OpenFileInfo> mine = first;
                std::vector<OpenFileInfo> defined = first;
                for (int i = 0; i < count; ++i) {
                    mine[i].next = i + 1 < count ? &mine[i + 1] : nullptr;
                    defined[i].next = i + 1 < count ? &defined[i + 1] : nullptr;
                }
                OpenFileInfo *sorted = mine.data();
                mergesortFile(&sorted, sortType);
                std::vector<long> got;
                for (const OpenFileInfo *node = sorted; node != nullptr; node = node->next) {
                    got.push_back(node - mine.data());
                }
                std::vector<long> want;
                for (const OpenFileInfo *node = ReferenceSort(defined.data(), sortType);
                     node != nullptr; node = node->next) {
                    want.push_back(node - defined.data());
                }
                ASSERT_EQ(got, want)
                    << "seed " << seed << ", " << count << " nodes, sort type " << type;
            }
        }
    }
}

class InsertionSort : public ofm_test::OfmTest {};

TEST_F(InsertionSort, OrdersByConnectionWithEqualNumbersInReverse) {
    Nodes nodes({{5, "a", "/1"}, {2, "b", "/2"}, {5, "c", "/3"}, {1, "d", "/4"}, {2, "e", "/5"}});
    for (cifsSortType type : {kSortByConnectionNumber, kSortByUserName, kSortByFileName}) {
        Nodes copy(
            {{5, "a", "/1"}, {2, "b", "/2"}, {5, "c", "/3"}, {1, "d", "/4"}, {2, "e", "/5"}});
        EXPECT_THAT(copy.Order(SortOpenFileList(copy.head(), type)), ElementsAre(3, 4, 1, 2, 0));
    }
    // Any other sort type returns the list as it was.
    EXPECT_THAT(nodes.Order(SortOpenFileList(nodes.head(), static_cast<cifsSortType>(7))),
                ElementsAre(0, 1, 2, 3, 4));
    EXPECT_EQ(SortOpenFileList(nullptr, kSortByConnectionNumber), nullptr);
}

class SortTypeString : public ofm_test::OfmTest {};

TEST_F(SortTypeString, NamesEveryOtherValueConnectionNumber) {
    EXPECT_STREQ(getSortTypeString(kSortByConnectionNumber), "ConnectionNumber");
    EXPECT_STREQ(getSortTypeString(kSortByUserName), "UserName");
    EXPECT_STREQ(getSortTypeString(kSortByFileName), "FileName");
    EXPECT_STREQ(getSortTypeString(static_cast<cifsSortType>(0)), "ConnectionNumber");
    EXPECT_STREQ(getSortTypeString(static_cast<cifsSortType>(7)), "ConnectionNumber");
}

class SortHeadings : public ofm_test::OfmTest {
  protected:
    std::string Written(int sortType, const char *volume) {
        fake::Request request;
        EXPECT_EQ(HttpSendSuccessfulResponse(request.handle(), fake::kHtmlContentType), 0);
        setSortImage(request.handle(), static_cast<cifsSortType>(sortType), volume);
        HttpEndDataResponse(request.handle());
        EXPECT_THAT(request.violations, ::testing::IsEmpty());
        return request.body;
    }
};

TEST_F(SortHeadings, MarkTheSortedColumn) {
    for (int type = 1; type <= 3; ++type) {
        EXPECT_THAT(Written(type, "VOL1"),
                    fake::TextEq(expected_ofm::SortHeadingCells(type, "VOL1")))
            << type;
    }
    EXPECT_EQ(Written(0, "VOL1"), "");
    EXPECT_EQ(Written(4, "VOL1"), "");
}

TEST_F(SortHeadings, EncodeTheVolumeInTheirLinks) {
    EXPECT_THAT(Written(1, "my vol'><x"),
                fake::TextEq(expected_ofm::SortHeadingCells(1, "my%20vol%27%3E%3Cx")));
}

}  // namespace
}  // namespace kel2cifs
