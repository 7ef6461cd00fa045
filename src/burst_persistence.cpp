#include "burst_persistence.h"

#include <algorithm>
#include <cmath>

namespace {

// Every bin of a 56-bin sample; the run's neighbours never spill past it.
constexpr uint64_t kAllBins = (uint64_t{1} << CONST_SUBBAND_NUM_BINS) - 1;

// The bins of `bits` and those up to `by` bins either side of them.
uint64_t Spread(uint64_t bits, int by) {
    uint64_t spread = bits;
    for (int i = 1; i <= by; i++) {
        spread |= (bits << i) | (bits >> i);
    }
    return spread & kAllBins;
}

// Other runs close beside these bins in the same sample make them a piece
// of a wider noise-like emission (the skirt of an OFDM channel): the floor
// there stands above the measured noise, so persisting over the noise
// proves nothing.
bool Crowded(uint64_t bits, uint64_t active_bits) {
    return (active_bits & Spread(bits, BurstPersistence::kGuardBins) & ~bits) != 0;
}

// Power in mW of each stored value (whole dB below 1 mW).
float StoredMilliwatts(uint8_t stored) {
    static const std::array<float, 256> table = [] {
        std::array<float, 256> mw{};
        for (size_t v = 0; v < mw.size(); v++) {
            mw[v] = static_cast<float>(std::pow(10.0, -static_cast<double>(v) / 10.0));
        }
        return mw;
    }();
    return table[stored];
}

// Power of `width` adjacent bins from `first`, in dB over the noise of one
// bin.
float WindowDb(const uint8_t* row, int first, int width, float noise_mw) {
    float sum = 0.0f;
    for (int b = first; b < first + width; b++) {
        sum += StoredMilliwatts(row[b]);
    }
    return 10.0f * std::log10(sum / noise_mw);
}

uint64_t WindowBits(int first, int width) {
    return ((uint64_t{1} << width) - 1) << first;
}

// Band level i: the 2-3-bin levels first, then the 4-5-bin ones.
const BandPersistenceLevel& BandLevel(const RuleSet& rules, size_t i) {
    return i < rules.persistent_band.size()
               ? rules.persistent_band[i]
               : rules.persistent_wide_band[i - rules.persistent_band.size()];
}

bool IsBandLevel(const BandPersistenceLevel& level) {
    return level.samples > 0 && level.bins >= 1 && level.bins <= CONST_SUBBAND_NUM_BINS;
}

}  // namespace

void BurstPersistence::NextSample(u64 time_us, const uint8_t* row, uint64_t active_bits,
                                  float noise_dbm) {
    current_ ^= 1;
    for (auto& level : streaks_[static_cast<size_t>(current_)]) {
        level.fill(0);
    }
    std::copy_backward(times_.begin(), times_.end() - 1, times_.end());
    times_[0] = time_us;

    // A weak packet's strongest bin dips under the join level now and then
    // (noise adds to its power with a random phase), while its bins together
    // still hold their power: a window within last sample's chain carries
    // it on. Only chains already started by a run are looked at, and only
    // in place: a packet keeps its channel, while a carrier sweeping slowly
    // through the view would walk a chain along a bin at a time.
    const RuleSet& rules = ActiveRules();
    const auto& before = streaks_[static_cast<size_t>(current_ ^ 1)];
    float noise_mw = 0.0f;  // worked out once a chain is there to carry
    for (size_t l = 0; l < static_cast<size_t>(kBandLevels); l++) {
        const size_t slot = kPersistenceLevels + l;
        const uint64_t chains = before[slot][0];
        const BandPersistenceLevel& level = BandLevel(rules, l);
        if (chains == 0 || !IsBandLevel(level)) {
            continue;
        }
        if (noise_mw == 0.0f) {
            noise_mw = std::pow(10.0f, noise_dbm / 10.0f);
        }
        // Only the windows lying within a chain.
        const int width = level.bins;
        const int last = std::min(63 - __builtin_clzll(chains), CONST_SUBBAND_NUM_BINS - width);
        for (int first = std::max(__builtin_ctzll(chains) - width + 1, 0); first <= last; first++) {
            const uint64_t window = WindowBits(first, width);
            if ((window & ~chains) == 0 && !Crowded(window, active_bits) &&
                WindowDb(row, first, width, noise_mw) >= level.margin_db) {
                Chain(slot, level.samples, window);
            }
        }
    }
}

