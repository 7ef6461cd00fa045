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

timeval currentUnixTime{0, 0};
std::set<std::string> unwritable_logs;  // named logs already reported on stderr

// Adds one spectrum's bins to one set of sums; returns the bins above the
// floor. Plain arrays and selects let the compiler vectorise it. A byte row
// holds the same whole numbers as a float row, and the sums come out the same.
template <typename Bin>
int AccumulateRow(const Bin* __restrict in, int* __restrict highduty, int* __restrict duty,
                  float* __restrict db) {
    int above = 0;
    for (size_t i = 0; i < NUM_BINS; ++i) {
        const float power_dbm = -static_cast<float>(in[i]);
        const int over_floor = power_dbm > CONST_NOISE_FLOOR_RSSI ? 1 : 0;
        duty[i] += over_floor;
        above += over_floor;
        highduty[i] += power_dbm > CONST_MIN_PEAK_THRESHOLD ? over_floor : 0;
        db[i] += power_dbm;
    }
    return above;
}

template <typename Bin>
float AccumulateBins(const Bin* row, std::vector<int>& highduty_sum, std::vector<int>& duty_sum,
                     std::vector<float>& db_sum) {
    return static_cast<float>(
        AccumulateRow(row, highduty_sum.data(), duty_sum.data(), db_sum.data()));
}

template <typename Bin>
void AccumulateSpectrum(const Bin* row) {
    using M = SpectrumMeasurement;
    M::num_samples += 1;
    const float above = AccumulateBins(row, M::ui_highduty_sum, M::ui_duty_sum, M::ui_db_sum);
    if (above / static_cast<float>(NUM_BINS) > HIGH_ENERGY_FRACTION) {
        M::num_high_energy_ffts += 1;
        return;
    }
    AccumulateBins(row, M::ui_highduty_sum_filterhigh, M::ui_duty_sum_filterhigh,
                   M::ui_db_sum_filterhigh);
}

#if defined(__SSE2__)
// The same for a byte row. Whether the spectrum is a high-energy one is
// known first, from a mask of its bins above the floor, so that one pass
// of eight bins a step adds to both sets of sums. A bin is above the floor
// (-85 dBm) when its byte is below 85 and above the peak threshold when
// below 75; its power is the byte negated, so the float sums take the byte
// away. A compare gives -1 where true, so the counts subtract it.
void AccumulateSpectrum(const uint8_t* row) {
    using M = SpectrumMeasurement;
    static_assert(NUM_BINS % 8 == 0, "whole steps of eight bins");
    static_assert(-CONST_NOISE_FLOOR_RSSI == 85 && -CONST_MIN_PEAK_THRESHOLD == 75,
                  "the byte limits below");
    M::num_samples += 1;
    const float above = static_cast<float>(__builtin_popcountll(byte_row::MaskAtMost(row, 84)));
    const bool high_energy = above / static_cast<float>(NUM_BINS) > HIGH_ENERGY_FRACTION;
    M::num_high_energy_ffts += high_energy ? 1 : 0;

    const __m128i zero = _mm_setzero_si128();
    const __m128i floor_byte = _mm_set1_epi16(85);
    const __m128i peak_byte = _mm_set1_epi16(75);
    const auto subtract = [](int* counts, __m128i flags16) {
        __m128i* at = reinterpret_cast<__m128i*>(counts);
        _mm_storeu_si128(at,
                         _mm_sub_epi32(_mm_loadu_si128(at), _mm_unpacklo_epi16(flags16, flags16)));
        _mm_storeu_si128(
            at + 1, _mm_sub_epi32(_mm_loadu_si128(at + 1), _mm_unpackhi_epi16(flags16, flags16)));
    };
    const auto take_away = [](float* sums, __m128 low, __m128 high) {
        _mm_storeu_ps(sums, _mm_sub_ps(_mm_loadu_ps(sums), low));
        _mm_storeu_ps(sums + 4, _mm_sub_ps(_mm_loadu_ps(sums + 4), high));
    };
    for (size_t i = 0; i < NUM_BINS; i += 8) {
        const __m128i bytes =
            _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + i)), zero);
        const __m128i over_floor = _mm_cmplt_epi16(bytes, floor_byte);
        const __m128i over_peak = _mm_cmplt_epi16(bytes, peak_byte);
        const __m128 low = _mm_cvtepi32_ps(_mm_unpacklo_epi16(bytes, zero));
        const __m128 high = _mm_cvtepi32_ps(_mm_unpackhi_epi16(bytes, zero));
        subtract(M::ui_duty_sum.data() + i, over_floor);
        subtract(M::ui_highduty_sum.data() + i, over_peak);
        take_away(M::ui_db_sum.data() + i, low, high);
        if (!high_energy) {
            subtract(M::ui_duty_sum_filterhigh.data() + i, over_floor);
            subtract(M::ui_highduty_sum_filterhigh.data() + i, over_peak);
            take_away(M::ui_db_sum_filterhigh.data() + i, low, high);
        }
    }
}
#endif

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

