#include "subband_analyser_class.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>

#include "device_analyzer.h"
#include "highduty_general_analyzer.h"
#include "microwave_analyser.h"
#include "oven_on_phase.h"
#include "pipeline_class_module.h"
#include "rule_set.h"
#include "shapematch_module.h"
#include "tessaron_main.h"

namespace {

volatile sig_atomic_t stop_requested = 0;

// 20 log10(b) for every byte value, computed with exactly the arithmetic the
// per-bin conversion would otherwise repeat for every bin of every sample.
struct MagnitudeDbTable {
    float db[256];
    MagnitudeDbTable() {
        db[0] = 0.0f;
        for (int b = 1; b < 256; b++) {
            db[b] = static_cast<float>(20.0 * log10(static_cast<double>(b)));
        }
    }
};

const MagnitudeDbTable& MagnitudeDb() {
    static const MagnitudeDbTable table;
    return table;
}

constexpr int CONST_FIRST_BIN = 2;
constexpr int CONST_NUM_BINS = 56;
constexpr int CONST_DC_BIN = 30;
constexpr float CONST_SAMPLE_NOISE_FLOOR = 95.0f;

// The value of a scheduling constant in the operation mode in force.
u64 InMode(u64 scan_value, u64 single_channel_value) {
    return CONST_OPERATION_MODE == CONST_OP_MODE_SCAN ? scan_value : single_channel_value;
}

u64 ModeSubbandsPerCycle() {
    return InMode(CONST_NUM_SUBBANDS_PER_CYCLE, CONST_NUM_SUBBANDS_PER_CYCLE_SC);
}
u64 MicrowavePeriod() {
    return InMode(CONST_NUM_CYCLES_MICROWAVE, CONST_NUM_CYCLES_MICROWAVE_SC);
}
u64 HighDutyPeriod() {
    return InMode(CONST_NUM_CYCLES_HIGHDUTY, CONST_NUM_CYCLES_HIGHDUTY_SC);
}
u64 FhPeriod() {
    return InMode(CONST_NUM_CYCLES_FH_DEVICES, CONST_NUM_CYCLES_FH_DEVICES_SC);
}

// The classifier window covers the W most recent subbands, or the whole
// history when it is shorter.
std::list<SubBand>::iterator WindowStart(std::list<SubBand>& history, u64 window) {
    const u64 n = history.size();
    auto it = history.begin();
    if (n > window) {
        std::advance(it, static_cast<long>(n - window));
    }
    return it;
}

// Repeated faults are reported on their first occurrence and then on every
// thousandth, so a misbehaving producer cannot flood stderr.
bool ShouldWarn(u64 occurrences) {
    return occurrences == 1 || occurrences % 1000 == 0;
}

bool IsCentreFrequency(uint16_t freq) {
    for (const float centre : CONST_CENTER_FREQUENCIES) {
        if (centre == static_cast<float>(freq)) {
            return true;
        }
    }
    return false;
}

// A drop from the top quarter of the card's 32-bit clock to its bottom
// quarter is the clock wrapping, not time going back.
constexpr u64 CONST_WRAP_MARGIN = MAX_MAC_TIMESTAMP_VAL / 4;

}  // namespace

bool IsClassifierDue(u64 cycle_count, u64 subband_count, u64 subbands_per_cycle,
                     u64 period_cycles) {
    if (cycle_count == 0) {
        return false;
    }
    return (cycle_count * subbands_per_cycle + subband_count) %
               (subbands_per_cycle * period_cycles) ==
           0;
}

