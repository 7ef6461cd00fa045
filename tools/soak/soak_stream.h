// The soak's stress stream: what a busy 2.4 GHz band looks like to the card,
// cut into 1360-byte datagrams, with the faults a long run meets mixed in.
//
// Radios on the air: a Bluetooth-like hopper (pairs of short pulses 625 us
// apart on a new frequency every 3.75 ms, silent for the last 30 s of every
// two minutes), a narrow always-on carrier (an
// analog phone or video sender) and a microwave oven (wideband, on for half
// of every 16.7 ms mains cycle) near the top of the band.
//
// The card: dwells about 410 ms on each of the six channels in turn, with a
// sample every `sample_step_us`; its 32-bit clock starts two minutes before
// it wraps and is reset to a small value every few minutes of capture.
//
// Faults, one every `fault_every` datagrams, in rotation: wrong sizes (0 to
// 1400 bytes), sample counts of -1, 15 and two million, a sample on a
// frequency that is not a channel centre, all-zero and all-255 bins,
// repeated and backwards timestamps.
#ifndef TESSARON_TOOLS_SOAK_SOAK_STREAM_H
#define TESSARON_TOOLS_SOAK_SOAK_STREAM_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fft_data.h"

struct SoakStreamConfig {
    uint64_t sample_step_us = 100;
    uint64_t channel_dwell_us = 410000;
    uint64_t card_reset_every_us = 200000000;  // card clock reset to near zero
    int fault_every = 97;
    uint32_t seed = 12345;
};

// What the stream has produced, to check that nothing was lost.
struct SoakStreamCounts {
    uint64_t datagrams = 0;
    uint64_t good_datagrams = 0;
    uint64_t wrong_size = 0;
    uint64_t bad_count = 0;
    uint64_t samples = 0;
    uint64_t off_centre = 0;
    uint64_t card_wraps = 0;
    uint64_t card_resets = 0;
    uint64_t channel_changes = 0;
};

class SoakStream {
public:
    explicit SoakStream(const SoakStreamConfig& config);

    // The next datagram into `wire` (at most 1400 bytes); returns its length.
    size_t Next(uint8_t* wire);
    // Capture time elapsed so far, in microseconds (does not wrap).
    uint64_t ElapsedUs() const { return elapsed_us_; }
    const SoakStreamCounts& Counts() const { return counts_; }

private:
    void FillSample(spectrum_fft& s);
    size_t Fault(uint8_t* wire);
    uint32_t Rand();

    SoakStreamConfig config_;
    SoakStreamCounts counts_;
    uint32_t rng_;
    uint64_t elapsed_us_ = 0;
    uint64_t card_ts_;
    uint64_t last_reset_us_ = 0;
    int channel_ = 0;
    uint64_t channel_start_us_ = 0;
    uint64_t hop_start_us_ = 0;
    int hop_bin_ = 10;
    int fault_kind_ = 0;
    uint64_t datagram_index_ = 0;
};

#endif
