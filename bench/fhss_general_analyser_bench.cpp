// One hopper pass (collection and detection) over 72 busy subbands: voice
// slot pairs, data packets, handset bursts, Zigbee frames and Xbox-shaped
// packets in every 110 ms visit, about 175 pulses each. The mix is dense
// enough to trip the overload rule, so every search runs over every pulse.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <iostream>
#include <list>
#include <sstream>
#include <vector>

#include "device_analyzer.h"
#include "fhss_general_analyser.h"
#include "subband_class.h"

namespace {

constexpr int NUM_SUBBANDS = 72;
constexpr u64 DWELL_US = 110000;

RssiPulse Pulse(u64 start, u64 duration, int start_bin, int end_bin, float peak) {
    std::vector<float> profile(56, 100.0f);
    for (int b = start_bin; b <= end_bin; ++b)
        profile[b] = peak;
    RssiPulse pulse(start, 2437.0f, start_bin, end_bin, (start_bin + end_bin) / 2, profile,
                    nullptr);
    pulse.end_time = start + duration;
    pulse.average_pulse_rssi = peak + 2.0f;
    return pulse;
}

std::list<SubBand> BuildBusyHistory() {
    std::list<SubBand> history;
    for (int i = 0; i < NUM_SUBBANDS; ++i) {
        const u64 start = static_cast<u64>(i) * DWELL_US;
        history.emplace_back(nullptr, start, CONST_CENTER_FREQUENCIES[i % 6], 95.0f, 0);
        SubBand& subband = history.back();
        subband.end_time = start + DWELL_US;
        std::vector<RssiPulse>& pulses = subband.completed_pulses_list;
        for (u64 t = start + 500; t + 1000 < start + DWELL_US; t += 3750) {
            const int hop = static_cast<int>((t / 3750) % 40) + 4;
            pulses.push_back(Pulse(t, 200, hop - 2, hop + 2, 55.0f));  // voice slot pair
            pulses.push_back(Pulse(t + 625, 200, hop - 2, hop + 2, 56.0f));
            pulses.push_back(Pulse(t + 1400, 550, hop, hop + 3, 60.0f));  // data packet
            pulses.push_back(Pulse(t + 2100, 300, 30, 33, 65.0f));        // handset burst
            pulses.push_back(Pulse(t + 2600, 1100, 19, 25, 70.0f));       // Zigbee frame
            pulses.push_back(Pulse(t + 3000, 228, 10, 14, 68.0f));        // Xbox-shaped
        }
        // Closed pulses arrive in end order, not start order.
        std::reverse(pulses.begin(), pulses.end());
    }
    return history;
}

void BM_HopperPass72Subbands(benchmark::State& state) {
    std::ostringstream sink;
    std::streambuf* saved = std::cout.rdbuf(sink.rdbuf());
    NkldDistMap nkld;
    for (auto _ : state) {
        state.PauseTiming();
        std::list<SubBand> history = BuildBusyHistory();
        DeviceAnalyzer::ResetForTests();
        sink.str("");
        state.ResumeTiming();
        FreqHoppingsDeviceAnalyser analyser(history, history.begin(), nkld, 65535);
        analyser.BuildFreqHoppingPulseInfo();
        analyser.GetFeatures();
        benchmark::ClobberMemory();
    }
    std::cout.rdbuf(saved);
}
BENCHMARK(BM_HopperPass72Subbands)->Unit(benchmark::kMillisecond);

}  // namespace
