// Weak packets told from receiver noise by how long they stay. A packet a
// few samples long cannot be averaged like a carrier, but while it lasts its
// bins stand out sample after sample on the same frequencies, whereas noise
// power is drawn afresh in every bin of every sample. A noise bin passes a
// level with some small probability p per sample; passing it again on the
// same or a neighbouring bin in the next sample costs another factor of
// about 3p. So a peak too weak to be believed in one sample is believed when
// it persists over enough consecutive samples on overlapping bins. A packet
// spread over two to five bins is judged also by the power those bins hold
// together, against the noise of as many bins.
#ifndef TESSARON_BURST_PERSISTENCE_H
#define TESSARON_BURST_PERSISTENCE_H

#include <array>
#include <cstdint>

#include "rule_set.h"
#include "script_utils_module.h"

class BurstPersistence {
public:
    static constexpr int kBandLevels = kBandPersistenceLevels + kWideBandPersistenceLevels;
    static constexpr int kMaxLevels = kPersistenceLevels + kBandLevels;
    static constexpr int kMaxSamples = 5;

    // What persistence makes of one run.
    struct Belief {
        // Consecutive samples, the current one the last, over which the run
        // persisted at a level that believes it; 0 while none does yet.
        int samples = 0;
        // Believed by the power of 2-3 adjacent bins together: the packet's
        // strongest bin alone may stand no higher than the join level.
        bool by_band = false;
        // Believed only by the power of 4-5 adjacent bins together (the game
        // controller's windows): evidence for that packet alone. A Zigbee
        // frame near the noise shows as many bins above the join level, and
        // must not become evidence of a hopper's packet by them.
        bool by_wide_band = false;
    };

    // Starts a new sample taken at time_us, of stored powers `row` (whole dB
    // below 1 mW, 56 bins) over noise of mean power noise_dbm a bin, whose
    // bins above the join level are active_bits: what the last one saw
    // becomes the history the new runs are judged against. A packet whose
    // bins hold their summed power carries its chain through this sample
    // even where its strongest bin dipped under the join level.
    void NextSample(u64 time_us, const uint8_t* row, uint64_t active_bits, float noise_dbm);
    // One run of adjacent bins above the join level of the current sample
    // (bit b set for bin b, among the sample's active bits), whose strongest
    // bin is `peak`.
    Belief Observe(uint64_t run_bits, uint64_t active_bits, const uint8_t* row, int peak,
                   float noise_dbm);
    // Bins either side of a run that must lie quiet for it to count as a
    // narrowband packet on its own.
    static constexpr int kGuardBins = 3;
    // Card time of the sample `back` samples before the current one
    // (0: the current one), for a run believed only after it persisted.
    u64 SampleTime(int back) const;
    // Forgets the history: the next sample follows a gap in the stream.
    void Reset();

private:
    // Per level, bins of runs (or of summed windows) at that level which had
    // persisted over at least s + 1 consecutive samples, for s = 0 ..
    // kMaxSamples - 1: one set for the previous sample, one being filled for
    // the current one. The one-bin levels come first, then the band levels.
    using Streaks = std::array<std::array<uint64_t, kMaxSamples>, kMaxLevels>;
    // Extends level `slot`'s chains with `bits`, which passed its margin in
    // this sample; returns `samples` once the chain is that long, else 0.
    int Chain(size_t slot, int samples, uint64_t bits);

    std::array<Streaks, 2> streaks_{};
    int current_ = 0;
    std::array<u64, kMaxSamples> times_{};
};

#endif