int BurstPersistence::Chain(size_t slot, int samples, uint64_t bits) {
    const auto& before = streaks_[static_cast<size_t>(current_ ^ 1)][slot];
    auto& now = streaks_[static_cast<size_t>(current_)][slot];
    const int needed = std::min(samples, kMaxSamples);
    // A packet hopping nowhere may still wander by a bin between samples
    // (FM deviation, a peak shared by two bins).
    const uint64_t near = Spread(bits, 1);
    int streak = 1;
    while (streak < needed && (near & before[static_cast<size_t>(streak - 1)]) != 0) {
        streak++;
    }
    for (int s = 0; s < streak; s++) {
        now[static_cast<size_t>(s)] |= bits;
    }
    return streak >= needed ? needed : 0;
}

BurstPersistence::Belief BurstPersistence::Observe(uint64_t run_bits, uint64_t active_bits,
                                                   const uint8_t* row, int peak, float noise_dbm) {
    Belief belief;
    // Crowded runs start no history.
    if (run_bits == 0 || peak < 0 || peak >= CONST_SUBBAND_NUM_BINS ||
        Crowded(run_bits, active_bits)) {
        return belief;
    }
    const RuleSet& rules = ActiveRules();
    const float above_noise_db = -static_cast<float>(row[peak]) - noise_dbm;
    for (size_t l = 0; l < rules.persistent_peak.size(); l++) {
        const PersistenceLevel& level = rules.persistent_peak[l];
        if (level.samples > 0 && above_noise_db >= level.margin_db) {
            belief.samples = std::max(belief.samples, Chain(l, level.samples, run_bits));
        }
    }
    // Each width's strongest window holding the whole run, summed once
    // whichever levels read it. A run wider than the window is an emission
    // wider than the packet the window is for (a Zigbee frame's 2 MHz is
    // wider than a 1 MHz hop or the controller's 1.4 MHz): part of its power
    // proves nothing about a packet, and it is judged by its bins alone.
    const int lowest = __builtin_ctzll(run_bits);
    const int highest = 63 - __builtin_clzll(run_bits);
    const float noise_mw = std::pow(10.0f, noise_dbm / 10.0f);
    int width = 0;
    float window_db = 0.0f;
    uint64_t window = 0;
    for (size_t l = 0; l < static_cast<size_t>(kBandLevels); l++) {
        const BandPersistenceLevel& level = BandLevel(rules, l);
        if (!IsBandLevel(level)) {
            continue;
        }
        if (level.bins != width) {
            width = level.bins;
            window_db = -1000.0f;
            const int last = std::min(lowest, CONST_SUBBAND_NUM_BINS - width);
            for (int first = std::max(highest - width + 1, 0); first <= last; first++) {
                const float db = WindowDb(row, first, width, noise_mw);
                if (db > window_db) {
                    window_db = db;
                    window = WindowBits(first, width);
                }
            }
        }
        if (window_db < level.margin_db) {
            continue;
        }
        const int samples = Chain(kPersistenceLevels + l, level.samples, window);
        if (samples > 0) {
            belief.samples = std::max(belief.samples, samples);
            if (l < static_cast<size_t>(kBandPersistenceLevels)) {
                belief.by_band = true;
            } else {
                belief.by_wide_band = true;
            }
        }
    }
    return belief;
}

u64 BurstPersistence::SampleTime(int back) const {
    return times_[static_cast<size_t>(std::clamp(back, 0, kMaxSamples - 1))];
}

void BurstPersistence::Reset() {
    *this = BurstPersistence{};
}
