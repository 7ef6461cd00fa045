// The channel visit's average and, beside it, the per-visit spectrum
// occupancy: for every bin, how often it rose above the
// noise floor (-85 dBm) and above the peak threshold (-75 dBm) and its summed
// power, once over all spectra and once leaving out high-energy spectra (more
// than half the bins above the floor, as under a wideband transmission).
#include "channel_visit.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <set>
#include <sstream>

#include "byte_row.h"
#include "host_clock.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr size_t NUM_BINS = CONST_SUBBAND_NUM_BINS;
constexpr float HIGH_ENERGY_FRACTION = 0.5f;

std::set<std::string> unwritable_logs;  // named logs already reported on stderr

// Adds one spectrum's bins to one set of sums; returns the bins above the
// floor. A float row may hold fractions of a dB.
int AccumulateRow(const float* in, int* highduty, int* duty, float* db) {
    int above = 0;
    for (size_t i = 0; i < NUM_BINS; ++i) {
        const float power_dbm = -in[i];
        const int over_floor = power_dbm > CONST_NOISE_FLOOR_RSSI ? 1 : 0;
        duty[i] += over_floor;
        above += over_floor;
        highduty[i] += power_dbm > CONST_MIN_PEAK_THRESHOLD ? over_floor : 0;
        db[i] += power_dbm;
    }
    return above;
}

bool IsHighEnergy(int bins_above_floor) {
    return static_cast<float>(bins_above_floor) / static_cast<float>(NUM_BINS) >
           HIGH_ENERGY_FRACTION;
}

// A bin is above the floor (-85 dBm) when its byte is below 85, and above the
// peak threshold (-75 dBm) when below 75.
static_assert(-CONST_NOISE_FLOOR_RSSI == 85 && -CONST_MIN_PEAK_THRESHOLD == 75,
              "the byte limits below");
constexpr uint8_t kAboveFloorByte = 84;
constexpr uint8_t kAbovePeakByte = 74;

// One byte row into narrow per-bin counters and sums: three straight loops
// that the compiler turns into 16-byte compares and adds (in one loop, it
// merges the two compares into a branch and leaves the loop scalar).
void StageRow(const uint8_t* __restrict row, uint8_t* __restrict duty, uint8_t* __restrict highduty,
              uint16_t* __restrict db) {
    for (size_t i = 0; i < NUM_BINS; ++i) {
        duty[i] = static_cast<uint8_t>(duty[i] + (row[i] <= kAboveFloorByte));
    }
    for (size_t i = 0; i < NUM_BINS; ++i) {
        highduty[i] = static_cast<uint8_t>(highduty[i] + (row[i] <= kAbovePeakByte));
    }
    for (size_t i = 0; i < NUM_BINS; ++i) {
        db[i] = static_cast<uint16_t>(db[i] + row[i]);
    }
}

// Each count followed by "_", written as the stream would write an int.
void AppendGroup(std::ostringstream& line, const std::vector<int>& values) {
    constexpr size_t kMostChars = 12;  // "-2147483648_"
    char text[16 * kMostChars];
    char* end = text;
    for (const int v : values) {
        if (end + kMostChars > text + sizeof(text)) {
            line.write(text, end - text);
            end = text;
        }
        end = std::to_chars(end, end + kMostChars - 1, v).ptr;
        *end++ = '_';
    }
    line.write(text, end - text);
}

// Mean power per bin as a whole positive number of dB below 1 mW; no spectra
// gives zeros.
std::vector<int> MeanMagnitudes(const std::vector<float>& db_sum, int count) {
    std::vector<int> means(NUM_BINS, 0);
    if (count <= 0) {
        return means;
    }
    for (size_t i = 0; i < NUM_BINS; ++i) {
        means[i] = -TruncToIntClamped(db_sum[i] / static_cast<float>(count));
    }
    return means;
}

}  // namespace

SpectrumMeasurement::SpectrumMeasurement() {
    Clear();
}

void SpectrumMeasurement::Clear() {
    totals_.samples = 0;
    totals_.high_energy = 0;
    totals_.highduty.assign(NUM_BINS, 0);
    totals_.duty.assign(NUM_BINS, 0);
    totals_.db.assign(NUM_BINS, 0.0f);
    totals_.highduty_filtered.assign(NUM_BINS, 0);
    totals_.duty_filtered.assign(NUM_BINS, 0);
    totals_.db_filtered.assign(NUM_BINS, 0.0f);
    ClearStaged();
}

void SpectrumMeasurement::ClearStaged() {
    std::memset(staged_, 0, sizeof(staged_));
    staged_count_ = 0;
}

void SpectrumMeasurement::Add(const uint8_t* row_db) {
    const bool high_energy =
        IsHighEnergy(byte_row::CountBits(byte_row::MaskAtMost(row_db, kAboveFloorByte)));
    totals_.samples += 1;
    totals_.high_energy += high_energy ? 1 : 0;
    Staged& staged = staged_[high_energy ? 1 : 0];
    StageRow(row_db, staged.duty, staged.highduty, staged.db);
    if (++staged_count_ == kFoldEvery) {
        FoldInto(totals_);
        ClearStaged();
    }
}

