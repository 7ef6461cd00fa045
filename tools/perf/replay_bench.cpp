// Whole-pipeline throughput: a capture held in memory is fed, datagram by
// datagram, to the daemon's one receive path (SubBandAnalyser::
// ProcessDatagram) for a stretch of card time, with every classifier pass,
// the tracker, the UI average and both log files in the loop. The stream is
// replayed again, moved on in card time, as often as the wanted stretch
// needs; the host clock follows the card time as it does in a live session.
//
//   tessaron-replay-bench CAPTURE [--seconds S] [--no-latency]
//
// Prints "key value" lines: samples, datagrams, card and CPU seconds,
// samples_per_s and ns_per_sample (thread CPU time: one core, whatever else
// the machine runs), longest_stall_ms (the most CPU time one datagram took,
// which is where the classifier passes run and the socket has to buffer),
// the cycle count, the history length, and peak RSS: of the process, of the
// stream it holds, and of the process less the stream.
// --no-latency leaves out the per-datagram clock readings (for callgrind).
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "bench_stream.h"
#include "channel_visit.h"
#include "device_analyzer.h"
#include "host_clock.h"
#include "pipeline_class_module.h"
#include "subband_analyser_class.h"
#include "temp_dir.h"
#include "tessaron_main.h"

namespace {

constexpr long kEpochSeconds = 1700000000;
uint64_t host_card_time = 0;

void CardTimeClock(timeval* now) {
    now->tv_sec = kEpochSeconds + static_cast<long>(host_card_time / 1000000);
    now->tv_usec = static_cast<long>(host_card_time % 1000000);
}

uint64_t LastSampleTime(const WireDatagram& wire) {
    const int count = wire[1344];
    const uint8_t* p = wire.data() + (count > 0 ? count - 1 : 0) * SPECTRUM_FFT_WIRE_SIZE + 8;
    uint64_t ts = 0;
    for (int i = 7; i >= 0; i--) {
        ts = (ts << 8) | p[i];
    }
    return ts;
}

double ThreadCpuNs() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

// Whether one of the datagram's samples will end the open subband: a new
// channel, or the 110 ms time slice used up.
bool ClosesSubband(const WireDatagram& wire, const AccessPoint& ap) {
    const int count = wire[1344];
    float prev_freq = ap.GetPrevFreq();
    for (int s = 0; s < count && s < CONST_FFT_SAMPLES_PER_DATAGRAM; s++) {
        const uint8_t* p = wire.data() + s * SPECTRUM_FFT_WIRE_SIZE;
        const float freq = static_cast<float>(p[0] | p[1] << 8);
        uint64_t ts = 0;
        for (int i = 7; i >= 0; i--) {
            ts = (ts << 8) | p[8 + i];
        }
        if (freq != prev_freq || ts <= ap.GetLastSubbandChangeTime() ||
            ts - ap.GetLastSubbandChangeTime() > CONST_SUBBAND_DWELL_TIME_US) {
            return true;
        }
        prev_freq = freq;
    }
    return false;
}

const char kArguments[] = "CAPTURE [--seconds S] [--no-latency]";

struct ReplayOptions {
    std::string capture;
    double seconds = 30.0;
    bool latency = true;
};

// A stretch shorter than the capture replays only its beginning.
void KeepFirstSeconds(BenchStream* stream, double seconds) {
    size_t keep = 0;
    uint64_t kept_samples = 0;
    uint64_t kept_last_ts = stream->first_ts;
    for (; keep < stream->datagrams.size() &&
           static_cast<double>(kept_last_ts - stream->first_ts) / 1e6 < seconds;
         keep++) {
        kept_last_ts = LastSampleTime(stream->datagrams[keep]);
        kept_samples += stream->datagrams[keep][1344];
    }
    if (keep < stream->datagrams.size()) {
        stream->datagrams.resize(keep);
        stream->samples = kept_samples;
        stream->last_ts = kept_last_ts;
    }
}

// Reads the command line and loads the capture it names, cut to the
// wanted stretch: 0 to run, else the exit status, after saying why.
int Prepare(int argc, char** argv, ReplayOptions* options, BenchStream* stream) {
    if (argc < 2) {
        return BenchUsage(argv[0], kArguments);
    }
    options->capture = argv[1];
    for (int i = 2; i < argc; i++) {
        if (strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            options->seconds = atof(argv[++i]);
        } else if (strcmp(argv[i], "--no-latency") == 0) {
            options->latency = false;
        } else {
            return BenchUsage(argv[0], kArguments);
        }
    }
    if (!LoadCaptureStream(options->capture, stream)) {
        return 1;
    }
    KeepFirstSeconds(stream, options->seconds);
    return 0;
}

struct ReplayFigures {
    uint64_t passes = 0;
    uint64_t card_us = 0;
    double busy_ns = 0;
    double wall_ns = 0;
    double longest_ns = 0;
};

// Feeds the stream to the analyser, moved on in card time after each pass,
// until the wanted stretch of card time has gone through.
ReplayFigures Replay(BenchStream& stream, SubBandAnalyser& analyser, const ReplayOptions& options) {
    ReplayFigures f;
    const uint64_t first_ts = stream.first_ts;
    while (static_cast<double>(f.card_us) / 1e6 < options.seconds || f.passes == 0) {
        const double cpu_start = ThreadCpuNs();
        const auto wall_start = std::chrono::steady_clock::now();
        for (const WireDatagram& wire : stream.datagrams) {
            host_card_time = LastSampleTime(wire);
            // Only a datagram that closes a subband can run a classifier
            // pass; those are timed one by one.
            if (options.latency && ClosesSubband(wire, *analyser.current_ap)) {
                const double t0 = ThreadCpuNs();
                analyser.ProcessDatagram(wire.data(), static_cast<ssize_t>(wire.size()));
                f.longest_ns = std::max(f.longest_ns, ThreadCpuNs() - t0);
            } else {
                analyser.ProcessDatagram(wire.data(), static_cast<ssize_t>(wire.size()));
            }
        }
        f.busy_ns += ThreadCpuNs() - cpu_start;
        f.wall_ns +=
            std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - wall_start)
                .count();
        f.passes++;
        f.card_us = stream.last_ts - first_ts;
        AdvanceStream(&stream);
    }
    fflush(stdout);
    return f;
}

