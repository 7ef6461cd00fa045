// Weak packets told from receiver noise by how long they stay. A packet a
// few samples long cannot be averaged like a carrier, but while it lasts its
// bins stand out sample after sample on the same frequencies, whereas noise
// power is drawn afresh in every bin of every sample. A noise bin passes a
// level with some small probability p per sample; passing it again on the
// same or a neighbouring bin in the next sample costs another factor of
// about 3p. So a peak too weak to be believed in one sample is believed when
// it persists over enough consecutive samples on overlapping bins.
#ifndef TESSARON_BURST_PERSISTENCE_H
#define TESSARON_BURST_PERSISTENCE_H

#include <array>
#include <cstdint>

#include "rule_set.h"
#include "script_utils_module.h"

class BurstPersistence {
public:
    static constexpr int kMaxLevels = kPersistenceLevels;
    static constexpr int kMaxSamples = 5;

    // Starts a new sample taken at time_us: what the last one saw becomes
    // the history the new runs are judged against.
    void NextSample(u64 time_us);
    // One run of adjacent bins above the join level of the current sample
    // (bit b set for bin b, among the sample's active bins) whose strongest
    // bin stands above_noise_db over the mean noise power. Returns how many
    // consecutive samples, this one the last, the run has persisted over at
    // a level that believes it, or 0 when no level does yet.
    int Observe(uint64_t run_bits, uint64_t active_bits, float above_noise_db);
    // Bins either side of a run that must lie quiet for it to count as a
    // narrowband packet on its own.
    static constexpr int kGuardBins = 3;
    // Card time of the sample `back` samples before the current one
    // (0: the current one), for a run believed only after it persisted.
    u64 SampleTime(int back) const;
    // Forgets the history: the next sample follows a gap in the stream.
    void Reset();

private:
    // Per level, bins of runs at that level which had persisted over at
    // least s + 1 consecutive samples, for s = 0 .. kMaxSamples - 1: one set
    // for the previous sample, one being filled for the current one.
    using Streaks = std::array<std::array<uint64_t, kMaxSamples>, kMaxLevels>;
    std::array<Streaks, 2> streaks_{};
    int current_ = 0;
    std::array<u64, kMaxSamples> times_{};
};

#endif
