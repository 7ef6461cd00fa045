// A growing pulse merged with the pulse of the next sample: its strongest
// value per bin, its peak and its band, against the bin-by-bin walk.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "pulse_class.h"
#include "subband_class.h"

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

// A pulse the subband built has the band grown from its profile; continuing
// it must give what the full merge gives, also when a sample strengthens no
// bin and the band is not grown again.
TEST(PulseUpdate, ContinuingAGrownPulseMatchesTheFullMerge) {
    std::mt19937 rng(23);
    std::uniform_int_distribution<int> power(60, 95);
    std::uniform_int_distribution<int> weaker(0, 3);
    SubBand subband(nullptr, 1000, 2437.0f, 95.0f, 0);
    int unstrengthened = 0;
    for (int trial = 0; trial < 2000; trial++) {
        RssiPulse::Profile row{};
        for (uint8_t& v : row) {
            v = static_cast<uint8_t>(power(rng));
        }
        std::vector<RssiPulse> first;
        subband.ProcessSingleRssiBand2(1000, 2437.0f, row, first);
        if (first.empty()) {
            continue;
        }
        RssiPulse full = first.front();
        RssiPulse grown = first.front();
        RssiPulse::Profile full_profile = row;
        RssiPulse::Profile grown_profile = row;
        for (u64 t = 1004; t < 1040; t += 4) {
            // Often the same bins a little weaker, so that nothing strengthens.
            for (uint8_t& v : row) {
                v = weaker(rng) == 0 ? static_cast<uint8_t>(power(rng))
                                     : static_cast<uint8_t>(std::min(v + weaker(rng), 95));
            }
            std::vector<RssiPulse> next;
            subband.ProcessSingleRssiBand2(t, 2437.0f, row, next);
            for (const RssiPulse& candidate : next) {
                if (!full.IsMatchingPulse(candidate)) {
                    continue;
                }
                const RssiPulse::Profile before = grown_profile;
                full.UpdatePulse(candidate, full_profile, row);
                grown.ContinueGrownPulse(candidate.Sighting(), t, grown_profile, row,
                                         static_cast<float>(CONST_NOISE_FLOOR_RSSI));
                unstrengthened += before == grown_profile;
                break;
            }
            ASSERT_EQ(grown_profile, full_profile) << "trial " << trial;
            ASSERT_EQ(grown.toString(), full.toString()) << "trial " << trial;
            ASSERT_EQ(grown.widest_sample_width, full.widest_sample_width);
            ASSERT_EQ(grown.reading_counts, full.reading_counts);
        }
    }
    EXPECT_GT(unstrengthened, 100);
}

}  // namespace