void PrintFigures(FILE* report, const ReplayFigures& f, const BenchStream& stream,
                  const SubBandAnalyser& analyser, bool latency) {
    // Moving the stream on in time keeps its datagrams and samples.
    const uint64_t samples = f.passes * stream.samples;
    const uint64_t datagrams = f.passes * stream.datagrams.size();
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    fprintf(report, "samples %llu\n", static_cast<unsigned long long>(samples));
    fprintf(report, "datagrams %llu\n", static_cast<unsigned long long>(datagrams));
    fprintf(report, "card_seconds %.1f\n", static_cast<double>(f.card_us) / 1e6);
    fprintf(report, "cpu_seconds %.3f\n", f.busy_ns / 1e9);
    fprintf(report, "wall_seconds %.3f\n", f.wall_ns / 1e9);
    fprintf(report, "samples_per_s %.0f\n", static_cast<double>(samples) / (f.busy_ns / 1e9));
    fprintf(report, "wall_samples_per_s %.0f\n", static_cast<double>(samples) / (f.wall_ns / 1e9));
    fprintf(report, "ns_per_sample %.1f\n", f.busy_ns / static_cast<double>(samples));
    if (latency) {
        fprintf(report, "longest_stall_ms %.3f\n", f.longest_ns / 1e6);
    }
    fprintf(report, "cycles %llu\n",
            static_cast<unsigned long long>(analyser.current_ap->GetCycleCount()));
    fprintf(report, "history %zu\n", analyser.current_ap->completed_sub_bands_list.size());
    fprintf(report, "active_devices %zu\n", DeviceAnalyzer::ActiveDeviceCount());
    // The real daemon reads a file or a socket; the stream held here for the
    // replay is not part of it, so the peak is given with and without it.
    fprintf(report, "peak_rss_kb %ld\n", usage.ru_maxrss);
    fprintf(report, "stream_kb %ld\n", stream.HeldKb());
    fprintf(report, "daemon_peak_rss_kb %ld\n", usage.ru_maxrss - stream.HeldKb());
}

}  // namespace

int main(int argc, char** argv) {
    ReplayOptions options;
    BenchStream stream;
    if (const int status = Prepare(argc, argv, &options, &stream)) {
        return status;
    }
    // The daemon's diagnostics go where a service's would, line-buffered
    // into a file; the report goes to the original standard output.
    FILE* report = fdopen(dup(STDOUT_FILENO), "w");
    if (report == nullptr || freopen("/dev/null", "w", stdout) == nullptr) {
        return 1;
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    const TempDir dir("tessaron-replay-bench");

    SetHostClock(CardTimeClock);
    host_card_time = stream.first_ts;
    ChannelVisit::Reset();
    ExternalInterface::UpdateLogFileName(dir.Path() + "/out.log");
    ChannelVisit::SetEnergyLogFileName(dir.Path() + "/energy.log");
    const std::string signatures = BenchCapturePath(
        "TESSARON_SIGNATURES", std::string(TESSARON_SOURCE_DIR) + "/data/signatures.txt");
    SubBandAnalyser analyser("output.txt", 100000000ULL, signatures, 65535);

    const ReplayFigures figures = Replay(stream, analyser, options);
    PrintFigures(report, figures, stream, analyser, options.latency);
    fclose(report);
    return 0;
}
