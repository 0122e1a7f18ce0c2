// IndexedList: an ordered list of non-owning element pointers, addressed by
// position 0 .. count - 1. The links form a doubly linked chain between two
// sentinels; a cursor remembers the last position visited, so that walking
// the list in order costs one step per access. Nothing is ever removed and
// no link is ever freed: a list lives as long as the process.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

template <class T>
struct ListLink {
    ListLink* next = nullptr;
    ListLink* prev = nullptr;
    T* item = nullptr;
};

// The minimum search of IndexedList::sort: a complete binary tree over the
// positions of LINKS whose every inner node holds the position of the first
// smallest element below it, or -1 once every position below is placed. A
// node plays its left winner, the earlier position, as the current minimum
// against its right winner as the candidate, so the root is the element a
// left-to-right scan of the unplaced positions would pick. Each element's
// key, taken once, decides wherever two keys differ; only equal keys ask the
// comparison.
template <class T, class Compare>
class Tournament {
public:
    template <class Key>
    Tournament(std::vector<ListLink<T>*>& links, Compare& compare, Key& key)
        : links(links), compare(compare)
    {
        while (leaves < links.size())
            leaves *= 2;
        node.assign(2 * leaves, -1);
        for (std::size_t i = 0; i < links.size(); ++i) {
            node[leaves + i] = static_cast<int>(i);
            keys.push_back(key(links[i]->item));
        }
        for (std::size_t k = leaves - 1; k > 0; --k)
            replay(k);
    }

    // Exchanges the winner into position I, the first unplaced one, and
    // replays the two paths from the changed leaves up to the root.
    void place(std::size_t i)
    {
        auto m = static_cast<std::size_t>(node[1]);
        std::swap(links[i], links[m]);
        std::swap(keys[i], keys[m]);
        node[leaves + i] = -1;
        for (std::size_t a = (leaves + i) / 2, b = (leaves + m) / 2; a > 0; a /= 2, b /= 2) {
            replay(a);
            if (b != a)
                replay(b);
        }
    }

private:
    // Node K gets the winner of its two children.
    void replay(std::size_t k)
    {
        int earlier = node[2 * k];
        int later = node[2 * k + 1];
        if (earlier < 0 || later < 0) {
            node[k] = earlier < 0 ? later : earlier;
            return;
        }
        std::uint64_t a = keys[earlier];
        std::uint64_t b = keys[later];
        bool moves = a != b ? a > b : compare(links[earlier]->item, links[later]->item) > 0;
        node[k] = moves ? later : earlier;
    }

    std::vector<ListLink<T>*>& links;
    Compare& compare;
    std::size_t leaves = 1;
    std::vector<int> node;
    std::vector<std::uint64_t> keys;
};

template <class T>
class IndexedList {
public:
    IndexedList()
    {
        top_ref = &top_link;
        end_ref = &end_link;
        top_ref->next = end_ref;
        end_ref->prev = top_ref;
        cur = end_ref;
    }

    // The links point at the sentinels inside this object.
    IndexedList(const IndexedList&) = delete;
    IndexedList& operator=(const IndexedList&) = delete;

    int count() const { return total_num; }

    // Moves the cursor to IDX (count() included, the tail sentinel), one
    // link per step from where it stands.
    void seek(int idx)
    {
        // The report shows the expression exactly as written here.
        // clang-format off
        assert( ( idx >= 0 ) && ( idx <= total_num ) );
        // clang-format on
        while (cur_idx < idx) {
            cur = cur->next;
            ++cur_idx;
        }
        while (cur_idx > idx) {
            cur = cur->prev;
            --cur_idx;
        }
    }

    T* get(int idx)
    {
        seek(idx);
        assert(cur != &top_link && cur != &end_link);
        return cur->item;
    }

    // Puts ITEM at IDX, moving the elements from IDX on up by one; a negative
    // IDX appends. The cursor ends on the new element.
    void insert(int idx, T* item)
    {
        if (idx < 0)
            idx = total_num;
        seek(idx);
        ListLink<T>* link = new ListLink<T>;
        link->item = item;
        link->next = cur;
        link->prev = cur->prev;
        cur->prev = link;
        link->prev->next = link;
        ++total_num;
        cur = link;
    }

    // Exchanges the links at two positions; the cursor ends on the higher one.
    void swap(int ia, int ib)
    {
        if (ia == ib)
            return;
        int lo = ia < ib ? ia : ib;
        int hi = ia < ib ? ib : ia;
        seek(lo);
        ListLink<T>* a = cur;
        seek(hi);
        ListLink<T>* b = cur;
        // Exchanging the tail sentinel would cut the chain.
        assert(b != &end_link);
        ListLink<T>* a_prev = a->prev;
        ListLink<T>* a_next = a->next;
        ListLink<T>* b_prev = b->prev;
        ListLink<T>* b_next = b->next;
        b->prev = a_prev;
        a_prev->next = b;
        a->next = b_next;
        b_next->prev = a;
        if (hi == lo + 1) {
            b->next = a;
            a->prev = b;
        } else {
            a->prev = b_prev;
            b->next = a_next;
            a_next->prev = b;
            b_prev->next = a;
        }
        cur = a;
    }

    // Ascending, in exactly the order of a selection sort: position by
    // position, the first of the smallest remaining elements is exchanged
    // into place, so equal elements may change their order. compare(current
    // minimum, candidate) decides, and only a result above zero moves the
    // minimum. A tournament finds each minimum in O(log n) comparisons; the
    // links are then chained anew in the order found, and the cursor ends on
    // the last one. KEY, where given, maps each element to a number that
    // orders as COMPARE does wherever two numbers differ; the comparison is
    // then asked only between equal keys.
    template <class Compare>
    void sort(Compare compare)
    {
        sort(compare, [](const T*) { return std::uint64_t{0}; });
    }

    template <class Compare, class Key>
    void sort(Compare compare, Key key)
    {
        if (total_num == 0)
            return;
        std::vector<ListLink<T>*> links;
        links.reserve(static_cast<std::size_t>(total_num));
        for (ListLink<T>* link = top_link.next; link != &end_link; link = link->next)
            links.push_back(link);
        Tournament<T, Compare> tournament(links, compare, key);
        for (std::size_t i = 0; i < links.size(); ++i)
            tournament.place(i);
        ListLink<T>* prev = &top_link;
        for (ListLink<T>* link : links) {
            prev->next = link;
            link->prev = prev;
            prev = link;
        }
        prev->next = &end_link;
        end_link.prev = prev;
        cur = prev;
        cur_idx = total_num - 1;
    }

    // The fields stay open to inspection (the tests check the chain and the
    // cursor); only the operations above change them.
    ListLink<T> top_link;
    ListLink<T> end_link;
    ListLink<T>* top_ref = nullptr;
    ListLink<T>* end_ref = nullptr;
    ListLink<T>* cur = nullptr;
    int cur_idx = 0;
    int total_num = 0;
};
