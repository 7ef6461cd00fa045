// Builds spectrum datagrams from intended per-bin powers in dBm, encoding raw
// magnitudes and rssi so that the daemon's conversion gives the powers back
// (within rounding), and packs samples 14 to a datagram.
#ifndef TESSARON_TESTS_KIT_STREAM_BUILDER_H
#define TESSARON_TESTS_KIT_STREAM_BUILDER_H

#include <array>
#include <cstdint>
#include <vector>

#include "fft_data.h"

using PowerRow = std::array<float, 56>;  // dBm per bin

PowerRow FlatRow(float dbm);

// rssi carries the total power; the magnitudes carry each bin's share.
void EncodeSample(uint16_t freq, uint64_t ts, const PowerRow& dbm, spectrum_fft* s);

class StreamBuilder {
public:
    void Add(uint16_t freq, uint64_t ts, const PowerRow& dbm);
    // Samples `rows` rows `step_us` apart from t0; returns the next time.
    uint64_t AddRun(uint16_t freq, uint64_t t0, int rows, uint64_t step_us, const PowerRow& dbm);
    // The wire form of every datagram so far, the last one included.
    std::vector<std::vector<uint8_t>> Take();

private:
    void Flush();

    fft_data current_{};
    uint64_t seq_ = 0;
    std::vector<std::vector<uint8_t>> datagrams_;
};

#endif
