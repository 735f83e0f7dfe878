// list_sort.h: the merge sort of the plug-in's singly linked lists (open files and connections).
//
// The order is that of a top-down merge sort: a list of n nodes is cut after its first
// ceil(n/2) nodes, both halves are sorted, and the merge takes the front half's head only when
// its key is strictly less than the back half's. For keys in a strict weak order that is a
// stable sort in which equal keys come out in the reverse of their input order: by induction,
// each half comes out so, and the merge puts the back half's (later) equal keys first. Two
// implementations give that order:
//   - SortLinkedRun splits and merges the nodes themselves, comparing exactly the pairs the
//     definition compares, in its sequence (what a traced comparison must show), and needs no
//     memory;
//   - SortEntries sorts an array of {key word, node} entries by the same splits and merges
//     (short runs by an insertion that keeps the same order), so that most comparisons read
//     only the compact array: the nodes' own comparison runs only when two key words are equal
//     and the words do not hold the whole key. It relinks the nodes once at the end.
// Callers use the second and fall back on the first when the array cannot be allocated.
#ifndef KEL2CIFS_PLUGIN_LIST_SORT_H
#define KEL2CIFS_PLUGIN_LIST_SORT_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace kel2cifs::list_sort {

// One node and the first bytes of its key (or the whole key, when it is a number).
template <typename Node>
struct Entry {
    uint64_t word;
    Node *node;
};

// The entries of one list, and room to merge them, in one block.
template <typename Node>
class EntryArray {
  public:
    EntryArray() = default;
    ~EntryArray() { std::free(entries_); }
    EntryArray(const EntryArray &) = delete;
    EntryArray &operator=(const EntryArray &) = delete;

    // Takes every node of the list, in list order, with word(node) as its word, in one walk
    // (following a list is a chain of dependent loads; walking it once more just to count it
    // would cost as much). False when memory runs short (then nothing is held).
    template <typename Word>
    bool Collect(Node *head, Word word) {
        std::size_t capacity = 0;
        for (Node *node = head; node != nullptr; node = node->next) {
            if (count_ == capacity &&
                !Grow(capacity == 0 ? kFirstCapacity : 2 * capacity, &capacity)) {
                return false;
            }
            entries_[count_++] = {word(node), node};
        }
        // The merge needs room for the front half of a run: ceil(count/2) entries.
        const std::size_t needed = count_ + (count_ - count_ / 2);
        return needed <= capacity || Grow(needed, &capacity);
    }

    Entry<Node> *entries() { return entries_; }
    Entry<Node> *scratch() { return entries_ + count_; }
    std::size_t count() const { return count_; }

  private:
    static constexpr std::size_t kFirstCapacity = 384;

    bool Grow(std::size_t capacity, std::size_t *grown) {
        void *block = capacity <= SIZE_MAX / sizeof(Entry<Node>)
                          ? std::realloc(entries_, capacity * sizeof(Entry<Node>))
                          : nullptr;
        if (block == nullptr) {
            std::free(entries_);
            entries_ = nullptr;
            count_ = 0;
            return false;
        }
        entries_ = static_cast<Entry<Node> *>(block);
        *grown = capacity;
        return true;
    }

    Entry<Node> *entries_ = nullptr;
    std::size_t count_ = 0;
};

// Fills the entries' words from text keys (each at most its field's size, never past it):
// every key shares its first `common` bytes with every other, so the word is the 8 bytes after
// them, big-endian, with zeros past the key's end. Key bytes are never zero, so words compare as
// the keys do from that byte on, a shorter key first; equal words decide nothing unless the keys
// end within them. `text(node)` gives a node's key. Two passes over the nodes in list order.
template <typename Node, typename Text>
void FillTextWords(Entry<Node> *entries, std::size_t count, Text text) {
    const std::string_view first = text(entries[0].node);
    std::size_t common = first.size();
    for (std::size_t i = 1; i < count && common > 0; ++i) {
        const std::string_view key = text(entries[i].node);
        std::size_t same = 0;
        const std::size_t limit = key.size() < common ? key.size() : common;
        while (same < limit && key[same] == first[same]) {
            ++same;
        }
        common = same;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view key = text(entries[i].node);
        uint64_t word = 0;
        for (std::size_t k = 0; k < 8; ++k) {
            const std::size_t at = common + k;
            const auto byte = at < key.size() ? static_cast<unsigned char>(key[at]) : 0u;
            word = (word << 8) | byte;
        }
        entries[i].word = word;
    }
}

// Runs this short are sorted by insertion (SortEntryRun).
inline constexpr std::size_t kInsertionRun = 8;

// a's key is strictly less than b's: by the words, and by the nodes when the words are equal
// and do not hold the whole key.
template <bool kWordIsKey, typename Node, typename Less>
bool EntryLess(const Entry<Node> &a, const Entry<Node> &b, Less &less) {
    if constexpr (kWordIsKey) {
        return a.word < b.word;
    } else {
        return a.word != b.word ? a.word < b.word : less(a.node, b.node);
    }
}

