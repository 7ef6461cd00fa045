// The soak's stress stream: a busy 2.4 GHz band as the card sees it, cut
// into 1360-byte datagrams, with the faults a long run meets mixed in.
//
// Radios on the air, from the simulator's emitter models: a Bluetooth voice
// link (silent for the last 30 s of every two minutes, so that the tracker
// ends it and finds it again), an analog cordless phone's narrow carrier at
// 2430 MHz and a microwave oven near the top of the band.
//
// The card: the simulator's channel scan (about 410 ms on each of the six
// channels in turn) with a sample every `sample_step_us`; its 32-bit clock
// starts two minutes before it wraps and is reset to a small value every
// few minutes of capture.
//
// Faults, one every `fault_every` datagrams, in rotation: wrong sizes (0 to
// 1400 bytes), sample counts of -1, 15 and two million, a sample on a
// frequency that is not a channel centre, all-zero and all-255 bins,
// repeated and backwards timestamps.
#ifndef TESSARON_TOOLS_SOAK_SOAK_STREAM_H
#define TESSARON_TOOLS_SOAK_SOAK_STREAM_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "fft_data.h"
#include "scenarios.h"

struct SoakStreamConfig {
    uint64_t sample_step_us = 100;
    uint64_t card_wraps_after_us = 120000000;  // the 32-bit card clock's first wrap
    uint64_t card_reset_every_us = 200000000;  // card clock reset to near zero
    int fault_every = 97;
    uint32_t seed = 12345;
};

// The spoiled datagrams, in the order of the rotation.
enum SoakFault {
    kWrongSize,  // anything from empty to the whole receive buffer
    kNegativeCount,
    kCountOverOne,  // 15 samples claimed, 14 fit
    kHugeCount,
    kOffCentre,  // a sample between two channel centres
    kFlatBins,   // all-zero and all-255 bins
    kRepeatedTime,
    kBackwardsTime,
    kSoakFaultKinds
};

// What the stream has produced, to check that nothing was lost.
struct SoakStreamCounts {
    uint64_t datagrams = 0;
    std::array<uint64_t, kSoakFaultKinds> faults{};
    uint64_t card_wraps = 0;
    uint64_t card_resets = 0;
    uint64_t channel_changes = 0;

    uint64_t BadCount() const {
        return faults[kNegativeCount] + faults[kCountOverOne] + faults[kHugeCount];
    }
    // Datagrams the receive path should take in.
    uint64_t Good() const { return datagrams - faults[kWrongSize] - BadCount(); }
};

class SoakStream {
public:
    // One datagram as it reaches the receive path (at most 1400 bytes) and
    // the capture time elapsed when it was sent, in microseconds.
    using Consumer = std::function<void(const uint8_t* wire, size_t len, uint64_t elapsed_us)>;

    SoakStream(const SoakStreamConfig& config, uint64_t total_us);

    // Generates the whole run, handing every datagram to `consume`.
    void Run(const Consumer& consume);
    const SoakStreamCounts& Counts() const { return counts_; }

private:
    uint64_t CardTime(uint64_t sim_ts);
    void Restamp(fft_data& d);
    // Spoils the datagram in `d` as the next fault in rotation; returns the
    // length it goes out with.
    size_t Fault(fft_data& d);
    void Consume(const uint8_t* sim_wire, uint64_t elapsed_us, const Consumer& consume);
    uint32_t Rand();

    SoakStreamConfig config_;
    std::unique_ptr<sim::Scenario> scenario_;
    SoakStreamCounts counts_;
    uint32_t rng_;
    uint64_t card_base_;          // card time at the last reset
    uint64_t last_reset_us_ = 0;  // capture time of the last reset
    uint64_t wraps_since_reset_ = 0;
    uint16_t last_freq_ = 0;
    int fault_kind_ = 0;
    fft_data record_;
    uint8_t wire_[1400] = {};  // the longest datagram the receive path takes
};

#endif