int SpectrumMeasurement::num_high_energy_ffts = 0;
int SpectrumMeasurement::num_samples = 0;
std::vector<int> SpectrumMeasurement::ui_highduty_sum(NUM_BINS, 0);
std::vector<int> SpectrumMeasurement::ui_duty_sum(NUM_BINS, 0);
std::vector<float> SpectrumMeasurement::ui_db_sum(NUM_BINS, 0.0f);
std::vector<int> SpectrumMeasurement::ui_highduty_sum_filterhigh(NUM_BINS, 0);
std::vector<int> SpectrumMeasurement::ui_duty_sum_filterhigh(NUM_BINS, 0);
std::vector<float> SpectrumMeasurement::ui_db_sum_filterhigh(NUM_BINS, 0.0f);

void SpectrumMeasurement::ResetSpectrumMeasurements() {
    num_high_energy_ffts = 0;
    num_samples = 0;
    ui_highduty_sum.assign(NUM_BINS, 0);
    ui_duty_sum.assign(NUM_BINS, 0);
    ui_db_sum.assign(NUM_BINS, 0.0f);
    ui_highduty_sum_filterhigh.assign(NUM_BINS, 0);
    ui_duty_sum_filterhigh.assign(NUM_BINS, 0);
    ui_db_sum_filterhigh.assign(NUM_BINS, 0.0f);
}

void SpectrumMeasurement::UpdateSpectrumData(const std::vector<float>& sub_band_rssi_list) {
    if (sub_band_rssi_list.size() < NUM_BINS) {
        std::cerr << "Warning... UpdateSpectrumData: spectrum of " << sub_band_rssi_list.size()
                  << " bins dropped\n";
        return;
    }
    AccumulateSpectrum(sub_band_rssi_list.data());
}

std::string SpectrumMeasurement::BuildSpectrumLine(const timeval& now, u64 current_time,
                                                   float curr_freq) {
    std::ostringstream line;
    // Six-digit microseconds: 12 us past the second is ".000012", so the times
    // sort and never appear to run backwards.
    line << "SPECTRUM " << now.tv_sec << "." << std::setw(6) << std::setfill('0') << now.tv_usec
         << std::setfill(' ') << " " << current_time << " " << curr_freq << " " << num_samples
         << " " << num_high_energy_ffts << " ";
    AppendGroup(line, ui_highduty_sum);
    line << " ";
    AppendGroup(line, ui_duty_sum);
    line << " ";
    AppendGroup(line, MeanMagnitudes(ui_db_sum, num_samples));
    line << " ";
    AppendGroup(line, ui_highduty_sum_filterhigh);
    line << " ";
    AppendGroup(line, ui_duty_sum_filterhigh);
    line << " ";
    AppendGroup(line, MeanMagnitudes(ui_db_sum_filterhigh, num_samples - num_high_energy_ffts));
    line << "\n";
    return line.str();
}

void SpectrumMeasurement::WriteSpectrumDataToLog(const std::string& log_file_name, u64 current_time,
                                                 float curr_freq) {
    GetHostTime(&currentUnixTime);
    AppendToLogFile(log_file_name, BuildSpectrumLine(currentUnixTime, current_time, curr_freq));
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
    SpectrumMeasurement::ResetSpectrumMeasurements();
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
        AccumulateSpectrum(row);
        return;
    }
    const bool reported = freq == visit_freq || visit_samples > MIN_REPORTED_VISIT_SAMPLES;
    if (reported) {
        const float count = static_cast<float>(visit_samples);
        for (size_t i = 0; i < NUM_BINS; ++i) {
            visit_sum_mw[i] = -10.0f * log10f(visit_sum_mw[i] / count);
        }
        EventSinks::ReportChannelSpectrum(ChannelVisit::Spectrum(ap->GetCurrTime(), visit_freq));
        SpectrumMeasurement::WriteSpectrumDataToLog(energy_log_file, ap->GetCurrTime(), visit_freq);
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

ChannelSpectrumRecord ChannelVisit::Spectrum(u64 card_time_us, float freq) {
    ChannelSpectrumRecord record;
    record.card_time_us = card_time_us;
    record.freq_mhz = freq;
    record.spectra = visit_samples;
    record.db_below_mw = visit_sum_mw.data();
    record.bins = NUM_BINS;
    // The visit's statistics cover the same spectra as its average.
    if (SpectrumMeasurement::ui_duty_sum.size() == NUM_BINS) {
        record.above_noise = SpectrumMeasurement::ui_duty_sum.data();
    }
    return record;
}
