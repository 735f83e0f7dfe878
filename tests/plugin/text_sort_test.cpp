// The multikey text sort against the order it must give: ascending keys byte by byte, a key
// before the keys it begins, equal keys in the reverse of their input order.
#include "plugin/text_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct Node {
    std::string key;
    Node *next = nullptr;
};

// Builds the list from keys, sorts it and returns the input places in sorted order.
std::vector<std::size_t> Sorted(std::vector<Node> &nodes) {
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        nodes[i].next = i + 1 < nodes.size() ? &nodes[i + 1] : nullptr;
    }
    Node *list = nodes.empty() ? nullptr : nodes.data();
    EXPECT_TRUE(kel2cifs::text_sort::SortList(
        &list, [](const Node *node) { return std::string_view(node->key); }));
    std::vector<std::size_t> order;
    for (const Node *node = list; node != nullptr; node = node->next) {
        order.push_back(static_cast<std::size_t>(node - nodes.data()));
    }
    return order;
}

std::vector<std::size_t> Expected(const std::vector<Node> &nodes) {
    std::vector<std::size_t> order(nodes.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    // std::string compares its bytes as unsigned char, as the sort must.
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const int c = nodes[a].key.compare(nodes[b].key);
        return c != 0 ? c < 0 : a > b;
    });
    return order;
}

// Keys of few distinct bytes (many ties and shared prefixes at every depth), lengths around
// every multiple of eight, bytes above 0x7F, and long shared beginnings.
std::vector<Node> RandomKeys(unsigned seed, std::size_t count, std::size_t prefix) {
    unsigned state = seed;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    };
    const std::string stem(prefix, 's');
    std::vector<Node> nodes(count);
    for (Node &node : nodes) {
        node.key = stem.substr(0, next() % 4 == 0 ? next() % (prefix + 1) : prefix);
        const std::size_t length = next() % 27;
        for (std::size_t i = 0; i < length; ++i) {
            static const char kBytes[] = {'a', 'b', '\x7f', '\x80', '\xff'};
            node.key += kBytes[next() % (i < 9 ? 2 : 5)];
        }
    }
    return nodes;
}

TEST(TextSort, GivesTheMergeOrderForManyShapesOfKeys) {
    for (unsigned seed : {1u, 2u, 3u, 4u}) {
        for (std::size_t count : {0, 1, 2, 12, 13, 100, 2000, 20000}) {
            for (std::size_t prefix : {0, 7, 8, 61}) {
                std::vector<Node> nodes = RandomKeys(seed, count, prefix);
                ASSERT_EQ(Sorted(nodes), Expected(nodes))
                    << "seed " << seed << ", " << count << " keys, prefix " << prefix;
            }
        }
    }
}

TEST(TextSort, EqualAndEmptyKeysComeOutReversed) {
    std::vector<Node> nodes(5000);
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        nodes[i].key = i % 3 == 0 ? "" : (i % 3 == 1 ? "/same/path/of/some/length.txt" : "/same");
    }
    EXPECT_EQ(Sorted(nodes), Expected(nodes));
}

// Pivots that miss: the comparison sort that takes over keeps the order.
TEST(TextSort, APartSortedByComparisonsKeepsTheOrder) {
    using Entry = kel2cifs::text_sort::Entry<Node>;
    for (int budget : {0, 1, 2}) {
        std::vector<Node> nodes = RandomKeys(7, 3000, 9);
        std::vector<Entry> entries;
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            const std::string &key = nodes[i].key;
            entries.push_back({kel2cifs::text_sort::WordAt(key.data(), key.size(), 0), key.data(),
                               static_cast<uint32_t>(key.size()), static_cast<uint32_t>(i),
                               &nodes[i]});
        }
        kel2cifs::text_sort::SortPart(entries.data(), entries.size(), 0, budget);
        std::vector<std::size_t> order;
        for (const Entry &entry : entries) {
            order.push_back(entry.position);
        }
        EXPECT_EQ(order, Expected(nodes)) << "budget " << budget;
    }
}

}  // namespace
