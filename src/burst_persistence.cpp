#include "burst_persistence.h"

#include <algorithm>

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

}  // namespace

void BurstPersistence::NextSample(u64 time_us) {
    current_ ^= 1;
    for (auto& level : streaks_[static_cast<size_t>(current_)]) {
        level.fill(0);
    }
    std::copy_backward(times_.begin(), times_.end() - 1, times_.end());
    times_[0] = time_us;
}

int BurstPersistence::Observe(uint64_t run_bits, uint64_t active_bits, float above_noise_db) {
    // Other runs close beside this one in the same sample make it a piece of
    // a wider noise-like emission (the skirt of an OFDM channel): the floor
    // there stands above the measured noise, so persisting over the noise
    // proves nothing. Such runs start no history.
    if ((active_bits & Spread(run_bits, kGuardBins) & ~run_bits) != 0) {
        return 0;
    }
    const Streaks& before = streaks_[static_cast<size_t>(current_ ^ 1)];
    Streaks& now = streaks_[static_cast<size_t>(current_)];
    // A packet hopping nowhere may still wander by a bin between samples
    // (FM deviation, a peak shared by two bins).
    const uint64_t near = Spread(run_bits, 1);
    int believed = 0;
    const auto& levels = ActiveRules().persistent_peak;
    for (size_t l = 0; l < levels.size(); l++) {
        const int needed = std::min(levels[l].samples, kMaxSamples);
        if (needed <= 0 || above_noise_db < levels[l].margin_db) {
            continue;
        }
        int streak = 1;
        while (streak < needed && (near & before[l][static_cast<size_t>(streak - 1)]) != 0) {
            streak++;
        }
        for (int s = 0; s < streak; s++) {
            now[l][static_cast<size_t>(s)] |= run_bits;
        }
        if (streak >= needed) {
            believed = std::max(believed, needed);
        }
    }
    return believed;
}

u64 BurstPersistence::SampleTime(int back) const {
    return times_[static_cast<size_t>(std::clamp(back, 0, kMaxSamples - 1))];
}

void BurstPersistence::Reset() {
    *this = BurstPersistence{};
}
