#include "llst.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

// An element: KEY decides the order, TAG tells equal keys apart.
struct elem {
    char key;
    char tag;
};

using elem_list = IndexedList<elem>;

// The keys (and tags where set) from head to tail, read through the links
// so that the cursor stays where it is. Checks the chain on the way: the
// links agree in both directions, the count matches, and the cursor link
// stands at the cursor position.
std::string chain(const elem_list& l)
{
    EXPECT_EQ(l.top_link.prev, nullptr);
    EXPECT_EQ(l.end_link.next, nullptr);
    std::string out;
    int pos = 0;
    const ListLink<elem>* link = l.top_link.next;
    bool cursor_found = l.cur == &l.end_link && l.cur_idx == l.count();
    for (; link != &l.end_link; link = link->next, ++pos) {
        EXPECT_EQ(link->next->prev, link);
        EXPECT_EQ(link->prev->next, link);
        if (link == l.cur)
            cursor_found = l.cur_idx == pos;
        if (link->item) {
            out += link->item->key;
            if (link->item->tag)
                out += link->item->tag;
        } else {
            out += '0';
        }
    }
    EXPECT_EQ(pos, l.count());
    EXPECT_EQ(l.end_link.prev->next, &l.end_link);
    EXPECT_TRUE(cursor_found) << "cursor link not at position " << l.cur_idx;
    return out;
}

elem a{'a', 0}, b{'b', 0}, c{'c', 0}, d{'d', 0}, x{'x', 0}, y{'y', 0};

void fill(elem_list& l, std::vector<elem*> items)
{
    for (elem* e : items)
        l.insert(-1, e);
}

int calls = 0;

int by_key(const elem* p, const elem* q)
{
    ++calls;
    return p->key - q->key;
}

TEST(llst, new_list_is_empty_with_cursor_on_tail)
{
    elem_list l;
    EXPECT_EQ(l.count(), 0);
    EXPECT_EQ(l.top_link.next, &l.end_link);
    EXPECT_EQ(l.end_link.prev, &l.top_link);
    EXPECT_EQ(l.top_ref, &l.top_link);
    EXPECT_EQ(l.end_ref, &l.end_link);
    EXPECT_EQ(l.cur, &l.end_link);
    EXPECT_EQ(l.cur_idx, 0);
    l.seek(0);
    EXPECT_EQ(l.cur, &l.end_link);
    EXPECT_EQ(chain(l), "");
}

TEST(llst, negative_positions_append)
{
    elem_list l;
    l.insert(-1, &a);
    EXPECT_EQ(chain(l), "a");
    EXPECT_EQ(l.cur_idx, 0);
    l.insert(-5, &b);
    EXPECT_EQ(chain(l), "ab");
    EXPECT_EQ(l.cur_idx, 1);
    EXPECT_EQ(l.cur->item, &b);
    EXPECT_EQ(l.get(0), &a);
    EXPECT_EQ(l.get(1), &b);
    l.insert(2, &c);  // count() appends as well
    EXPECT_EQ(chain(l), "abc");
    EXPECT_EQ(l.cur_idx, 2);
}

TEST(llst, insert_at_front_and_middle)
{
    elem_list l;
    fill(l, {&a, &b});
    l.insert(0, &x);
    EXPECT_EQ(chain(l), "xab");
    EXPECT_EQ(l.cur_idx, 0);
    EXPECT_EQ(l.cur->item, &x);
    l.insert(2, &y);
    EXPECT_EQ(chain(l), "xayb");
    EXPECT_EQ(l.cur_idx, 2);
    EXPECT_EQ(l.cur->item, &y);
}

TEST(llst, seek_and_get_walk_from_the_cursor_both_ways)
{
    elem_list l;
    fill(l, {&a, &b, &c, &d});
    const struct {
        int idx;
        elem* expected;
    } steps[] = {{0, &a}, {3, &d}, {1, &b}, {1, &b}, {2, &c}, {0, &a}};
    for (const auto& s : steps) {
        EXPECT_EQ(l.get(s.idx), s.expected) << s.idx;
        EXPECT_EQ(l.cur_idx, s.idx);
        EXPECT_EQ(chain(l), "abcd");
    }
    l.seek(4);
    EXPECT_EQ(l.cur, &l.end_link);
    l.seek(2);
    EXPECT_EQ(l.cur->item, &c);
}

TEST(llst, swap_exchanges_links_and_leaves_cursor_on_higher_position)
{
    const struct {
        int i, j;
        const char* after;
        int cursor;
        char cursor_key;
    } cases[] = {
        {3, 1, "adcb", 3, 'b'}, {1, 3, "adcb", 3, 'b'}, {1, 2, "acbd", 2, 'b'},
        {2, 1, "acbd", 2, 'b'}, {0, 1, "bacd", 1, 'a'}, {0, 3, "dbca", 3, 'a'},
        {2, 3, "abdc", 3, 'c'},
    };
    for (const auto& t : cases) {
        elem_list l;
        fill(l, {&a, &b, &c, &d});
        elem* items[] = {&a, &b, &c, &d};
        std::vector<ListLink<elem>*> links;
        for (int i = 0; i < 4; ++i) {
            l.seek(i);
            links.push_back(l.cur);
        }
        l.swap(t.i, t.j);
        EXPECT_EQ(chain(l), t.after) << t.i << "," << t.j;
        EXPECT_EQ(l.cur_idx, t.cursor);
        EXPECT_EQ(l.cur->item->key, t.cursor_key);
        // The links move; every element stays in its own link.
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(links[i]->item, items[i]);
    }
}

