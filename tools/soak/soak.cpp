// tessaron_soak: drives the daemon's receive path with a long stress stream
// (busy spectrum, channel changes, card clock wraps and resets, host clock
// steps, malformed datagrams) and checks that, once the subband history is
// full, memory stays flat, output keeps coming and no datagram goes
// unaccounted for.
//
//   tessaron_soak [--minutes M] [--step-us S] [--max-growth-kib K]
//
// M minutes of capture time (default 10). Prints the memory curve and
// exits 1 when a check fails.
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "channel_visit.h"
#include "device_analyzer.h"
#include "host_clock.h"
#include "soak_stream.h"
#include "subband_analyser_class.h"
#include "temp_dir.h"
#include "tessaron_main.h"
#include "ui_event_listener.h"

namespace {

struct Options {
    double minutes = 10.0;
    uint64_t step_us = 100;
    long max_growth_kib = 1024;
};

// Host time follows capture time, with the steps a real clock takes: back
// 30 s (a correction) at 40 % of the run and forward an hour at 70 %.
void SetHostFromCapture(uint64_t elapsed_us, uint64_t total_us) {
    int64_t offset_s = 0;
    if (elapsed_us >= total_us * 4 / 10) {
        offset_s -= 30;
    }
    if (elapsed_us >= total_us * 7 / 10) {
        offset_s += 3600;
    }
    FakeHostClock::Set(static_cast<long>(1700000000 + offset_s + elapsed_us / 1000000),
                       static_cast<long>(elapsed_us % 1000000));
}

long ResidentKib() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long HeapInUseKib() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long>(info.uordblks / 1024);
}

struct EventCounts {
    long channel = 0;
    long devices = 0;
};

// Counts the UI events the analysis sends, by kind.
class UiCounts {
public:
    const sockaddr_in& Address() const { return listener_.address(); }
    void Drain() {
        for (const std::string& text : listener_.Drain(0)) {
            if (text.rfind("event: channel\r\n", 0) == 0) {
                events.channel++;
            } else if (text.rfind("event: devices\r\n", 0) == 0) {
                events.devices++;
            }
        }
    }
    EventCounts events;

private:
    UiEventListener listener_{8 << 20};
};

// Extremes of memory use and of the subband history over some samples.
struct MemoryPeaks {
    long rss_max_kib = 0;
    long heap_min_kib = -1;
    long heap_max_kib = 0;
    size_t history_max = 0;
};

// One reporting interval of the memory curve: the peaks of the samples
// taken every second of capture time within it, and the output so far.
struct Row {
    double minute = 0;
    uint64_t datagrams = 0;
    MemoryPeaks memory;
    EventCounts events;
    size_t active_devices = 0;
    long energy_lines = 0;
};

void Sample(Row& row, size_t history) {
    const long heap = HeapInUseKib();
    MemoryPeaks& m = row.memory;
    m.rss_max_kib = std::max(m.rss_max_kib, ResidentKib());
    m.heap_max_kib = std::max(m.heap_max_kib, heap);
    m.heap_min_kib = m.heap_min_kib < 0 ? heap : std::min(m.heap_min_kib, heap);
    m.history_max = std::max(m.history_max, history);
}

// Largest value of a field over rows [from, to).
template <typename F>
long MaxOver(const std::vector<Row>& rows, size_t from, size_t to, F field) {
    long best = 0;
    for (size_t i = from; i < to; i++) {
        best = std::max(best, field(rows[i]));
    }
    return best;
}

bool ParseOptions(int argc, char** argv, Options& opt) {
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) {
            return false;
        }
        if (arg == "--minutes") {
            opt.minutes = atof(argv[++i]);
        } else if (arg == "--step-us") {
            opt.step_us = strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--max-growth-kib") {
            opt.max_growth_kib = atol(argv[++i]);
        } else {
            return false;
        }
    }
    return opt.minutes > 0 && opt.step_us > 0;
}

// Keeps the analysis's stdout and stderr in files under dir; the report
// goes to the terminal through *report. False when that cannot be arranged.
bool RedirectOutput(const std::string& dir, FILE** report) {
    *report = fdopen(dup(STDOUT_FILENO), "w");
    if (freopen("/dev/null", "w", stdout) == nullptr ||
        freopen((dir + "/stderr.txt").c_str(), "w", stderr) == nullptr) {
        fprintf(*report, "cannot redirect output\n");
        return false;
    }
    return true;
}