SubBandAnalyser::SubBandAnalyser(std::string output_file, u64 num_lines, std::string spec_file,
                                 int debug_id)
    : output_file(std::move(output_file)),
      num_lines(num_lines),
      high_duty_analyzer(nullptr),
      microwave_analyser(nullptr),
      current_ap(nullptr),
      debug_id(debug_id),
      listen_addr(),
      datagram(),
      float_sub_band_rssi_list(CONST_NUM_BINS, 0.0f) {
    ShapeMetrics::InitShapeMetrics(spec_file);
    high_duty_analyzer = new HighDutyAnalyzer(debug_id);
    microwave_analyser = new MicrowaveAnalyser(debug_id);
    GetApInformation();

    std::string mac = CONST_DEFAULT_AP_MAC;
    stoupper(mac);
    const std::string ap_name = access_point_name_map[mac];
    current_ap = new AccessPoint(mac, 0, ap_name);

    listen_addr.sin_family = AF_INET;
    listen_addr.sin_port = htons(CONST_SPECTRUM_PORT);
    listen_addr.sin_addr.s_addr = htonl(INADDR_ANY);
}

SubBandAnalyser::~SubBandAnalyser() {
    delete current_ap;
    delete microwave_analyser;
    delete high_duty_analyzer;
}

void SubBandAnalyser::GetApInformation() {
    GetApInformation(AP_MAC_INFO_FILE);
}

void SubBandAnalyser::GetApInformation(const std::string& mapping_file) {
    std::ifstream in(mapping_file);
    if (!in) {
        return;
    }
    std::string line;
    int line_number = 0;
    bool first_record = true;
    while (std::getline(in, line)) {
        line_number++;
        if (line.empty()) {
            break;
        }
        if (line[0] == '#') {
            continue;
        }
        std::vector<std::string> fields;
        split(rtrim(line), " ", fields);
        if (fields.size() < 3) {
            std::cerr << "Warning!! " << mapping_file << ":" << line_number
                      << ": access point record needs three fields, skipped\n";
            continue;
        }
        for (int i = 0; i < 3; i++) {
            stoupper(fields[i]);
        }
        if (first_record) {
            std::cout << "GetApInformation [" << fields[0] << ", " << fields[1] << ", " << fields[2]
                      << "]"
                      << " AP_MAC: " << fields[1] << std::endl;
            reference_mac = fields[1];
            first_record = false;
        }
        access_point_map[fields[1]] = nullptr;
        access_point_name_map.insert(std::make_pair(fields[1], fields[2]));
    }
}

void SubBandAnalyser::RequestStop() {
    stop_requested = 1;
}
bool SubBandAnalyser::StopRequested() {
    return stop_requested != 0;
}
void SubBandAnalyser::ClearStop() {
    stop_requested = 0;
}

void SubBandAnalyser::PrintRecordSize() {
    printf("#Size of fft_stats: %d\n", static_cast<int>(sizeof(fft_data)));
    fflush(stdout);
}

// The classifier passes run inside the receive path, so the socket must hold
// the datagrams that arrive meanwhile: at the card's fastest rate (17,857
// datagrams/s) 100 ms is about 1,800 datagrams, each costing the kernel a
// little over 2 KiB of buffer.
void SizeReceiveBuffer(int sock) {
    const int wanted = CONST_RECEIVE_SOCKET_BUFFER;
    if (setsockopt(sock, SOL_SOCKET, SO_RCVBUFFORCE, &wanted, sizeof(wanted)) != 0) {
        setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &wanted, sizeof(wanted));
    }
    int granted = 0;
    socklen_t len = sizeof(granted);
    getsockopt(sock, SOL_SOCKET, SO_RCVBUF, &granted, &len);
    // Linux reports twice the requested size, the other half being its
    // bookkeeping allowance.
    if (granted < wanted) {
        std::cerr << "Warning!! receive buffer is " << granted << " bytes, asked for " << wanted
                  << ": datagrams may be lost under load (raise net.core.rmem_max)\n";
    }
}

