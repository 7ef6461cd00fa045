#include "fixed_order_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// A key with its position: only the key is compared, so the positions show
// where equal keys land.
struct Keyed {
    uint32_t key;
    uint32_t position;
};

bool KeyLess(const Keyed& a, const Keyed& b) {
    return a.key < b.key;
}

std::vector<Keyed> WithPositions(const std::vector<uint32_t>& keys) {
    std::vector<Keyed> keyed;
    for (size_t i = 0; i < keys.size(); ++i) {
        keyed.push_back({keys[i], static_cast<uint32_t>(i)});
    }
    return keyed;
}

std::vector<uint32_t> Positions(const std::vector<Keyed>& keyed) {
    std::vector<uint32_t> positions;
    for (const Keyed& k : keyed) {
        positions.push_back(k.position);
    }
    return positions;
}

std::vector<uint32_t> FixedOrder(const std::vector<uint32_t>& keys) {
    std::vector<Keyed> keyed = WithPositions(keys);
    FixedOrderSort(keyed.data(), keyed.data() + keyed.size(), KeyLess);
    return Positions(keyed);
}

// The order the pulses have always had: the comparison sort of the C++
// library the daemon was first built with.
std::vector<uint32_t> LibraryOrder(const std::vector<uint32_t>& keys) {
    std::vector<Keyed> keyed = WithPositions(keys);
    std::sort(keyed.begin(), keyed.end(), KeyLess);
    return Positions(keyed);
}

struct Pattern {
    std::string name;
    std::vector<uint32_t> keys;
};

// Key sequences of a subband's pulses and the ones that stress a quicksort:
// few distinct keys (many ties), nearly sorted as pulses close, reversed,
// organ pipes, runs of equal keys and a pattern that defeats the median of
// three, so that the heap sort takes over.
std::vector<Pattern> Patterns(size_t n) {
    uint32_t state = 2463u + static_cast<uint32_t>(n);
    const auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    };
    std::vector<Pattern> patterns(8);
    patterns[0].name = "random, four keys";
    patterns[1].name = "random, many keys";
    patterns[2].name = "nearly sorted, ties";
    patterns[3].name = "reversed";
    patterns[4].name = "organ pipe";
    patterns[5].name = "all equal";
    patterns[6].name = "runs of equal keys";
    patterns[7].name = "median-of-three killer";
    for (size_t i = 0; i < n; ++i) {
        const auto k = static_cast<uint32_t>(i);
        patterns[0].keys.push_back(next() % 4);
        patterns[1].keys.push_back(next() % 100000);
        patterns[2].keys.push_back(k / 8 + (next() % 8 == 0 ? next() % 40 : 0));
        patterns[3].keys.push_back(static_cast<uint32_t>(n) - k);
        patterns[4].keys.push_back(i < n / 2 ? k : static_cast<uint32_t>(n) - k);
        patterns[5].keys.push_back(7);
        patterns[6].keys.push_back((next() % 3) * 1000 + k / 50);
        patterns[7].keys.push_back(0);
    }
    // Odd positions hold the first half's keys, even ones climb: every
    // median of three lands near an end.
    for (size_t i = 0; i < n; ++i) {
        patterns[7].keys[i] =
            i % 2 == 1 ? static_cast<uint32_t>(i / 2) : static_cast<uint32_t>(n / 2 + i / 2);
    }
    return patterns;
}

}  // namespace

// Equal keys must land exactly where the library's comparison sort leaves
// them, at every size from a few elements (insertion sort alone) to a busy
// subband's 15,000 and beyond.
TEST(FixedOrderSort, EqualKeysLandWhereTheComparisonSortLeavesThem) {
    for (const size_t n : {0u, 1u, 2u, 3u, 16u, 17u, 100u, 129u, 257u, 1000u, 15000u, 70001u}) {
        for (const Pattern& pattern : Patterns(n)) {
            EXPECT_EQ(FixedOrder(pattern.keys), LibraryOrder(pattern.keys))
                << pattern.name << ", " << n << " keys";
        }
    }
}

// The heap sort the partition falls back to on bad pivots leaves equal keys
// where the library's heap sort does.
TEST(FixedOrderSort, HeapSortMatchesTheLibraryHeapSort) {
    for (const size_t n : {2u, 3u, 4u, 5u, 50u, 51u, 4096u, 5001u}) {
        for (const Pattern& pattern : Patterns(n)) {
            std::vector<Keyed> ours = WithPositions(pattern.keys);
            std::vector<Keyed> library = ours;
            auto less = KeyLess;
            fixed_order_sort::HeapSort(ours.data(), ours.data() + ours.size(), less);
            std::partial_sort(library.begin(), library.end(), library.end(), KeyLess);
            EXPECT_EQ(Positions(ours), Positions(library)) << pattern.name << ", " << n << " keys";
        }
    }
}