// The analysis with its outputs in dir, as the daemon sets it up.
void SetUpAnalysis(const std::string& dir, const UiCounts& ui, uint64_t total_us) {
    SetHostClock(FakeHostClock::Read);
    SetHostFromCapture(0, total_us);
    ExternalInterface::InitSocket(ui.Address());
    ChannelVisit::Reset();
    ExternalInterface::UpdateLogFileName(dir + "/output.log");
    ChannelVisit::SetEnergyLogFileName(dir + "/energy.log");
}

// Feeds the whole stream to the analyser; returns one row per reporting
// interval.
std::vector<Row> Feed(SoakStream& stream, SubBandAnalyser& analyser, UiCounts& ui,
                      const std::string& dir, uint64_t total_us) {
    std::vector<Row> rows;
    const uint64_t row_every_us = total_us >= 300000000 ? 30000000 : 10000000;
    const uint64_t sample_every_us = 1000000;
    uint64_t next_row_us = row_every_us;
    uint64_t next_sample_us = sample_every_us;
    Row row;
    stream.Run([&](const uint8_t* wire, size_t len, uint64_t elapsed_us) {
        SetHostFromCapture(elapsed_us, total_us);
        analyser.ProcessDatagram(wire, static_cast<ssize_t>(len));
        if ((stream.Counts().datagrams & 63) == 0) {
            ui.Drain();
        }
        if (elapsed_us >= next_sample_us) {
            next_sample_us += sample_every_us;
            Sample(row, analyser.current_ap->completed_sub_bands_list.size());
        }
        if (elapsed_us >= next_row_us) {
            next_row_us += row_every_us;
            ui.Drain();
            row.minute = static_cast<double>(elapsed_us) / 60e6;
            row.datagrams = stream.Counts().datagrams;
            row.active_devices = DeviceAnalyzer::ActiveDeviceCount();
            row.events = ui.events;
            row.energy_lines = CountLines(dir + "/energy.log");
            rows.push_back(row);
            row = Row();
        }
    });
    ui.Drain();
    fflush(stderr);
    return rows;
}

void PrintRows(FILE* report, const std::vector<Row>& rows) {
    fprintf(report, "%7s %9s %9s %9s %9s %7s %7s %8s %8s %8s\n", "minute", "datagrams", "rss_kib",
            "heap_min", "heap_max", "history", "devices", "ch_evts", "dev_evts", "energy");
    for (const Row& r : rows) {
        fprintf(report, "%7.2f %9llu %9ld %9ld %9ld %7zu %7zu %8ld %8ld %8ld\n", r.minute,
                static_cast<unsigned long long>(r.datagrams), r.memory.rss_max_kib,
                r.memory.heap_min_kib, r.memory.heap_max_kib, r.memory.history_max,
                r.active_devices, r.events.channel, r.events.devices, r.energy_lines);
    }
}

// The checks' findings, said on the report as they come.
class Verdict {
public:
    explicit Verdict(FILE* report) : report_(report) {}
    void Fail(const std::string& why) {
        fprintf(report_, "FAIL: %s\n", why.c_str());
        ok_ = false;
    }
    bool Ok() const { return ok_; }

private:
    FILE* report_;
    bool ok_ = true;
};

// The history oscillates between 121 and 240 subbands (about 13 s to 26 s
// of capture); once it has been trimmed a few times, the peaks of the last
// third of the run must not rise above those of the middle third.
void CheckMemoryStaysFlat(const std::vector<Row>& rows, long max_growth_kib, FILE* report,
                          Verdict* verdict) {
    const size_t third = rows.size() / 3;
    const auto heap = [](const Row& r) { return r.memory.heap_max_kib; };
    const auto rss = [](const Row& r) { return r.memory.rss_max_kib; };
    const long heap_growth =
        MaxOver(rows, 2 * third, rows.size(), heap) - MaxOver(rows, third, 2 * third, heap);
    const long rss_growth =
        MaxOver(rows, 2 * third, rows.size(), rss) - MaxOver(rows, third, 2 * third, rss);
    fprintf(report,
            "memory, last third against middle third: heap peak %+ld KiB, rss peak %+ld KiB "
            "(limit %ld)\n",
            heap_growth, rss_growth, max_growth_kib);
    if (heap_growth > max_growth_kib || rss_growth > max_growth_kib) {
        verdict->Fail("memory grows after the history is full");
    }
}

