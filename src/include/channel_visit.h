// One visit of the card to a channel: the spectra received between two
// frequency changes are averaged (mean power in mW per bin, turned back into
// dB) for the UI, and their per-bin occupancy and power statistics are kept
// for one "SPECTRUM" line of the energy log. Both are reported when the visit
// ends.
#ifndef TESSARON_CHANNEL_VISIT_H
#define TESSARON_CHANNEL_VISIT_H

#include <sys/time.h>

#include <cstdint>
#include <string>
#include <vector>

#include "access_point.h"
#include "event_sink.h"
#include "script_utils_module.h"

inline constexpr long NUM_SAMPLES_PER_FFT = 1000;  // most spectra in one channel event

// The energy-log statistics of one channel visit: for every bin, how many
// spectra rose above the noise floor (-85 dBm) and above the peak threshold
// (-75 dBm), and the summed power, once over all spectra and once leaving
// out high-energy ones (more than half the bins above the floor, as under a
// wideband transmission).
class SpectrumMeasurement {
public:
    // The figures of the spectra added so far.
    struct Totals {
        int samples = 0;
        int high_energy = 0;
        std::vector<int> highduty;
        std::vector<int> duty;
        std::vector<float> db;  // summed power, dBm
        // The same leaving out high-energy spectra.
        std::vector<int> highduty_filtered;
        std::vector<int> duty_filtered;
        std::vector<float> db_filtered;
    };

    SpectrumMeasurement();
    // One spectrum of CONST_SUBBAND_NUM_BINS whole-dB bytes (dB below 1 mW).
    void Add(const uint8_t* row_db);
    // The same held as floats, which may carry fractions of a dB.
    void Add(const float* row);
    // The same; a spectrum of fewer bins is dropped with a warning.
    void Add(const std::vector<float>& row);
    void Clear();
    Totals Sum() const;
    // The line WriteSpectrumDataToLog appends, for the given host time.
    std::string BuildSpectrumLine(const timeval& now, u64 current_time, float curr_freq) const;
    void WriteSpectrumDataToLog(const std::string& log_file_name, u64 current_time,
                                float curr_freq) const;

private:
    // Byte rows are counted and summed in narrow per-bin counters, one set
    // for ordinary and one for high-energy spectra, and folded into the
    // totals at most every kFoldEvery spectra and when the totals are read:
    // one set of small additions a spectrum. Padded to whole vectors.
    static constexpr int kPaddedBins = 64;
    static constexpr int kFoldEvery = 255;  // a byte count, and 255 * 255 in 16 bits
    struct Staged {
        alignas(16) uint8_t duty[kPaddedBins];
        alignas(16) uint8_t highduty[kPaddedBins];
        alignas(16) uint16_t db[kPaddedBins];  // byte sums: power with its sign taken off
    };
    void FoldInto(Totals& totals) const;
    void ClearStaged();

    Totals totals_;
    Staged staged_[2];  // [0] ordinary spectra, [1] high-energy ones
    int staged_count_ = 0;
};

// The average the UI is sent. A visit ends at the first spectrum on another
// frequency, or at the spectrum after NUM_SAMPLES_PER_FFT; a visit cut short
// by a frequency change is reported only if it averaged more than 100.
class ChannelVisit {
public:
    // Adds one spectrum (56 values, dB below 1 mW) taken at ap's current
    // time and frequency; a spectrum that ends a visit reports the visit and
    // starts the next one without being counted.
    static void AddSpectrum(const std::vector<float>& sub_band_rssi_list, const AccessPoint* ap);
    // The same for a row of CONST_SUBBAND_NUM_BINS whole-dB bytes, as the
    // receive path holds it: a table lookup per bin gives its power.
    static void AddSpectrum(const uint8_t* row_db, const AccessPoint* ap);
    // Zeros the average and forgets the visit (start-up, and tests).
    static void Reset();
    static void SetEnergyLogFileName(const std::string& log_file_name);
    static const std::string& EnergyLogFileName();

    static long SampleCount();
    static float Freq();
    // The energy-log statistics of the visit so far.
    static const SpectrumMeasurement& Statistics();
    // The record of the visit's average as it stands, dated card_time_us.
    static ChannelSpectrumRecord Spectrum(u64 card_time_us, float freq);
};

// Appends text to a log file (opened and closed per write). An empty name is
// silent; a named file that cannot be opened is reported once on stderr.
void AppendToLogFile(const std::string& file_name, const std::string& text);
// Truncates toward zero; NaN gives 0 and values beyond the int range (an
// averaged bin that underflowed to no power at all) are clamped to
// +-INT_MAX instead of being undefined.
int TruncToIntClamped(float value);
// Forgets which log files have already been reported as unwritable.
void ResetLogWarningsForTests();

#endif
