// IndexedList against a plain array that performs the same operations: after
// every step the chain, both directions of it, the count and the cursor must
// agree with the array. The sort must leave the elements, equal ones
// included, in exactly the (unstable) order of a selection sort of the array,
// and within n log n comparisons.
//
// Input: a sequence of operations, one byte each plus one or two operand
// bytes. Elements carry a key of only four values, so that most comparisons
// meet equal elements, and a null element is stored now and then.
#include "llst.h"

#include "fuzz_util.h"

namespace {

struct item {
    int key;
};

// Enough for trees of several levels; the model's sort is quadratic.
const int max_count = 300;

item items[256];

size_t calls = 0;

int key_of(const item* e)
{
    return e ? e->key : -1;
}

int compare_keys(item* a, item* b)
{
    ++calls;
    return key_of(a) - key_of(b);
}

struct model {
    std::vector<item*> items;
    int cursor = 0;
};

void check_same(IndexedList<item>& list, const model& m)
{
    check(list.count() == static_cast<int>(m.items.size()));
    check(list.top_link.prev == nullptr && list.end_link.next == nullptr);
    ListLink<item>* link = list.top_link.next;
    for (size_t i = 0; i < m.items.size(); ++i) {
        check(link != &list.end_link && link->item == m.items[i]);
        check(link->next->prev == link && link->prev->next == link);
        if (static_cast<int>(i) == m.cursor)
            check(list.cur == link);
        link = link->next;
    }
    check(link == &list.end_link);
    check(list.cur_idx == m.cursor);
    if (m.cursor == list.count())
        check(list.cur == &list.end_link);
}

void model_sort(model& m)
{
    selection_sort(m.items, [](item* a, item* b) { return key_of(a) - key_of(b); });
    if (!m.items.empty())
        m.cursor = static_cast<int>(m.items.size()) - 1;
}

// Setting up the tournament over N positions, then two paths of its depth
// for each position.
size_t comparison_bound(int n)
{
    int depth = 0;
    while ((1 << depth) < n)
        ++depth;
    return n < 2 ? 0 : static_cast<size_t>(n - 1 + 2 * n * depth);
}

void step(IndexedList<item>& list, model& m, reader& in)
{
    int n = static_cast<int>(m.items.size());
    int op = in.next() % 5;
    int a = in.next();
    if (op == 0 && n < max_count) {
        // Bytes from 0x80 up append through a negative position.
        item* e = a % 37 == 0 ? nullptr : &items[in.next()];
        int idx = a >= 0x80 ? -1 - (a & 0x7F) : a % (n + 1);
        list.insert(idx, e);
        int at = idx < 0 ? n : idx;
        m.items.insert(m.items.begin() + at, e);
        m.cursor = at;
    } else if (op == 1 && n > 0) {
        check(list.get(a % n) == m.items[a % n]);
        m.cursor = a % n;
    } else if (op == 2) {
        list.seek(a % (n + 1));
        m.cursor = a % (n + 1);
    } else if (op == 3 && n > 0) {
        int b = in.next() % n;
        a %= n;
        list.swap(a, b);
        std::swap(m.items[a], m.items[b]);
        if (a != b)
            m.cursor = a > b ? a : b;
    } else if (op == 4) {
        calls = 0;
        // With an odd operand, keys that order as the comparison but tie
        // pairs of its values, so that both decide.
        if (a % 2)
            list.sort(compare_keys, [](const item* e) { return uint64_t(key_of(e) + 1) / 2; });
        else
            list.sort(compare_keys);
        model_sort(m);
        check(calls <= comparison_bound(n));
    }
    check_same(list, m);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (int i = 0; i < 256; ++i)
        items[i].key = i % 4;
    IndexedList<item> list;
    model m;
    reader in{data, size};
    while (in.pos < in.size)
        step(list, m, in);
    // The list never gives its links back; the fuzzer does, so that the leak
    // check stays on for everything else.
    for (ListLink<item>* link = list.top_link.next; link != &list.end_link;) {
        ListLink<item>* next = link->next;
        delete link;
        link = next;
    }
    return 0;
}
