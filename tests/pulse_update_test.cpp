// A growing pulse merged with the pulse of the next sample: its strongest
// value per bin, its peak and its band, against the bin-by-bin walk.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "pulse_class.h"

namespace {

struct Merged {
    RssiPulse::Profile profile;
    float peak;
    int centre;
    int start;
    int end;
};

// Bin by bin: a bin the sample strengthens takes the new value, and the
// peak follows every strengthened bin that beats it; then the band regrows
// around the peak over the profile.
Merged WalkMerge(const RssiPulse& pulse, const RssiPulse& next, RssiPulse::Profile profile,
                 const RssiPulse::Profile& row) {
    const int start = pulse.start_bin_number;
    const int end = pulse.end_bin_number;
    Merged m{profile, pulse.peak_rssi, pulse.center_bin_number,
             std::min(start, static_cast<int>(next.start_bin_number)),
             std::max(end, static_cast<int>(next.end_bin_number))};
    for (int b = m.start; b <= m.end; b++) {
        if (m.profile[b] > row[b]) {
            m.profile[b] = row[b];
            if (static_cast<float>(m.profile[b]) < m.peak) {
                m.peak = static_cast<float>(m.profile[b]);
                m.centre = b;
            }
        }
    }
    const std::vector<float> as_floats(m.profile.begin(), m.profile.end());
    GetInterestingBand(as_floats, m.peak, m.centre, m.start, m.end);
    return m;
}

TEST(PulseUpdate, MergeMatchesTheBinByBinWalk) {
    std::mt19937 rng(17);
    std::uniform_int_distribution<int> bin(0, 55);
    std::uniform_int_distribution<int> power(55, 95);
    for (int trial = 0; trial < 3000; trial++) {
        RssiPulse::Profile first_row{};
        RssiPulse::Profile row{};
        for (int b = 0; b < 56; b++) {
            first_row[static_cast<size_t>(b)] = static_cast<uint8_t>(power(rng));
            row[static_cast<size_t>(b)] = static_cast<uint8_t>(power(rng));
        }
        int s = bin(rng);
        int e = bin(rng);
        if (s > e) {
            std::swap(s, e);
        }
        const int c = s + (e - s) / 2;
        int ns = std::max(0, s + bin(rng) % 5 - 2);
        int ne = std::min(55, std::max(0, e + bin(rng) % 5 - 2));
        if (ns > ne) {
            std::swap(ns, ne);
        }
        RssiPulse pulse(1000, 2437.0f, s, e, c, first_row, nullptr);
        const RssiPulse next(1004, 2437.0f, ns, ne, ns + (ne - ns) / 2, row, nullptr);
        RssiPulse::Profile profile = first_row;
        const Merged expected = WalkMerge(pulse, next, profile, row);

        pulse.UpdatePulse(next, profile, row);
        ASSERT_EQ(profile, expected.profile) << "trial " << trial;
        ASSERT_EQ(pulse.peak_rssi, expected.peak) << "trial " << trial;
        ASSERT_EQ(pulse.center_bin_number, expected.centre) << "trial " << trial;
        ASSERT_EQ(pulse.start_bin_number, expected.start) << "trial " << trial;
        ASSERT_EQ(pulse.end_bin_number, expected.end) << "trial " << trial;
        ASSERT_EQ(pulse.reading_counts, 2);
        ASSERT_EQ(pulse.end_time, 1004u);
    }
}

}  // namespace
