// An introsort whose order of equal elements is fixed by its own steps, not
// by the C++ library it is built with: median-of-three pivot, Hoare
// partition, heap sort past a depth of 2 log2 n, insertion sort to finish
// (ranges of 16 or fewer). Equal pulses (same start, same peak) print and
// sum in the order these steps leave them, so the hopper pass sorts with it
// and its output stays the same on every target.
#ifndef TESSARON_FIXED_ORDER_SORT_H
#define TESSARON_FIXED_ORDER_SORT_H

#include <cstddef>
#include <utility>

namespace fixed_order_sort {

constexpr std::ptrdiff_t kInsertionRange = 16;

// Moves the median of *a, *b, *c to *result.
template <typename T, typename Less>
void MoveMedianToFirst(T* result, T* a, T* b, T* c, Less& less) {
    if (less(*a, *b)) {
        if (less(*b, *c)) {
            std::swap(*result, *b);
        } else if (less(*a, *c)) {
            std::swap(*result, *c);
        } else {
            std::swap(*result, *a);
        }
    } else if (less(*a, *c)) {
        std::swap(*result, *a);
    } else if (less(*b, *c)) {
        std::swap(*result, *c);
    } else {
        std::swap(*result, *b);
    }
}

// The element-by-element Hoare scan over [first, last) around pivot, which
// sits just before first and bounds the right scan; returns the cut.
template <typename T, typename Less>
T* ScanPartition(T* first, T* last, const T& pivot, Less& less) {
    for (;;) {
        while (less(*first, pivot)) {
            ++first;
        }
        --last;
        while (less(pivot, *last)) {
            --last;
        }
        if (!(first < last)) {
            return first;
        }
        std::swap(*first, *last);
        ++first;
    }
}

// Sifts value down from hole in the heap [first, first + len), then up.
template <typename T, typename Less>
void AdjustHeap(T* first, std::ptrdiff_t hole, std::ptrdiff_t len, T value, Less& less) {
    const std::ptrdiff_t top = hole;
    std::ptrdiff_t child = hole;
    while (child < (len - 1) / 2) {
        child = 2 * (child + 1);
        child -= less(first[child], first[child - 1]) ? 1 : 0;
        first[hole] = std::move(first[child]);
        hole = child;
    }
    if ((len & 1) == 0 && child == (len - 2) / 2) {
        child = 2 * (child + 1);
        first[hole] = std::move(first[child - 1]);
        hole = child - 1;
    }
    std::ptrdiff_t parent = (hole - 1) / 2;
    while (hole > top && less(first[parent], value)) {
        first[hole] = std::move(first[parent]);
        hole = parent;
        parent = (hole - 1) / 2;
    }
    first[hole] = std::move(value);
}

template <typename T, typename Less>
void HeapSort(T* first, T* last, Less& less) {
    const std::ptrdiff_t len = last - first;
    if (len < 2) {
        return;
    }
    for (std::ptrdiff_t parent = (len - 2) / 2;; --parent) {
        AdjustHeap(first, parent, len, std::move(first[parent]), less);
        if (parent == 0) {
            break;
        }
    }
    while (last - first > 1) {
        --last;
        T value = std::move(*last);
        *last = std::move(*first);
        AdjustHeap(first, std::ptrdiff_t{0}, last - first, std::move(value), less);
    }
}

template <typename T, typename Less>
void IntroLoop(T* first, T* last, int depth_limit, Less& less) {
    while (last - first > kInsertionRange) {
        if (depth_limit == 0) {
            HeapSort(first, last, less);
            return;
        }
        --depth_limit;
        MoveMedianToFirst(first, first + 1, first + (last - first) / 2, last - 1, less);
        const T pivot = *first;
        T* cut = ScanPartition(first + 1, last, pivot, less);
        IntroLoop(cut, last, depth_limit, less);
        last = cut;
    }
}

// Inserts *at into the sorted run before it; an element not less than it
// stops the walk, so the run must hold one.
template <typename T, typename Less>
void GuardedInsert(T* at, Less& less) {
    T value = std::move(*at);
    T* next = at - 1;
    while (less(value, *next)) {
        *at = std::move(*next);
        at = next;
        --next;
    }
    *at = std::move(value);
}

template <typename T, typename Less>
void InsertionSort(T* first, T* last, Less& less) {
    if (first == last) {
        return;
    }
    for (T* i = first + 1; i != last; ++i) {
        if (less(*i, *first)) {
            T value = std::move(*i);
            for (T* to = i; to != first; --to) {
                *to = std::move(*(to - 1));
            }
            *first = std::move(value);
        } else {
            GuardedInsert(i, less);
        }
    }
}

inline int FloorLog2(std::size_t n) {
    int log = 0;
    while (n > 1) {
        n >>= 1;
        ++log;
    }
    return log;
}

}  // namespace fixed_order_sort

// Sorts [first, last) by less, equal elements left in the order described
// above.
template <typename T, typename Less>
void FixedOrderSort(T* first, T* last, Less less) {
    using namespace fixed_order_sort;
    if (first == last) {
        return;
    }
    IntroLoop(first, last, FloorLog2(static_cast<std::size_t>(last - first)) * 2, less);
    if (last - first > kInsertionRange) {
        InsertionSort(first, first + kInsertionRange, less);
        for (T* i = first + kInsertionRange; i != last; ++i) {
            GuardedInsert(i, less);
        }
    } else {
        InsertionSort(first, last, less);
    }
}

#endif