TEST(llst, swap_of_a_position_with_itself_changes_nothing)
{
    elem_list l;
    fill(l, {&a, &b, &c, &d});
    l.seek(3);
    l.swap(2, 2);
    EXPECT_EQ(chain(l), "abcd");
    EXPECT_EQ(l.cur_idx, 3);
}

TEST(llst, sort_is_the_unstable_selection_sort)
{
    elem b1{'b', '1'}, b2{'b', '2'};
    elem_list l;
    fill(l, {&b1, &b2, &a});
    calls = 0;
    l.sort(by_key);
    EXPECT_EQ(chain(l), "ab2b1");
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(l.cur_idx, 2);
}

// The most comparisons the sort may make for N elements: one per inner node
// to set the tournament up, then two root paths per position.
int comparison_bound(int n)
{
    int depth = 0;
    while ((1 << depth) < n)
        ++depth;
    return n < 2 ? 0 : n - 1 + 2 * n * depth;
}

TEST(llst, sort_orders_as_the_selection_sort_in_n_log_n_comparisons)
{
    // A digit after a key is its tag: equal keys end in the order the
    // selection sort's exchanges leave them.
    const struct {
        const char* keys;
        const char* sorted;
    } cases[] = {
        {"", ""},
        {"a", "a"},
        {"ba", "ab"},
        {"abcdef", "abcdef"},
        {"fedcba", "abcdef"},
        {"dacfbe", "abcdef"},
        {"bbab", "abbb"},
        {"zyxwvutsrqponmlkjihgfedcba", "abcdefghijklmnopqrstuvwxyz"},
        {"b1a1b2a2", "a1a2b2b1"},
        {"c1b1a1c2b2a2", "a1a2b2b1c1c2"},
        {"a1a2a3a4a5", "a1a2a3a4a5"},
        {"b1a1a2a3a4", "a1a2a3a4b1"},
    };
    for (const auto& t : cases) {
        std::vector<elem> items;
        for (const char* k = t.keys; *k; ++k) {
            bool tagged = k[1] >= '0' && k[1] <= '9';
            items.push_back(elem{*k, tagged ? k[1] : '\0'});
            k += tagged;
        }
        elem_list l;
        for (elem& e : items)
            l.insert(-1, &e);
        l.seek(0);
        calls = 0;
        l.sort(by_key);
        int n = l.count();
        EXPECT_EQ(chain(l), t.sorted) << t.keys;
        EXPECT_LE(calls, comparison_bound(n)) << t.keys;
        // With the keys as numbers: the same order, comparing equal keys only.
        elem_list keyed;
        std::set<char> keys;
        for (elem& e : items) {
            keyed.insert(-1, &e);
            keys.insert(e.key);
        }
        calls = 0;
        keyed.sort(by_key, [](const elem* e) { return std::uint64_t(e->key); });
        EXPECT_EQ(chain(keyed), t.sorted) << t.keys;
        EXPECT_EQ(calls == 0, keys.size() == items.size()) << t.keys;
        // An empty list keeps its cursor; otherwise it ends on the last one.
        EXPECT_EQ(l.cur_idx, n == 0 ? 0 : n - 1) << t.keys;
    }
}

TEST(llst, sort_of_a_long_list_stays_within_n_log_n_comparisons)
{
    const int n = 100000;
    std::vector<elem> items(n);
    elem_list l;
    for (int i = 0; i < n; ++i) {
        items[i] = elem{static_cast<char>('a' + (i * 7919 % n) % 26), 0};
        l.insert(-1, &items[i]);
    }
    calls = 0;
    l.sort(by_key);
    EXPECT_LE(calls, comparison_bound(n));
    EXPECT_EQ(l.cur_idx, n - 1);
    std::string keys = chain(l);
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
}

TEST(llst, null_elements_are_stored_returned_and_compared)
{
    elem_list l;
    l.insert(-1, &b);
    l.insert(-1, nullptr);
    l.insert(-1, &a);
    EXPECT_EQ(l.get(1), nullptr);
    int null_seen = 0;
    l.sort([&](const elem* p, const elem* q) {
        null_seen += !p + !q;
        char kp = p ? p->key : '0';
        char kq = q ? q->key : '0';
        return kp - kq;
    });
    EXPECT_EQ(null_seen, 2);
    EXPECT_EQ(chain(l), "0ab");
}

// The assertion reports name the list's source file and the failed
// expression, in an order that depends on the runtime, so each is looked for
// on its own. They also show that assertions stay active in release builds.
void expect_assertion(const std::function<void()>& op, const char* expression)
{
    EXPECT_DEATH(op(), "llst");
    EXPECT_DEATH(op(), expression);
}

const char range_report[] = "\\( idx >= 0 \\) && \\( idx <= total_num \\)";

TEST(llst_death, positions_out_of_range_fail_the_assertion)
{
    elem_list l;
    fill(l, {&a, &b});
    const std::function<void()> ops[] = {
        [&] { l.seek(-1); },      [&] { l.seek(3); },    [&] { l.get(3); },      [&] { l.get(-1); },
        [&] { l.insert(3, &c); }, [&] { l.swap(0, 5); }, [&] { l.swap(-1, 1); },
    };
    for (const auto& op : ops)
        expect_assertion(op, range_report);
}

TEST(llst_death, get_at_count_fails_the_element_assertion)
{
    elem_list empty;
    expect_assertion([&] { empty.get(0); }, "cur != &end_link");
    elem_list l;
    fill(l, {&a, &b});
    expect_assertion([&] { l.get(2); }, "cur != &end_link");
}

TEST(llst_death, swap_with_the_tail_sentinel_is_refused)
{
    elem_list l;
    fill(l, {&a, &b});
    expect_assertion([&] { l.swap(0, 2); }, "b != &end_link");
}

}  // namespace
