#include "subband_analyser_class.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "channel_visit.h"
#include "classifier_table.h"
#include "highduty_general_analyzer.h"
#include "microwave_analyser.h"
#include "oven_on_phase.h"
#include "pipeline_class_module.h"
#include "rule_set.h"
#include "shapematch_module.h"

namespace {

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

constexpr float CONST_SAMPLE_NOISE_FLOOR = 95.0f;

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

SubBandAnalyser::SubBandAnalyser(std::string output_file, u64 num_lines, std::string spec_file,
                                 int debug_id)
    : output_file(std::move(output_file)),
      num_lines(num_lines),
      high_duty_analyzer(nullptr),
      microwave_analyser(nullptr),
      current_ap(nullptr),
      debug_id(debug_id),
      listen_addr(),
      datagram() {
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
    counters.samples += static_cast<u64>(count);
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

namespace {

// The sum of the squared magnitudes of the subband's bins. Summing them one
// by one in single precision (through double) keeps every partial sum exact:
// they are whole numbers below 56 * 255^2 < 2^24. So the integer sum is the
// same.
uint32_t SumOfSquares(const uint8_t* bins) {
    uint32_t sum = 0;
    int i = 0;
#if defined(__SSE2__)
    // Eight squares a step, summed in pairs into four lanes.
    const __m128i zero = _mm_setzero_si128();
    __m128i sums = zero;
    for (; i + 8 <= CONST_SUBBAND_NUM_BINS; i += 8) {
        const __m128i words =
            _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bins + i)), zero);
        sums = _mm_add_epi32(sums, _mm_madd_epi16(words, words));
    }
    sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, _MM_SHUFFLE(1, 0, 3, 2)));
    sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, _MM_SHUFFLE(2, 3, 0, 1)));
    sum = static_cast<uint32_t>(_mm_cvtsi128_si32(sums));
#endif
    for (; i < CONST_SUBBAND_NUM_BINS; i++) {
        sum += static_cast<uint32_t>(bins[i]) * bins[i];
    }
    return sum;
}

// Turns the row's magnitudes in place into power bytes: a bin's power is
// rssi_dbm + 20 log10(magnitude) - total_db, in whole dB below 1 mW. A byte
// holds 0 to -255 dBm; beyond that, keeping only the low 8 bits would turn a
// very weak bin into a strong one and the reverse, so out-of-range powers
// saturate instead. True when one did.
bool MagnitudesToPowerBytes(uint8_t* row, float rssi_dbm, float total_db) {
    const MagnitudeDbTable& table = MagnitudeDb();
    int out_of_range = 0;
    int i = 0;
#if defined(__SSE2__)
    // Eight bins a step: the same single-precision sums, truncation and
    // negation, four bins per instruction. The two saturating packs clamp the
    // magnitude to 0..255; a magnitude needs clamping when anything is left
    // above its low 8 bits (a negative one has all of them set).
    const __m128 rssi_v = _mm_set1_ps(rssi_dbm);
    const __m128 total_v = _mm_set1_ps(total_db);
    const __m128i zero = _mm_setzero_si128();
    __m128i beyond = zero;
    const auto magnitudes = [&](const uint8_t* at) {
        const __m128 db =
            _mm_setr_ps(table.db[at[0]], table.db[at[1]], table.db[at[2]], table.db[at[3]]);
        const __m128 power = _mm_sub_ps(_mm_add_ps(rssi_v, db), total_v);
        const __m128i magnitude = _mm_sub_epi32(zero, _mm_cvttps_epi32(power));
        beyond = _mm_or_si128(beyond, _mm_srai_epi32(magnitude, 8));
        return magnitude;
    };
    for (; i + 8 <= CONST_SUBBAND_NUM_BINS; i += 8) {
        const __m128i low = magnitudes(row + i);
        const __m128i high = magnitudes(row + i + 4);
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(low, high), zero);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(row + i), bytes);
    }
    out_of_range = _mm_movemask_epi8(_mm_cmpeq_epi32(beyond, zero)) != 0xffff;
#endif
    for (; i < CONST_SUBBAND_NUM_BINS; i++) {
        const float power = rssi_dbm + table.db[row[i]] - total_db;
        const int magnitude = -static_cast<int>(power);
        out_of_range |= magnitude < 0 || magnitude > 255;
        row[i] = static_cast<uint8_t>(std::clamp(magnitude, 0, 255));
    }
    return out_of_range != 0;
}

}  // namespace

bool ConvertSpectrumToDb(spectrum_fft* spec_data) {
    uint8_t* b = spec_data->samples;
    spec_data->start_index = CONST_FIRST_BIN;
    b[0] = 0;
    b[1] = 0;
    b[CONST_DC_BIN] = static_cast<uint8_t>(
        (static_cast<unsigned>(b[CONST_DC_BIN - 1]) + static_cast<unsigned>(b[CONST_DC_BIN + 1])) /
        2);
    uint8_t* row = b + CONST_FIRST_BIN;
    const float sum_sq = static_cast<float>(SumOfSquares(row));
    const float total_db = sum_sq > 0 ? 10 * log10f(sum_sq) : 0.0f;
    const float rssi_dbm = static_cast<float>(spec_data->rssi - 95);
    return MagnitudesToPowerBytes(row, rssi_dbm, total_db);
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
        std::copy_n(fft.samples + fft.start_index, CONST_SUBBAND_NUM_BINS, row_db.begin());
        ap->GetCurrentSubband().ProcessSubBand(ap->curr_time, ap->curr_freq, ap->curr_nf, row_db);
        ChannelVisit::AddSpectrum(row_db.data(), ap);
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
    const std::vector<float> db_sums = subband.DbSums();
    const std::vector<float> duty_sums = subband.DutySums();
    for (int b = 0; b < CONST_SUBBAND_NUM_BINS; b++) {
        subband.db_avg_list.push_back(
            static_cast<float>(static_cast<double>(db_sums[b]) / subband.num_rows));
        subband.duty_avg_list.push_back(
            static_cast<float>(static_cast<double>(duty_sums[b]) / subband.num_rows));
    }
    subband.EndActivePulses();
    // The list grew by doubling while the subband was open; a closed
    // subband's pulses only wait for the passes, so the slack goes.
    subband.completed_pulses_list.shrink_to_fit();
    ap->IncrementCycleCount();
    CheckForDevices(ap);
}

void SubBandAnalyser::CheckForDevices(AccessPoint* ap) {
    ap->UpdateApState();
    RunDueClassifiers(*this, *ap);
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
        const int offset = BinFrameOffset(subband.curr_freq, CONST_CENTER_FREQUENCIES[0]);
        for (const auto& [lo, hi] : filter_list) {
            if (hi < offset || lo > offset + CONST_SUBBAND_LAST_BIN) {
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
