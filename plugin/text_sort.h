// text_sort.h: the order of list_sort.h (ascending keys, equal keys in the reverse of their input
// order) for text keys, by a multikey quicksort over eight key bytes at a time.
//
// A comparison sort compares the bytes two keys share again at every comparison: sorting paths
// that begin alike costs log2(n) times their common length per key. Here each entry carries the
// eight key bytes at the depth its partition has reached, as a big-endian word; a partition
// splits its entries by that word into less, equal and greater, and only the equal part goes on
// to the next eight bytes, so every key byte is read about once per partition level it takes
// part in and most work reads the compact entry array alone. Key bytes are never zero, so a
// word whose last byte is zero holds the end of its key: an equal part with such a word holds
// equal keys, which are put in the reverse of their input order.
#ifndef KEL2CIFS_PLUGIN_TEXT_SORT_H
#define KEL2CIFS_PLUGIN_TEXT_SORT_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

namespace kel2cifs::text_sort {

template <typename Node>
struct Entry {
    uint64_t word;      // key bytes [depth, depth + 8), big-endian, zeros past the key's end
    const char *key;    // the key's bytes (no zero among them)
    uint32_t length;    // the key's length
    uint32_t position;  // the node's place in the input list
    Node *node;
};

// The eight key bytes at depth, big-endian, zeros past the key's end.
inline uint64_t WordAt(const char *key, std::size_t length, std::size_t depth) {
    uint64_t word = 0;
    if (depth + 8 <= length) {
        std::memcpy(&word, key + depth, 8);
        return __builtin_bswap64(word);
    }
    for (std::size_t at = depth; at < depth + 8; ++at) {
        word = (word << 8) | (at < length ? static_cast<unsigned char>(key[at]) : 0u);
    }
    return word;
}

// a goes before b: its key is less, or the keys are equal and a came later. Both keys agree on
// their first `depth` bytes and their words hold the bytes from there.
template <typename Node>
bool Before(const Entry<Node> &a, const Entry<Node> &b, std::size_t depth) {
    if (a.word != b.word) {
        return a.word < b.word;
    }
    if ((a.word & 0xFF) != 0) {
        const std::size_t from = depth + 8;
        const std::size_t shorter = std::min(a.length, b.length);
        const int order =
            shorter > from ? std::memcmp(a.key + from, b.key + from, shorter - from) : 0;
        if (order != 0) {
            return order < 0;
        }
        if (a.length != b.length) {
            return a.length < b.length;
        }
    }
    return a.position > b.position;
}

// Parts this short are sorted by insertion.
inline constexpr std::size_t kInsertionPart = 12;

template <typename Node>
void InsertionSort(Entry<Node> *entries, std::size_t count, std::size_t depth) {
    for (std::size_t i = 1; i < count; ++i) {
        const Entry<Node> entry = entries[i];
        std::size_t at = i;
        while (at > 0 && Before(entry, entries[at - 1], depth)) {
            entries[at] = entries[at - 1];
            --at;
        }
        entries[at] = entry;
    }
}

template <typename Node>
uint64_t MedianWord(const Entry<Node> *entries, std::size_t count) {
    uint64_t a = entries[0].word;
    uint64_t b = entries[count / 2].word;
    uint64_t c = entries[count - 1].word;
    if (a > b) {
        std::swap(a, b);
    }
    if (b > c) {
        std::swap(b, c);
    }
    return a > b ? a : b;
}

// Sorts entries[0, count) whose keys agree on their first `depth` bytes, words filled at depth.
// Recursion takes the two smaller of the three parts, so it nests at most log2(count) deep; the
// largest part goes round the loop. After `budget` partitions that leave more than three
// quarters of the entries in the less or the greater part (pivots that keep missing the
// middle), what is left is sorted by comparisons instead, in O(n log n).
template <typename Node>
void SortPart(Entry<Node> *entries, std::size_t count, std::size_t depth, int budget) {
    while (count > kInsertionPart) {
        if (budget <= 0) {
            std::sort(entries, entries + count,
                      [depth](const Entry<Node> &a, const Entry<Node> &b) {
                          return Before(a, b, depth);
                      });
            return;
        }
        const uint64_t pivot = MedianWord(entries, count);
        // Three-way partition (less | equal | greater) by the word alone.
        std::size_t less = 0;
        std::size_t at = 0;
        std::size_t greater = count;
        while (at < greater) {
            const uint64_t word = entries[at].word;
            if (word < pivot) {
                std::swap(entries[less++], entries[at++]);
            } else if (word > pivot) {
                std::swap(entries[at], entries[--greater]);
            } else {
                ++at;
            }
        }
        struct Part {
            Entry<Node> *entries;
            std::size_t count;
            std::size_t depth;
        };
        Part parts[3] = {{entries, less, depth},
                         {entries + less, greater - less, depth + 8},
                         {entries + greater, count - greater, depth}};
        // Equal keys: their words end them, so the keys are alike; the later come first.
        if ((pivot & 0xFF) == 0) {
            std::sort(
                parts[1].entries, parts[1].entries + parts[1].count,
                [](const Entry<Node> &a, const Entry<Node> &b) { return a.position > b.position; });
            parts[1].count = 0;
        } else {
            for (std::size_t i = 0; i < parts[1].count; ++i) {
                Entry<Node> &entry = parts[1].entries[i];
                entry.word = WordAt(entry.key, entry.length, depth + 8);
            }
        }
        std::sort(parts, parts + 3, [](const Part &a, const Part &b) { return a.count < b.count; });
        // A part at the next depth is progress whatever its size; one at this depth that kept
        // more than three quarters of the entries is a pivot that missed.
        if (parts[2].depth == depth && parts[2].count > count - count / 4) {
            --budget;
        }
        SortPart(parts[0].entries, parts[0].count, parts[0].depth, budget);
        SortPart(parts[1].entries, parts[1].count, parts[1].depth, budget);
        entries = parts[2].entries;
        count = parts[2].count;
        depth = parts[2].depth;
    }
    InsertionSort(entries, count, depth);
}

// Sorts the list at *list by text(node), a string_view of the node's key with no zero byte, and
// stores the new head through list. False, with the list untouched, when the entries' memory
// (32 bytes a node) cannot be had.
template <typename Node, typename Text>
bool SortList(Node **list, Text text) {
    std::size_t count = 0;
    for (Node *node = *list; node != nullptr; node = node->next) {
        ++count;
    }
    if (count < 2) {
        return true;
    }
    if (count > UINT32_MAX || count > SIZE_MAX / sizeof(Entry<Node>)) {
        return false;
    }
    auto *entries = static_cast<Entry<Node> *>(std::malloc(count * sizeof(Entry<Node>)));
    if (entries == nullptr) {
        return false;
    }
    std::size_t i = 0;
    for (Node *node = *list; node != nullptr; node = node->next, ++i) {
        const std::string_view key = text(node);
        entries[i] = {0, key.data(), static_cast<uint32_t>(key.size()), static_cast<uint32_t>(i),
                      node};
    }
    // The bytes every key shares are skipped at once.
    std::size_t common = entries[0].length;
    for (i = 1; i < count && common > 0; ++i) {
        const std::size_t limit = std::min<std::size_t>(common, entries[i].length);
        std::size_t same = 0;
        while (same < limit && entries[i].key[same] == entries[0].key[same]) {
            ++same;
        }
        common = same;
    }
    for (i = 0; i < count; ++i) {
        entries[i].word = WordAt(entries[i].key, entries[i].length, common);
    }
    int budget = 4;
    for (std::size_t n = count; n > 1; n >>= 1) {
        budget += 2;
    }
    SortPart(entries, count, common, budget);
    for (i = 0; i + 1 < count; ++i) {
        entries[i].node->next = entries[i + 1].node;
    }
    entries[count - 1].node->next = nullptr;
    *list = entries[0].node;
    std::free(entries);
    return true;
}

}  // namespace kel2cifs::text_sort

#endif  // KEL2CIFS_PLUGIN_TEXT_SORT_H
