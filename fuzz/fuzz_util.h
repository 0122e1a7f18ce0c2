// Pieces shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

// A failed check is a finding: libFuzzer saves the input that caused it.
inline void check(bool ok)
{
    if (!ok)
        abort();
}

// Reads the input a byte at a time; 0 once it is used up.
struct reader {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;

    int next() { return pos < size ? data[pos++] : 0; }
    bool more() const { return pos < size; }
};

// The selection sort of IndexedList, as a model: for each position the first
// of the smallest remaining elements, found by compare(current minimum,
// candidate) > 0, is exchanged into place. Not stable.
template <class T, class Compare>
void selection_sort(std::vector<T>& v, Compare compare)
{
    for (size_t i = 0; i < v.size(); ++i) {
        size_t min = i;
        for (size_t j = i + 1; j < v.size(); ++j) {
            if (compare(v[min], v[j]) > 0)
                min = j;
        }
        std::swap(v[i], v[min]);
    }
}
