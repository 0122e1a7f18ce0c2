// IndexedList: an ordered list of non-owning element pointers, addressed by
// position 0 .. count - 1. The links form a doubly linked chain between two
// sentinels; a cursor remembers the last position visited, so that walking
// the list in order costs one step per access. Nothing is ever removed and
// no link is ever freed: a list lives as long as the process.
#pragma once

#include <cassert>

template <class T>
struct ListLink {
    ListLink* next = nullptr;
    ListLink* prev = nullptr;
    T* item = nullptr;
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

    // Selection sort, ascending: exactly n(n - 1)/2 calls compare(current
    // minimum, candidate), of which only a result above zero moves the
    // minimum. Equal elements may change their order.
    template <class Compare>
    void sort(Compare compare)
    {
        for (int i = 0; i < count(); ++i) {
            T* p = get(i);
            int m = i;
            for (int j = i + 1; j < count(); ++j) {
                T* q = get(j);
                if (compare(p, q) > 0) {
                    m = j;
                    p = q;
                }
            }
            if (m != i)
                swap(m, i);
        }
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