void SubBandAnalyser::ReadDataFromNetwork() {
    PrintRecordSize();
    const int sock = socket(AF_INET, SOCK_DGRAM, 0);
    if (sock >= 0) {
        SizeReceiveBuffer(sock);
    }
    if (sock < 0 ||
        bind(sock, reinterpret_cast<const sockaddr*>(&listen_addr), sizeof(listen_addr)) != 0) {
        std::cerr << "Warning!! Cannot listen on UDP port " << ntohs(listen_addr.sin_port) << ": "
                  << strerror(errno) << "\n";
    }
    uint8_t buffer[CONST_RECEIVE_BUFFER_SIZE];
    while (!StopRequested()) {
        sockaddr_in from;
        socklen_t from_len = sizeof(from);
        const ssize_t len = recvfrom(sock, buffer, sizeof(buffer), 0,
                                     reinterpret_cast<sockaddr*>(&from), &from_len);
        if (len < 0 && errno == EINTR) {
            continue;
        }
        if (len >= 0 && datagram_tap) {
            datagram_tap(buffer, static_cast<size_t>(len), from);
        }
        ProcessDatagram(buffer, len);
        if (len < 0) {
            // A socket that cannot receive would otherwise spin and flood stderr.
            usleep(100000);
        }
    }
    if (sock >= 0) {
        close(sock);
    }
}

void SubBandAnalyser::ProcessDatagram(const uint8_t* data, ssize_t len) {
    counters.received++;
    if (len != static_cast<ssize_t>(FFT_DATA_WIRE_SIZE)) {
        counters.wrong_size++;
        fprintf(stderr, "Warning!! Received packet not of the right size: %d\n",
                static_cast<int>(len));
        return;
    }
    DecodeFftData(data, datagram);
    const int32_t count = datagram.count;
    if (count < 0 || count > CONST_FFT_SAMPLES_PER_DATAGRAM) {
        counters.bad_count++;
        fprintf(stderr, "Warning!! Received packet with sample count out of range: %d\n",
                static_cast<int>(count));
        return;
    }
    counters.used++;
    for (int i = 0; i < count; i++) {
        spectrum_fft& sample = datagram.samples[i];
        // A sample off the six monitored channels still ends the open
        // subband, as any new frequency does; the classifiers that need a
        // channel index skip such subbands. The producer should hear of it.
        if (!IsCentreFrequency(sample.freq)) {
            counters.off_centre++;
            if (ShouldWarn(counters.off_centre)) {
                fprintf(stderr,
                        "Warning!! Sample on %u MHz: not a monitored channel centre frequency, "
                        "it ends the open subband (%llu so far)\n",
                        static_cast<unsigned>(sample.freq),
                        static_cast<unsigned long long>(counters.off_centre));
            }
        }
        CheckSampleTime(sample.ts);
        ProcessSpectrumFFT(&sample);
        ExtractPulsesFromFFT(sample);
    }
}

void SubBandAnalyser::CheckSampleTime(u64 ts) {
    const u64 prev = current_ap->prev_time;
    if (prev == CONST_INVALID_TIME || ts > prev) {
        return;
    }
    const auto us = [](u64 t) { return static_cast<unsigned long long>(t); };
    if (ts == prev) {
        counters.time_repeats++;
        if (ShouldWarn(counters.time_repeats)) {
            fprintf(stderr,
                    "Warning!! Sample time %llu us repeats the previous sample's (%llu so far)\n",
                    us(ts), us(counters.time_repeats));
        }
    } else if (prev > MAX_MAC_TIMESTAMP_VAL - CONST_WRAP_MARGIN && ts < CONST_WRAP_MARGIN) {
        counters.clock_wraps++;
        fprintf(stderr, "Warning!! Card clock wrapped from %llu to %llu us: pulses in flight end\n",
                us(prev), us(ts));
    } else {
        counters.time_backwards++;
        if (ShouldWarn(counters.time_backwards)) {
            fprintf(stderr,
                    "Warning!! Sample time went back from %llu to %llu us: pulses in flight end "
                    "(%llu so far)\n",
                    us(prev), us(ts), us(counters.time_backwards));
        }
    }
}

