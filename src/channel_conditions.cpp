#include "channel_conditions.h"

#include <algorithm>

namespace {

constexpr int kQuietBinRank = 5;         // 6th weakest of 56 bins
constexpr int kQuietSamplePercent = 20;  // 20 % point over a block
// Longer than this between samples is a gap, not a sample interval.
constexpr u64 kMaxIntervalUs = TIME_DIFF_LIMIT;

int ChannelIndex(float freq) {
    for (int i = 0; i < 6; i++) {
        if (CONST_CENTER_FREQUENCIES[i] == freq) {
            return i;
        }
    }
    return -1;
}

}  // namespace

void NoiseFloorEstimator::Observe(const std::vector<float>& sample) {
    if (sample.size() < 56) {
        return;
    }
    for (size_t b = 0; b < 56; b++) {
        Count(b, static_cast<int>(sample[b]));
    }
    EndSample();
}

void NoiseFloorEstimator::Observe(const uint8_t* row) {
    for (size_t b = 0; b < 56; b++) {
        Count(b, row[b]);
    }
    EndSample();
}

void NoiseFloorEstimator::Count(size_t bin, int stored) {
    const int value = std::clamp(stored - kLowestValue, 0, kValues - 1);
    counts[bin][static_cast<size_t>(value)]++;
}

void NoiseFloorEstimator::EndSample() {
    if (++samples_in_block == kBlockSamples) {
        EndBlock();
    }
}

void NoiseFloorEstimator::EndBlock() {
    const uint32_t wanted = static_cast<uint32_t>(kBlockSamples * kQuietSamplePercent / 100);
    std::array<int, 56> quiet_values;
    for (size_t b = 0; b < 56; b++) {
        // The bin's 20 % point, counted from the weakest (largest) value.
        uint32_t seen = 0;
        int value = kValues - 1;
        for (; value > 0; value--) {
            seen += counts[b][static_cast<size_t>(value)];
            if (seen > wanted) {
                break;
            }
        }
        quiet_values[b] = value + kLowestValue;
        counts[b].fill(0);
    }
    // The 4th weakest bin: the largest values are the weakest powers.
    std::nth_element(quiet_values.begin(), quiet_values.begin() + kQuietBinRank, quiet_values.end(),
                     [](int a, int b) { return a > b; });
    noise_mean_dbm = -static_cast<float>(quiet_values[kQuietBinRank]) + kStatisticBelowMeanDb;
    has_estimate = true;
    samples_in_block = 0;
}

void SampleIntervalEstimator::Observe(u64 time_us, float freq) {
    const bool same_dwell = freq == last_freq && time_us > last_time;
    const u64 diff = same_dwell ? time_us - last_time : 0;
    last_time = time_us;
    last_freq = freq;
    if (diff == 0 || diff > kMaxIntervalUs) {
        return;
    }
    diffs[static_cast<size_t>(next)] = static_cast<uint32_t>(diff);
    next = (next + 1) % kWindow;
    filled = std::min(filled + 1, kWindow);
    if (filled < kWindow || next != 0) {
        return;
    }
    std::array<uint32_t, kWindow> sorted = diffs;
    std::nth_element(sorted.begin(), sorted.begin() + kWindow / 2, sorted.end());
    interval_us = static_cast<float>(sorted[kWindow / 2]);
}

const NoiseFloorEstimator& ChannelConditions::FloorOf(float freq) const {
    const int c = ChannelIndex(freq);
    return c < 0 ? off_channel : floors[static_cast<size_t>(c)];
}

void ChannelConditions::Observe(u64 time_us, float freq, const std::vector<float>& sample) {
    interval.Observe(time_us, freq);
    const int c = ChannelIndex(freq);
    (c < 0 ? off_channel : floors[static_cast<size_t>(c)]).Observe(sample);
}

void ChannelConditions::Observe(u64 time_us, float freq, const uint8_t* row) {
    interval.Observe(time_us, freq);
    const int c = ChannelIndex(freq);
    (c < 0 ? off_channel : floors[static_cast<size_t>(c)]).Observe(row);
}

float ChannelConditions::NoiseMeanDbm(float freq) const {
    return FloorOf(freq).NoiseMeanDbm();
}
