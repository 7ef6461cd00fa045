// Drift record of one subband: where the strongest bin of every row lies, cut
// into episodes whose peak frequency drifts, with sweep lengths and the spread
// of episode start phases modulo one 60 Hz mains period.
#ifndef TESSARON_DRIFT_ANALYSER_H
#define TESSARON_DRIFT_ANALYSER_H

#include <utility>
#include <vector>

#include "pulse_class.h"
#include "script_utils_module.h"

class SubBand;

inline constexpr int CONST_MWO_PERIOD = 16678;  // us, one 60 Hz mains cycle
inline constexpr u32 MIN_VALID_READINGS = 10;

// One sweeping oven on-phase: its card times and the bins its peak crossed.
struct OvenOnPhaseSpan {
    u64 start;
    u64 end;
    int low_bin;
    int high_bin;
};

struct PeakRssiHistoryStruct {
    u64 diffTime;
    int index;  // -1: a row without a peak
    float rssi;
    // Whether the peak is a narrow line standing clear of its neighbours
    // (always, unless the rules look at the row's shape).
    bool line = true;
};

class DriftAnalyser {
public:
    u64 start_time;
    u64 end_time;
    u64 band_start;
    SubBand* parent;
    float subband_center_freq;  // kHz
    // Strongest bin of every row, until the closed subband is evaluated.
    std::vector<PeakRssiHistoryStruct> peak_rssi_history;
    u32 num_drift_instances;
    int count_sweep_length;
    int avg_sweep_freq;
    int avg_sweep_lengths;
    int max_sweep_length;
    float stdev_on_start_times;
    float stdev_on_drift_times;
    u32 num_on_pulses;
    float peak_rssi;
    int peak_index;
    // Refined rules: the sweeping oven on-phases of the subband, and whether
    // they repeat at the mains period.
    std::vector<OvenOnPhaseSpan> oven_on_phase_spans;
    bool oven_mains_gated = false;

    DriftAnalyser(u64 start_time_in, float subband_center_freq_in, SubBand* parent_in);

    void UpdateDriftAnalyser(u64 curr_time, const std::vector<float>& rssi_list);
    // The same for a row held as whole-dB bytes.
    void UpdateDriftAnalyser(u64 curr_time, const RssiPulse::Profile& row_db);
    void IsMicrowavePresent();
    // Weakest row peak (positive dB below 1 mW) the history records.
    float RowPeakLimit() const;
    // Frees the row history once the closed subband has been evaluated: the
    // classifiers read only the measured fields, never the rows.
    void ReleasePeakHistory();
    void ComputeDriftInstances();
    bool IsDrift(const std::vector<PeakRssiHistoryStruct>& temp_peak_rssi_history);
    void MaxSweepLength(const std::vector<PeakRssiHistoryStruct>& temp_peak_rssi_history,
                        int& max_sweep_length, int& sweep_freq);

private:
    std::vector<u64> DriftEpisodeStarts();
    void CloseEpisode(const std::vector<PeakRssiHistoryStruct>& episode, u64 episode_start,
                      std::vector<u64>* drift_starts);
    void MeasureStartPhaseSpread(const std::vector<u64>& drift_starts);
    void AverageAndPrintSweeps();
    // Records the row's strongest bin (min_index -1: an empty row).
    void RecordRowPeak(u64 curr_time, int min_index, float min_value, bool line);
};

long long modifiedMod(long long number, long modulus);

#endif