bool ConvertSpectrumToDb(spectrum_fft* spec_data) {
    uint8_t* b = spec_data->samples;
    spec_data->start_index = CONST_FIRST_BIN;
    b[0] = 0;
    b[1] = 0;
    b[CONST_DC_BIN] = static_cast<uint8_t>(
        (static_cast<unsigned>(b[CONST_DC_BIN - 1]) + static_cast<unsigned>(b[CONST_DC_BIN + 1])) /
        2);
    // Summing the squares one by one in single precision (through double)
    // keeps every partial sum exact: they are whole numbers below
    // 56 * 255^2 < 2^24. So the integer sum is the same S.
    uint32_t sum_sq_exact = 0;
    for (int i = CONST_FIRST_BIN; i < CONST_FIRST_BIN + CONST_NUM_BINS; i++) {
        sum_sq_exact += static_cast<uint32_t>(b[i]) * b[i];
    }
    const float sum_sq = static_cast<float>(sum_sq_exact);
    const float total_db = sum_sq > 0 ? 10 * log10f(sum_sq) : 0.0f;
    const float rssi_dbm = static_cast<float>(spec_data->rssi - 95);
    const MagnitudeDbTable& table = MagnitudeDb();
    bool clamped = false;
    for (int i = CONST_FIRST_BIN; i < CONST_FIRST_BIN + CONST_NUM_BINS; i++) {
        const float power = rssi_dbm + table.db[b[i]] - total_db;
        // A byte holds 0 to -255 dBm; beyond that, keeping only the low
        // 8 bits would turn a very weak bin into a strong one and the
        // reverse, so out-of-range powers saturate instead.
        const int magnitude = -static_cast<int>(power);
        if (magnitude < 0 || magnitude > 255) {
            clamped = true;
            b[i] = magnitude < 0 ? 0 : 255;
        } else {
            b[i] = static_cast<uint8_t>(magnitude);
        }
    }
    return clamped;
}

void SubBandAnalyser::ProcessSpectrumFFT(spectrum_fft* spec_data) {
    if (ConvertSpectrumToDb(spec_data)) {
        counters.clamped++;
        if (ShouldWarn(counters.clamped)) {
            fprintf(stderr,
                    "Warning!! Sample power outside 0 to -255 dBm (rssi %d) clamped (%llu so "
                    "far)\n",
                    static_cast<int>(spec_data->rssi),
                    static_cast<unsigned long long>(counters.clamped));
        }
    }
}

void SubBandAnalyser::ExtractPulsesFromFFT(const spectrum_fft& fft) {
    AccessPoint* ap = current_ap;
    ap->curr_time = fft.ts;
    ap->curr_freq = static_cast<float>(fft.freq);
    ap->curr_nf = CONST_SAMPLE_NOISE_FLOOR;

    if (ap->start_time == CONST_INVALID_TIME) {
        ap->start_time = ap->curr_time;
        ap->AddNewSubband(ap, ap->curr_time, ap->curr_freq, ap->curr_nf, 0);
    }

    if (CanChangeBand(ap)) {
        ProcessBandChangeEvent(ap->GetCurrentSubband(), ap);
        ap->AddNewSubband(ap, ap->curr_time, ap->curr_freq, ap->curr_nf, 0);
    } else if (ap->prev_time != CONST_INVALID_TIME &&
               ap->curr_time - ap->prev_time > TIME_DIFF_LIMIT) {
        // A gap in the sample stream (or a clock that went backwards) ends
        // every pulse in flight; the subband itself stays open.
        ap->GetCurrentSubband().ProcessBigTimeGapEvent();
    }

    if (ap->prev_time != CONST_INVALID_TIME) {
        const int start = fft.start_index;
        for (int i = 0; i < CONST_NUM_BINS; i++) {
            float_sub_band_rssi_list[i] = static_cast<float>(fft.samples[start + i]);
        }
        ap->GetCurrentSubband().ProcessSubBand(ap->curr_time, ap->curr_freq, ap->curr_nf,
                                               float_sub_band_rssi_list);
        ExternalInterface::UpdateUIFFT(float_sub_band_rssi_list, ap);
    }

    ap->prev_time = fft.ts;
    ap->prev_freq = static_cast<float>(fft.freq);
}