// Sorts entries[0, count) (count >= 1), using scratch[0, ceil(count/2)). With kWordIsKey equal
// words are equal keys; otherwise less(a, b), the nodes' strict order, decides between them.
template <bool kWordIsKey, typename Node, typename Less>
void SortEntryRun(Entry<Node> *entries, Entry<Node> *scratch, std::size_t count, Less &less) {
    if (count < 2) {
        return;
    }
    if (count <= kInsertionRun) {
        // The merge sort orders every run as a stable sort would, except that equal keys come
        // out in the reverse of their order in the run (each merge puts the back half's equal
        // keys first). An insertion that passes every entry not less than the new one does the
        // same for a short run, with fewer moves than merging it.
        for (std::size_t i = 1; i < count; ++i) {
            const Entry<Node> entry = entries[i];
            std::size_t at = i;
            while (at > 0 && !EntryLess<kWordIsKey>(entries[at - 1], entry, less)) {
                entries[at] = entries[at - 1];
                --at;
            }
            entries[at] = entry;
        }
        return;
    }
    const std::size_t back = count / 2;
    const std::size_t front = count - back;
    SortEntryRun<kWordIsKey>(entries, scratch, front, less);
    SortEntryRun<kWordIsKey>(entries + front, scratch, back, less);
    // The front half moves aside; the merge writes from the start, never past what it has read.
    std::memcpy(static_cast<void *>(scratch), entries, front * sizeof(Entry<Node>));
    const Entry<Node> *a = scratch;
    const Entry<Node> *aEnd = scratch + front;
    const Entry<Node> *b = entries + front;
    const Entry<Node> *bEnd = entries + count;
    Entry<Node> *out = entries;
    while (a != aEnd && b != bEnd) {
        bool aFirst = a->word < b->word;
        if constexpr (!kWordIsKey) {
            if (a->word == b->word) {
                aFirst = less(a->node, b->node);
            }
        }
        // Without branches on the outcome, which is as good as random.
        *out++ = aFirst ? *a : *b;
        a += aFirst ? 1 : 0;
        b += aFirst ? 0 : 1;
    }
    while (a != aEnd) {
        *out++ = *a++;
    }
}

// Sorts the collected entries (at least one, words filled) and links their nodes in that order;
// returns the head.
template <bool kWordIsKey, typename Node, typename Less>
Node *SortEntries(EntryArray<Node> &array, Less less) {
    Entry<Node> *entries = array.entries();
    const std::size_t count = array.count();
    SortEntryRun<kWordIsKey>(entries, array.scratch(), count, less);
    for (std::size_t i = 0; i + 1 < count; ++i) {
        entries[i].node->next = entries[i + 1].node;
    }
    entries[count - 1].node->next = nullptr;
    return entries[0].node;
}

// Sorts the `count` (at least 1) nodes from *cursor on, leaves *cursor at the node after them
// and returns the sorted run, null-terminated; merge(a, b) merges two sorted lists by the rule
// above. Nesting is log2(count) deep.
template <typename Node, typename Merge>
Node *SortLinkedRun(Node **cursor, std::size_t count, Merge &merge) {
    if (count == 1) {
        Node *node = *cursor;
        *cursor = node->next;
        node->next = nullptr;
        return node;
    }
    const std::size_t back = count / 2;
    Node *front = SortLinkedRun(cursor, count - back, merge);
    return merge(front, SortLinkedRun(cursor, back, merge));
}

// Cuts list after its first ceil(n/2) nodes: *front is the list itself, *back the rest (null for
// a list of fewer than two nodes).
template <typename Node>
void Split(Node *list, Node **front, Node **back) {
    if (list == nullptr || list->next == nullptr) {
        *front = list;
        *back = nullptr;
        return;
    }
    // slow ends on node ceil(n/2): fast takes two steps for each of slow's.
    Node *slow = list;
    Node *fast = list->next;
    while (fast != nullptr) {
        fast = fast->next;
        if (fast != nullptr) {
            slow = slow->next;
            fast = fast->next;
        }
    }
    *front = list;
    *back = slow->next;
    slow->next = nullptr;
}

// Merges two sorted lists: a's head goes first only when less(a, b), so on equal keys b's head
// goes first.
template <typename Node, typename Less>
Node *Merge(Node *a, Node *b, Less less) {
    Node *head = nullptr;
    Node **tail = &head;
    while (a != nullptr && b != nullptr) {
        if (less(a, b)) {
            *tail = a;
            a = a->next;
        } else {
            *tail = b;
            b = b->next;
        }
        tail = &(*tail)->next;
    }
    *tail = a != nullptr ? a : b;
    return head;
}

}  // namespace kel2cifs::list_sort

#endif  // KEL2CIFS_PLUGIN_LIST_SORT_H
