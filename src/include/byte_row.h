// One sample as the card reports it: CONST_SUBBAND_NUM_BINS bin powers, each
// a whole number of dB below 1 mW held in a byte. The per-sample path works
// on this row directly: straight loops over its 56 bytes, which the compiler
// turns into vector compares, and bit masks with one bit per bin, so that a
// run of bins is found with a bit scan instead of a walk.
#ifndef TESSARON_BYTE_ROW_H
#define TESSARON_BYTE_ROW_H

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "band_geometry.h"

namespace byte_row {

constexpr int kBins = CONST_SUBBAND_NUM_BINS;
static_assert(kBins % 8 == 0 && kBins < 64, "whole words of bins, with a clear bit above");

// Largest byte v for which the power -v dBm is at or above floor_dbm; -1
// when none is. A bin is at or above the floor exactly when its byte is at
// most this (the negation and the comparison are exact in float).
inline int AtOrAboveLimit(float floor_dbm) {
    const float weakest = -floor_dbm;
    if (!(weakest < 255.0f)) {
        return 255;  // a NaN floor admits every bin, as the float comparison did
    }
    if (weakest < 0.0f) {
        return -1;
    }
    return static_cast<int>(weakest);
}

// Bit b set where lo <= row[b] <= hi, in plain C++: 0/1 flags, one byte per
// bin, then a multiply per 8 bins that gathers the low bit of each byte into
// the top byte of the product.
inline uint64_t MaskBetweenPortable(const uint8_t* row, uint8_t lo, uint8_t hi) {
    uint8_t flags[kBins];
    for (int b = 0; b < kBins; b++) {
        flags[b] = (row[b] >= lo) & (row[b] <= hi);
    }
    uint64_t mask = 0;
#pragma GCC unroll 7
    for (int w = 0; w < kBins / 8; w++) {
        uint64_t word;
        std::memcpy(&word, flags + 8 * w, sizeof(word));
        mask |= ((word * 0x0102040810204080ULL) >> 56) << (8 * w);
    }
    return mask;
}

// The same; with SSE2, 16 bins a compare: row[b] - lo (wrapping) is at most
// hi - lo exactly when lo <= row[b] <= hi.
inline uint64_t MaskBetween(const uint8_t* row, uint8_t lo, uint8_t hi) {
#if defined(__SSE2__)
    const __m128i low = _mm_set1_epi8(static_cast<char>(lo));
    const __m128i span = _mm_set1_epi8(static_cast<char>(hi - lo));
    const auto chunk = [&](__m128i v) {
        const __m128i shifted = _mm_sub_epi8(v, low);
        return static_cast<uint64_t>(static_cast<uint32_t>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(shifted, span), shifted))));
    };
    const auto load = [row](int at) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + at));
    };
    static_assert(kBins == 56, "three whole vectors and a half");
    return chunk(load(0)) | (chunk(load(16)) << 16) | (chunk(load(32)) << 32) |
           ((chunk(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + 48))) & 0xff) << 48);
#else
    return MaskBetweenPortable(row, lo, hi);
#endif
}

// Bit b set where row[b] <= limit (no bit for a limit below 0).
inline uint64_t MaskAtMost(const uint8_t* row, int limit) {
    if (limit < 0) {
        return 0;
    }
    return MaskBetween(row, 0, static_cast<uint8_t>(limit > 255 ? 255 : limit));
}

// The smallest byte of row[first..last], first <= last.
inline uint8_t RangeMin(const uint8_t* row, int first, int last) {
#if defined(__SSE2__)
    if (last - first >= 16) {
        // A long run: the whole row sixteen bins a step, bins outside the
        // run counted as 255. The last step reads 8 bins (zeros above).
        const __m128i lanes = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
        const __m128i span = _mm_set1_epi8(static_cast<char>(last - first));
        __m128i m = _mm_set1_epi8(-1);
        const auto step = [&](int at, __m128i v) {
            const __m128i offset =
                _mm_sub_epi8(_mm_add_epi8(lanes, _mm_set1_epi8(static_cast<char>(at))),
                             _mm_set1_epi8(static_cast<char>(first)));
            const __m128i outside = _mm_xor_si128(
                _mm_cmpeq_epi8(_mm_min_epu8(offset, span), offset), _mm_set1_epi8(-1));
            m = _mm_min_epu8(m, _mm_or_si128(v, outside));
        };
        for (int at = 0; at < 48; at += 16) {
            step(at, _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + at)));
        }
        step(48, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + 48)));
        m = _mm_min_epu8(m, _mm_srli_si128(m, 8));
        m = _mm_min_epu8(m, _mm_srli_si128(m, 4));
        m = _mm_min_epu8(m, _mm_srli_si128(m, 2));
        m = _mm_min_epu8(m, _mm_srli_si128(m, 1));
        return static_cast<uint8_t>(_mm_cvtsi128_si32(m));
    }
#endif
    uint8_t m = row[first];
    for (int b = first + 1; b <= last; b++) {
        m = row[b] < m ? row[b] : m;
    }
    return m;
}

// The smallest byte of the whole row.
inline uint8_t RowMin(const uint8_t* row) {
    return RangeMin(row, 0, kBins - 1);
}

// Bits first..last set (0 <= first <= last < 64).
inline uint64_t BitRange(int first, int last) {
    return (~0ULL >> (63 - last)) & (~0ULL << first);
}

// The run of set bits of `mask` that holds bit `bit` (which must be set), as
// its first and last bit.
inline void RunAround(uint64_t mask, int bit, int& first, int& last) {
    last = bit + __builtin_ctzll(~(mask >> bit)) - 1;
    const uint64_t clear_below = ~mask & ((1ULL << bit) - 1);
    first = clear_below == 0 ? 0 : 64 - __builtin_clzll(clear_below);
}

// The number of set bits, without a library call on targets that have no
// population-count instruction.
inline int CountBits(uint64_t bits) {
    bits -= (bits >> 1) & 0x5555555555555555ULL;
    bits = (bits & 0x3333333333333333ULL) + ((bits >> 2) & 0x3333333333333333ULL);
    bits = (bits + (bits >> 4)) & 0x0f0f0f0f0f0f0f0fULL;
    return static_cast<int>((bits * 0x0101010101010101ULL) >> 56);
}

// The bit of `ties` that stands in the middle of its set bits (the upper
// middle for an even count), given how many there are.
inline int MiddleBit(uint64_t ties, int count) {
    for (int skip = count / 2; skip > 0; skip--) {
        ties &= ties - 1;
    }
    return __builtin_ctzll(ties);
}

// The strongest (smallest) bin of row[first..last], the middle one of equal
// strongest bins (the upper middle for an even count).
inline int MiddleStrongest(const uint8_t* row, int first, int last) {
    if (last - first < 8) {
        // A narrow run: one walk keeps the strongest value and its ties.
        uint8_t strongest = row[first];
        uint32_t ties = 1;
        int count = 1;
        for (int b = first + 1; b <= last; b++) {
            const uint32_t bit = 1u << (b - first);
            if (row[b] < strongest) {
                strongest = row[b];
                ties = bit;
                count = 1;
            } else if (row[b] == strongest) {
                ties |= bit;
                count++;
            }
        }
        return first + MiddleBit(ties, count);
    }
    const uint8_t strongest = RangeMin(row, first, last);
    const uint64_t ties = MaskBetween(row, strongest, strongest) & BitRange(first, last);
    return MiddleBit(ties, CountBits(ties));
}

}  // namespace byte_row

#endif