bool SubBandAnalyser::CanChangeBand(const AccessPoint* ap) const {
    if (ap->curr_freq != ap->prev_freq) {
        return true;
    }
    if (CONST_OPERATION_MODE == CONST_OP_MODE_SCAN) {
        return false;
    }
    // The card's clock is 32 bits wide: a time at or before the last change
    // means it wrapped.
    u64 elapsed;
    if (ap->curr_time > ap->last_subband_change_time) {
        elapsed = ap->curr_time - ap->last_subband_change_time;
    } else {
        elapsed = ap->curr_time + MAX_MAC_TIMESTAMP_VAL - ap->last_subband_change_time;
    }
    return elapsed > CONST_SUBBAND_DWELL_TIME_US;
}

void SubBandAnalyser::ProcessBandChangeEvent(SubBand& subband, AccessPoint* ap) {
    ap->SetLastSubbandChangeTime(ap->GetCurrTime());
    if (subband.num_rows < MIN_ROWS_PER_SUBBAND ||
        subband.GetBandDuration() < MIN_SUBBAND_DURATION) {
        ap->RemoveLastSubband();
        return;
    }
    subband.drift_analyser.IsMicrowavePresent();
    subband.drift_analyser.ReleasePeakHistory();
    subband.db_avg_list.clear();
    subband.duty_avg_list.clear();
    for (int b = 0; b < CONST_NUM_BINS; b++) {
        subband.db_avg_list.push_back(
            static_cast<float>(static_cast<double>(subband.db_sum_list[b]) / subband.num_rows));
        subband.duty_avg_list.push_back(
            static_cast<float>(static_cast<double>(subband.duty_sum_list[b]) / subband.num_rows));
    }
    for (RssiPulse& pulse : subband.active_pulses_list) {
        pulse.EndPulse();
    }
    subband.EmptyActivePulsesList();
    ap->IncrementCycleCount();
    CheckForDevices(ap);
}

bool SubBandAnalyser::canCheckMicrowave(const AccessPoint* ap) const {
    return CONST_DBG_CAN_CHECK_MWO != 0 &&
           IsClassifierDue(ap->GetCycleCount(), ap->GetSubbandCount(), ModeSubbandsPerCycle(),
                           MicrowavePeriod());
}

bool SubBandAnalyser::canCheckHighDuty(const AccessPoint* ap) const {
    return CONST_DBG_CAN_CHECK_HIGHDUTY != 0 &&
           IsClassifierDue(ap->GetCycleCount(), ap->GetSubbandCount(), ModeSubbandsPerCycle(),
                           HighDutyPeriod());
}

bool SubBandAnalyser::canCheckFhDevices(const AccessPoint* ap) const {
    return CONST_DBG_CAN_CHECK_FHSS != 0 &&
           IsClassifierDue(ap->GetCycleCount(), ap->GetSubbandCount(), ModeSubbandsPerCycle(),
                           FhPeriod());
}