// Output keeps coming: every reporting interval after the first brings
// channel events and energy-log lines.
void CheckOutputKeepsComing(const std::vector<Row>& rows, Verdict* verdict) {
    for (size_t i = 1; i < rows.size(); i++) {
        if (rows[i].events.channel <= rows[i - 1].events.channel ||
            rows[i].energy_lines <= rows[i - 1].energy_lines) {
            verdict->Fail("no channel events or energy lines before minute " +
                          std::to_string(rows[i].minute));
            return;
        }
    }
}

// Every datagram sent is accounted for by the receive path's counters.
void CheckDatagramCounts(const SoakStreamCounts& sent, const DatagramCounters& seen, FILE* report,
                         Verdict* verdict) {
    fprintf(report,
            "datagrams: %" PRIu64 " sent, %" PRIu64 " used, %" PRIu64 " wrong-sized, %" PRIu64
            " bad count; card clock wraps %" PRIu64 ", resets %" PRIu64 "; channel changes %" PRIu64
            "\n",
            sent.datagrams, seen.used, seen.wrong_size, seen.bad_count, sent.card_wraps,
            sent.card_resets, sent.channel_changes);
    fprintf(report,
            "off-centre samples %" PRIu64 "; time repeats %" PRIu64 ", backwards %" PRIu64
            ", clock wraps %" PRIu64 "; clamped %" PRIu64 "\n",
            seen.off_centre, seen.time_repeats, seen.time_backwards, seen.clock_wraps,
            seen.clamped);
    if (seen.received != sent.datagrams || seen.used != sent.Good() ||
        seen.wrong_size != sent.faults[kWrongSize] || seen.bad_count != sent.BadCount() ||
        seen.off_centre != sent.faults[kOffCentre] || seen.clock_wraps < sent.card_wraps) {
        verdict->Fail("datagram counts do not add up");
    }
}

// Every malformed datagram left a warning on stderr.
void CheckWarnings(const std::string& dir, const SoakStreamCounts& sent, const EventCounts& events,
                   FILE* report, Verdict* verdict) {
    const long warnings = CountLines(dir + "/stderr.txt");
    fprintf(
        report,
        "stderr warnings: %ld; ended devices logged: %ld; UI events: %ld channel, %ld devices\n",
        warnings, CountLines(dir + "/output.log"), events.channel, events.devices);
    if (warnings < static_cast<long>(sent.faults[kWrongSize] + sent.BadCount())) {
        verdict->Fail("a malformed datagram went by without a warning");
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    if (!ParseOptions(argc, argv, opt)) {
        fprintf(stderr, "usage: %s [--minutes M] [--step-us S] [--max-growth-kib K]\n", argv[0]);
        return 2;
    }
    const std::string dir = MakeTempDir("tessaron-soak");
    if (dir.empty()) {
        perror("mkdtemp");
        return 2;
    }
    FILE* report = nullptr;
    if (!RedirectOutput(dir, &report)) {
        return 2;
    }

    const uint64_t total_us = static_cast<uint64_t>(opt.minutes * 60e6);
    UiCounts ui;
    SetUpAnalysis(dir, ui, total_us);
    SubBandAnalyser analyser("output.txt", 100000000,
                             std::string(TESSARON_SOURCE_DIR) + "/data/signatures.txt", 65535);
    SoakStreamConfig config;
    config.sample_step_us = opt.step_us;
    SoakStream stream(config, total_us);
    const auto wall_start = std::chrono::steady_clock::now();
    const std::vector<Row> rows = Feed(stream, analyser, ui, dir, total_us);
    const double wall_s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();

    fprintf(report, "soak: %.1f min of capture, sample every %llu us, in %.1f s\n", opt.minutes,
            static_cast<unsigned long long>(opt.step_us), wall_s);
    PrintRows(report, rows);
    Verdict verdict(report);
    if (rows.size() < 4) {
        verdict.Fail("run too short to judge");
    } else {
        CheckMemoryStaysFlat(rows, opt.max_growth_kib, report, &verdict);
        CheckOutputKeepsComing(rows, &verdict);
    }
    if (ui.events.devices == 0) {
        verdict.Fail("no device was ever announced");
    }
    CheckDatagramCounts(stream.Counts(), analyser.GetDatagramCounters(), report, &verdict);
    CheckWarnings(dir, stream.Counts(), ui.events, report, &verdict);
    fprintf(report, "%s (logs in %s)\n", verdict.Ok() ? "soak: PASS" : "soak: FAIL", dir.c_str());
    fclose(report);
    return verdict.Ok() ? 0 : 1;
}
