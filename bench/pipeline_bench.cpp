// The daemon's signal path piece by piece, on a real busy stream at the
// card's fastest rate (one sample every 4 us): the per-sample work over one
// 110 ms subband, and each classifier pass (microwave, high duty, hopper)
// over a full window of busy subbands closed by the real pipeline.
//
// The stream is the capture named by TESSARON_BENCH_CAPTURE (make bench
// generates one with the simulator); without it every benchmark reports an
// error and skips.
#include <benchmark/benchmark.h>

#include <iterator>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "bench_stream.h"
#include "channel_visit.h"
#include "device_analyzer.h"
#include "fhss_general_analyser.h"
#include "highduty_general_analyzer.h"
#include "microwave_analyser.h"
#include "pipeline_class_module.h"
#include "subband_analyser_class.h"
#include "tessaron_main.h"

namespace {

const std::string kSignatures = std::string(TESSARON_SOURCE_DIR) + "/data/signatures.txt";

const BenchStream* Stream() {
    static const BenchStream* stream = [] {
        auto* s = new BenchStream;
        const std::string path = BenchCapturePath("TESSARON_BENCH_CAPTURE", "");
        if (path.empty() || !LoadCaptureStream(path, s)) {
            s->datagrams.clear();
        }
        return s;
    }();
    return stream;
}

std::unique_ptr<SubBandAnalyser> NewAnalyser() {
    SilentStdout quiet;
    ExternalInterface::ResetForTests();
    ChannelVisit::Reset();
    DeviceAnalyzer::ResetForTests();
    return std::make_unique<SubBandAnalyser>("output.txt", 100000000ULL, kSignatures, 65535);
}

// The decoded samples of the stream's first subband: every sample up to the
// first one more than 110 ms after the second, none of them on another
// channel, so that feeding them closes no subband and runs no pass.
std::vector<fft_data> FirstSubbandRecords(const BenchStream& stream) {
    std::vector<fft_data> records;
    uint64_t start = 0;
    uint16_t freq = 0;
    bool started = false;
    for (const WireDatagram& wire : stream.datagrams) {
        fft_data record;
        DecodeFftData(wire.data(), record);
        int keep = 0;
        for (; keep < record.count; keep++) {
            const spectrum_fft& s = record.samples[keep];
            if (!started) {
                start = s.ts;
                freq = s.freq;
                started = true;
            }
            if (s.freq != freq || s.ts - start >= CONST_SUBBAND_DWELL_TIME_US) {
                break;
            }
        }
        record.count = keep;
        if (keep > 0) {
            records.push_back(record);
        }
        if (keep < CONST_FFT_SAMPLES_PER_DATAGRAM) {
            break;
        }
    }
    return records;
}

void BM_PerSamplePath(benchmark::State& state) {
    const BenchStream* stream = Stream();
    if (stream->datagrams.empty()) {
        state.SkipWithError("set TESSARON_BENCH_CAPTURE to a capture");
        return;
    }
    const std::vector<fft_data> subband = FirstSubbandRecords(*stream);
    uint64_t samples = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<SubBandAnalyser> analyser = NewAnalyser();
        std::vector<fft_data> records = subband;
        state.ResumeTiming();
        SilentStdout quiet;
        for (fft_data& record : records) {
            for (int i = 0; i < record.count; i++) {
                analyser->ProcessSpectrumFFT(&record.samples[i]);
                analyser->ExtractPulsesFromFFT(record.samples[i]);
            }
            samples += static_cast<uint64_t>(record.count);
        }
        benchmark::ClobberMemory();
        state.PauseTiming();
        analyser.reset();
        state.ResumeTiming();
    }
    state.counters["samples/s"] =
        benchmark::Counter(static_cast<double>(samples), benchmark::Counter::kIsRate);
    state.counters["samples"] =
        benchmark::Counter(static_cast<double>(samples), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_PerSamplePath)->Unit(benchmark::kMillisecond);

// A history as the pipeline leaves it one subband before a hopper pass: the
// stream replayed (moved on in card time as often as needed) until 143
// cycles have closed, so that the newest 71 closed subbands have been
// through the microwave and high-duty passes but not the hopper pass.
struct ClosedHistory {
    std::unique_ptr<SubBandAnalyser> analyser;
    std::list<SubBand>* history = nullptr;
};

const ClosedHistory& BusyHistory() {
    static ClosedHistory* closed = [] {
        auto* c = new ClosedHistory;
        BenchStream stream = *Stream();
        c->analyser = NewAnalyser();
        AccessPoint*& ap = c->analyser->current_ap;
        SilentStdout quiet;
        const u64 stop_cycle = 2 * CONST_NUM_CYCLES_FH_DEVICES_SC - 1;
        while (ap->GetCycleCount() < stop_cycle) {
            for (const WireDatagram& wire : stream.datagrams) {
                c->analyser->ProcessDatagram(wire.data(), static_cast<ssize_t>(wire.size()));
                if (ap->GetCycleCount() >= stop_cycle) {
                    break;
                }
            }
            AdvanceStream(&stream);
        }
        c->history = &ap->completed_sub_bands_list;
        return c;
    }();
    return *closed;
}

// Copies of the `window` newest closed subbands (the open one left out).
std::list<SubBand> NewestClosed(size_t window) {
    const std::list<SubBand>& history = *BusyHistory().history;
    auto end = std::prev(history.end());
    auto begin = end;
    for (size_t i = 0; i < window && begin != history.begin(); i++) {
        --begin;
    }
    return std::list<SubBand>(begin, end);
}

size_t PulseCount(const std::list<SubBand>& window) {
    size_t pulses = 0;
    for (const SubBand& s : window) {
        pulses += s.completed_pulses_list.size();
    }
    return pulses;
}

void KeepWindow(std::list<SubBand>&) {}

// Runs `pass` over fresh copies of the `window` newest closed subbands, each
// first shaped by `prepare` (untimed).
template <typename Pass, typename Prepare = void (*)(std::list<SubBand>&)>
void RunPass(benchmark::State& state, size_t window, Pass pass, Prepare prepare = KeepWindow) {
    if (Stream()->datagrams.empty()) {
        state.SkipWithError("set TESSARON_BENCH_CAPTURE to a capture");
        return;
    }
    SubBandAnalyser& analyser = *BusyHistory().analyser;
    size_t pulses = 0;
    // Held across iterations, so that freeing a run's window (which the
    // daemon does after its hopper pass, not in each pass) is not timed.
    std::list<SubBand> subbands;
    for (auto _ : state) {
        state.PauseTiming();
        subbands = NewestClosed(window);
        prepare(subbands);
        DeviceAnalyzer::ResetForTests();
        pulses = PulseCount(subbands);
        state.ResumeTiming();
        SilentStdout quiet;
        pass(analyser, subbands);
        benchmark::ClobberMemory();
    }
    state.counters["subbands"] = static_cast<double>(window);
    state.counters["pulses"] = static_cast<double>(pulses);
}

void BM_MicrowavePass(benchmark::State& state) {
    RunPass(state, CONST_NUM_CYCLES_MICROWAVE_SC,
            [](SubBandAnalyser& analyser, std::list<SubBand>& subbands) {
                analyser.microwave_analyser->ComputeMetrics(subbands, subbands.begin(),
                                                            analyser.current_ap->mac_address);
            });
}
BENCHMARK(BM_MicrowavePass)->Unit(benchmark::kMillisecond);

void BM_HighDutyPass(benchmark::State& state) {
    RunPass(state, CONST_NUM_CYCLES_HIGHDUTY_SC,
            [](SubBandAnalyser& analyser, std::list<SubBand>& subbands) {
                analyser.high_duty_analyzer->ComputeMetrics(subbands, subbands.begin());
            });
}
BENCHMARK(BM_HighDutyPass)->Unit(benchmark::kMillisecond);

void HopperPass(SubBandAnalyser& analyser, std::list<SubBand>& subbands) {
    FreqHoppingsDeviceAnalyser hopper(subbands, subbands.begin(),
                                      analyser.input_nkld_distribution_map, analyser.debug_id);
    hopper.BuildFreqHoppingPulseInfo();
    hopper.GetFeatures();
}

void BM_HopperPass(benchmark::State& state) {
    RunPass(state, CONST_NUM_CYCLES_FH_DEVICES_SC, HopperPass);
}
BENCHMARK(BM_HopperPass)->Unit(benchmark::kMillisecond);

// Keeps `wanted` pulses of the window, evenly spread over its subbands and
// over each subband's pulses, so that the window's busyness scales while its
// mix of pulse kinds stays the same.
void ThinTo(std::list<SubBand>& window, size_t wanted) {
    const size_t total = PulseCount(window);
    if (wanted >= total) {
        return;
    }
    size_t seen = 0;
    for (SubBand& s : window) {
        std::vector<RssiPulse> kept;
        for (RssiPulse& pulse : s.completed_pulses_list) {
            // Pulse number `seen` is kept when it starts a new share of
            // total / wanted pulses.
            if ((seen * wanted) / total != ((seen + 1) * wanted) / total) {
                kept.push_back(pulse);
            }
            seen++;
        }
        s.completed_pulses_list.swap(kept);
    }
}

// The hopper pass over a full window thinned to 10 k, 100 k and (as near as
// the stream allows) 1 M pulses: its time should grow in step with the
// pulses, not faster.
void BM_HopperPassScaling(benchmark::State& state) {
    const auto wanted = static_cast<size_t>(state.range(0));
    RunPass(state, CONST_NUM_CYCLES_FH_DEVICES_SC, HopperPass,
            [wanted](std::list<SubBand>& subbands) { ThinTo(subbands, wanted); });
}
// A fixed count of runs: each needs an untimed copy of the full window,
// which would otherwise dwarf the timed pass on the small windows.
BENCHMARK(BM_HopperPassScaling)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

}  // namespace
