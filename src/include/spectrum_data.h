// Per-bin occupancy and power statistics over one channel visit, written as
// one "SPECTRUM" line of the energy log when the visit is reported.
#ifndef TESSARON_SPECTRUM_DATA_H
#define TESSARON_SPECTRUM_DATA_H

#include <sys/time.h>

#include <string>
#include <vector>

#include "script_utils_module.h"

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