// The byte sums are whole numbers, and so is every partial sum of the float
// totals (far below 2^24), so folding them in gives the very floats that
// adding the spectra one by one would.
void SpectrumMeasurement::FoldInto(Totals& totals) const {
    for (int high_energy = 0; high_energy < 2; ++high_energy) {
        const Staged& staged = staged_[high_energy];
        for (size_t i = 0; i < NUM_BINS; ++i) {
            totals.duty[i] += staged.duty[i];
            totals.highduty[i] += staged.highduty[i];
            totals.db[i] -= static_cast<float>(staged.db[i]);
            if (high_energy == 0) {
                totals.duty_filtered[i] += staged.duty[i];
                totals.highduty_filtered[i] += staged.highduty[i];
                totals.db_filtered[i] -= static_cast<float>(staged.db[i]);
            }
        }
    }
}

void SpectrumMeasurement::Add(const std::vector<float>& row) {
    if (row.size() < NUM_BINS) {
        std::cerr << "Warning... UpdateSpectrumData: spectrum of " << row.size()
                  << " bins dropped\n";
        return;
    }
    Add(row.data());
}

void SpectrumMeasurement::Add(const float* row) {
    Totals& t = totals_;
    t.samples += 1;
    const int above = AccumulateRow(row, t.highduty.data(), t.duty.data(), t.db.data());
    if (IsHighEnergy(above)) {
        t.high_energy += 1;
        return;
    }
    AccumulateRow(row, t.highduty_filtered.data(), t.duty_filtered.data(), t.db_filtered.data());
}

SpectrumMeasurement::Totals SpectrumMeasurement::Sum() const {
    Totals totals = totals_;
    FoldInto(totals);
    return totals;
}

std::string SpectrumMeasurement::BuildSpectrumLine(const timeval& now, u64 current_time,
                                                   float curr_freq) const {
    const Totals t = Sum();
    std::ostringstream line;
    // Six-digit microseconds: 12 us past the second is ".000012", so the times
    // sort and never appear to run backwards.
    line << "SPECTRUM " << now.tv_sec << "." << std::setw(6) << std::setfill('0') << now.tv_usec
         << std::setfill(' ') << " " << current_time << " " << curr_freq << " " << t.samples << " "
         << t.high_energy << " ";
    AppendGroup(line, t.highduty);
    line << " ";
    AppendGroup(line, t.duty);
    line << " ";
    AppendGroup(line, MeanMagnitudes(t.db, t.samples));
    line << " ";
    AppendGroup(line, t.highduty_filtered);
    line << " ";
    AppendGroup(line, t.duty_filtered);
    line << " ";
    AppendGroup(line, MeanMagnitudes(t.db_filtered, t.samples - t.high_energy));
    line << "\n";
    return line.str();
}

void SpectrumMeasurement::WriteSpectrumDataToLog(const std::string& log_file_name, u64 current_time,
                                                 float curr_freq) const {
    timeval now{};
    GetHostTime(&now);
    AppendToLogFile(log_file_name, BuildSpectrumLine(now, current_time, curr_freq));
}

void AppendToLogFile(const std::string& file_name, const std::string& text) {
    if (file_name.empty()) {
        return;  // no log named on the command line
    }
    FILE* file = std::fopen(file_name.c_str(), "a");
    if (file == nullptr) {
        if (unwritable_logs.insert(file_name).second) {
            std::cerr << "Warning... cannot open log file " << file_name
                      << " for appending; its lines are dropped\n";
        }
        return;
    }
    // A full disk shows only here: the write may be buffered, and then the
    // failure surfaces when the file is closed.
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    if (written && closed) {
        unwritable_logs.erase(file_name);  // a later failure is reported again
        return;
    }
    if (unwritable_logs.insert(file_name).second) {
        std::cerr << "Warning... cannot write to log file " << file_name << " (" << strerror(errno)
                  << "); its lines are dropped\n";
    }
}

void ResetLogWarningsForTests() {
    unwritable_logs.clear();
}

int TruncToIntClamped(float value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= static_cast<float>(INT_MAX)) {
        return INT_MAX;
    }
    if (value <= -static_cast<float>(INT_MAX)) {
        return -INT_MAX;
    }
    return static_cast<int>(value);
}