void SubBandAnalyser::CheckForDevices(AccessPoint* ap) {
    ap->UpdateApState();
    std::list<SubBand>& history = ap->completed_sub_bands_list;
    const u64 per_cycle = ModeSubbandsPerCycle();

    if (canCheckMicrowave(ap)) {
        const auto begin = WindowStart(history, MicrowavePeriod() * per_cycle);
        microwave_analyser->ComputeMetrics(history, begin, ap->mac_address);
    }
    if (canCheckHighDuty(ap)) {
        const auto begin = WindowStart(history, HighDutyPeriod() * per_cycle);
        high_duty_analyzer->ComputeMetrics(history, begin, ap->mac_address);
        if (CONST_OPERATION_MODE == CONST_OP_MODE_SC) {
            for (auto it = begin; it != history.end(); ++it) {
                it->analogphone_tagging_completed = true;
            }
        }
    }
    if (!canCheckFhDevices(ap)) {
        return;
    }
    const u64 window = FhPeriod() * per_cycle;
    const auto begin = WindowStart(history, window);
    std::vector<std::pair<int, int>> filter_list;
    DeviceAnalyzer::ObtainFilterList(filter_list, true);
    ApplyFilterList(history, begin, filter_list);
    if (ActiveRules().oven_needs_on_phases) {
        DiscardOvenPulsesInWindow(history, begin);
    }
    {
        FreqHoppingsDeviceAnalyser hopper(history, begin, input_nkld_distribution_map,
                                          ap->GetMacAddress(), debug_id);
        hopper.BuildFreqHoppingPulseInfo();
        hopper.GetFeatures();
        std::cout << "SubBandAnalyser: subband_list " << ap->GetMacAddress() << " " << window << " "
                  << history.size() << " " << ap->GetCycleCount() << "\n";
        for (auto it = begin; it != history.end(); ++it) {
            it->pulse_tagging_completed = true;
        }
        DeviceAnalyzer::EndInactiveDevices();
        DeviceAnalyzer::PrintDeviceStatus();
    }
    ReleaseAnalysedPulses(history);
}

// Every classifier window is its own period long and ends at the newest
// subband, and the hopper period is a multiple of the others: once the hopper
// pass is done, no later pass of any classifier reaches a subband that is in
// the history now. Their pulse lists, by far the largest part of a busy
// history, are freed; the subbands themselves stay for the history's length.
static_assert(CONST_NUM_CYCLES_FH_DEVICES_SC % CONST_NUM_CYCLES_MICROWAVE_SC == 0 &&
                  CONST_NUM_CYCLES_FH_DEVICES_SC % CONST_NUM_CYCLES_HIGHDUTY_SC == 0 &&
                  CONST_NUM_CYCLES_FH_DEVICES % CONST_NUM_CYCLES_MICROWAVE == 0 &&
                  CONST_NUM_CYCLES_FH_DEVICES % CONST_NUM_CYCLES_HIGHDUTY == 0,
              "pulses may be freed after a hopper pass only if no other window reaches back");

void SubBandAnalyser::DiscardOvenPulsesInWindow(std::list<SubBand>& history,
                                                std::list<SubBand>::iterator begin) {
    for (auto it = begin; it != history.end(); ++it) {
        if (HasOvenOnPhases(*it)) {
            DiscardOvenOnPhasePulses(*it);
        }
    }
}

void SubBandAnalyser::ReleaseAnalysedPulses(std::list<SubBand>& history) {
    for (SubBand& subband : history) {
        std::vector<RssiPulse>().swap(subband.completed_pulses_list);
    }
}

void SubBandAnalyser::ApplyFilterList(std::list<SubBand>& subband_listIn,
                                      std::list<SubBand>::iterator begIt,
                                      const std::vector<std::pair<int, int>>& filter_list) {
    if (filter_list.empty()) {
        return;
    }
    for (auto it = begIt; it != subband_listIn.end(); ++it) {
        SubBand& subband = *it;
        const float freq_offset = subband.curr_freq - CONST_CENTER_FREQUENCIES[0];
        const int offset = static_cast<int>(static_cast<double>(freq_offset) * 3.2);
        for (const auto& [lo, hi] : filter_list) {
            if (hi < offset || lo > offset + 55) {
                continue;
            }
            for (RssiPulse& pulse : subband.completed_pulses_list) {
                if (pulse.IsOverlappingBinRange(lo - offset, hi - offset) &&
                    pulse.get_classification() == PULSE_NONE) {
                    pulse.set_classification(PULSE_DISCARD);
                }
            }
        }
    }
}
