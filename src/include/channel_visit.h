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

class SpectrumMeasurement {
public:
    static int num_high_energy_ffts;
    static int num_samples;
    static std::vector<int> ui_highduty_sum;
    static std::vector<int> ui_duty_sum;
    static std::vector<float> ui_db_sum;
    static std::vector<int> ui_highduty_sum_filterhigh;
    static std::vector<int> ui_duty_sum_filterhigh;
    static std::vector<float> ui_db_sum_filterhigh;

    static void ResetSpectrumMeasurements();
    static void UpdateSpectrumData(const std::vector<float>& sub_band_rssi_list);
    static void WriteSpectrumDataToLog(const std::string& log_file_name, u64 current_time,
                                       float curr_freq);
    // The line WriteSpectrumDataToLog appends, for the given host time.
    static std::string BuildSpectrumLine(const timeval& now, u64 current_time, float curr_freq);
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