namespace {

constexpr long MIN_REPORTED_VISIT_SAMPLES = 100;  // shorter visits cut by a change are dropped

std::vector<float> visit_sum_mw(NUM_BINS, 0.0f);  // the average once the visit ends
SpectrumMeasurement visit_statistics;
SpectrumMeasurement::Totals reported_statistics;  // what the last record points into
float visit_freq = 0;
long visit_samples = 0;
std::string energy_log_file;

// Power in mW of a bin at v dB below 1 mW, for every whole v a sample byte
// can carry; the same single-precision expression the average would
// otherwise evaluate for every bin of every spectrum.
struct BinPowerTable {
    float mw[256];
    BinPowerTable() {
        for (int v = 0; v < 256; v++) {
            mw[v] = powf(10.0f, -static_cast<float>(v) / 10.0f);
        }
    }
};

const BinPowerTable kBinPower;

float BinPowerMw(float db_below_mw) {
    if (db_below_mw >= 0.0f && db_below_mw < 256.0f) {
        const int whole = static_cast<int>(db_below_mw);
        if (static_cast<float>(whole) == db_below_mw) {
            return kBinPower.mw[whole];
        }
    }
    return powf(10.0f, -db_below_mw / 10.0f);
}

// Used where the vector step below is not built.
[[maybe_unused]] float BinPowerMw(uint8_t db_below_mw) {
    return kBinPower.mw[db_below_mw];
}

template <typename Bin>
void AddPowers(const Bin* row, float* __restrict sum) {
    for (size_t i = 0; i < NUM_BINS; ++i) {
        sum[i] += BinPowerMw(row[i]);
    }
}

#if defined(__SSE2__)
// Four table lookups make one vector, added to four sums at once.
void AddPowers(const uint8_t* row, float* __restrict sum) {
    static_assert(NUM_BINS % 4 == 0, "whole steps of four bins");
    const float* mw = kBinPower.mw;
    for (size_t i = 0; i < NUM_BINS; i += 4) {
        const __m128 power =
            _mm_setr_ps(mw[row[i]], mw[row[i + 1]], mw[row[i + 2]], mw[row[i + 3]]);
        _mm_storeu_ps(sum + i, _mm_add_ps(_mm_loadu_ps(sum + i), power));
    }
}
#endif

void StartVisit(float freq) {
    visit_statistics.Clear();
    visit_freq = freq;
    visit_samples = 0;
    std::fill(visit_sum_mw.begin(), visit_sum_mw.end(), 0.0f);
}

// One spectrum of NUM_BINS values (floats, or whole-dB bytes whose mW
// powers come from a table) into the visit.
template <typename Bin>
void AddRow(const Bin* row, const AccessPoint* ap) {
    const float freq = ap->curr_freq;
    if (freq == visit_freq && visit_samples < NUM_SAMPLES_PER_FFT) {
        AddPowers(row, visit_sum_mw.data());
        ++visit_samples;
        visit_statistics.Add(row);
        return;
    }
    const bool reported = freq == visit_freq || visit_samples > MIN_REPORTED_VISIT_SAMPLES;
    if (reported) {
        const float count = static_cast<float>(visit_samples);
        for (size_t i = 0; i < NUM_BINS; ++i) {
            visit_sum_mw[i] = -10.0f * log10f(visit_sum_mw[i] / count);
        }
        EventSinks::ReportChannelSpectrum(ChannelVisit::Spectrum(ap->GetCurrTime(), visit_freq));
        visit_statistics.WriteSpectrumDataToLog(energy_log_file, ap->GetCurrTime(), visit_freq);
    }
    // The spectrum that ends a visit only restarts the average.
    StartVisit(freq);
}

bool DropsSpectrum(const std::vector<float>& sub_band_rssi_list, const AccessPoint* ap) {
    if (ap == nullptr || sub_band_rssi_list.size() < NUM_BINS) {
        std::cerr << "Warning... UpdateUIFFT: spectrum without access point or with "
                  << sub_band_rssi_list.size() << " bins dropped\n";
        return true;
    }
    return false;
}

}  // namespace

void ChannelVisit::AddSpectrum(const std::vector<float>& sub_band_rssi_list,
                               const AccessPoint* ap) {
    if (!DropsSpectrum(sub_band_rssi_list, ap)) {
        AddRow(sub_band_rssi_list.data(), ap);
    }
}

void ChannelVisit::AddSpectrum(const uint8_t* row_db, const AccessPoint* ap) {
    if (ap == nullptr) {
        std::cerr << "Warning... UpdateUIFFT: spectrum without access point dropped\n";
        return;
    }
    AddRow(row_db, ap);
}

void ChannelVisit::Reset() {
    StartVisit(0);
}

void ChannelVisit::SetEnergyLogFileName(const std::string& log_file_name) {
    energy_log_file = log_file_name;
}
const std::string& ChannelVisit::EnergyLogFileName() {
    return energy_log_file;
}
long ChannelVisit::SampleCount() {
    return visit_samples;
}
float ChannelVisit::Freq() {
    return visit_freq;
}
const SpectrumMeasurement& ChannelVisit::Statistics() {
    return visit_statistics;
}

ChannelSpectrumRecord ChannelVisit::Spectrum(u64 card_time_us, float freq) {
    ChannelSpectrumRecord record;
    record.card_time_us = card_time_us;
    record.freq_mhz = freq;
    record.spectra = visit_samples;
    record.db_below_mw = visit_sum_mw.data();
    record.bins = NUM_BINS;
    // The visit's statistics cover the same spectra as its average.
    reported_statistics = visit_statistics.Sum();
    record.above_noise = reported_statistics.duty.data();
    return record;
}
