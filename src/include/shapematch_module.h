// Spectral shape of a subband's averaged spectrum: candidate transmitter
// bands grown around their peaks, an energy-based width, the duty cycle around
// the peak, and the angle between the spectrum's shape around the peak and
// each known device's stored spectral signatures (0 means identical shape).
// All spectra here are 56 dBm values (negative; larger is stronger).
#ifndef TESSARON_SHAPEMATCH_MODULE_H
#define TESSARON_SHAPEMATCH_MODULE_H

#include <istream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "pulse_class.h"
#include "script_utils_module.h"

class SubBand;

// One device's stored shapes, parsed from one record line of the signature
// file: "<id> <name> <N> (<first> <last> <v,v,...>){N}".
class DeviceSignatures {
public:
    PulseType dev_id;
    int num_shapes;
    std::string dev_name;
    std::vector<std::vector<float>> signature_list;
    std::vector<std::pair<int, int>> offset_list;  // (first, last) bins relative to the peak
    // False when the line holds fewer tokens than its shape count announces
    // (or no id/name/count at all); such a record is never put in service.
    bool valid;

    explicit DeviceSignatures(std::string input_string);

    float GetMinTheta(const std::vector<float>& db_avg_list, int peak_index) const;
    static float GetTheta(const std::vector<float>& reference_specshape,
                          const std::vector<float>& input_specshape);
};

// One candidate band of one subband, judged by the high-duty analysis.
struct HighDutyMetrics {
    SubBand* subband_object = nullptr;
    int norm_cfreq_bin = 0;
    int norm_cfreq_rssi = 0;  // dBm, truncated
    int norm_bw = 0;
    int norm_start_bin = 0;
    int norm_end_bin = 0;
    int weighted_cfreq_bin = 0;
    int weighted_cfreq_rssi = 0;
    int weighted_bw = 0;
    float duty_max = 0.0f;
    float duty_avg = 0.0f;
    std::map<PulseType, float> mintheta_map;  // smallest angle (rad) per device class
};

class ShapeMetrics {
public:
    static std::map<PulseType, DeviceSignatures> shape_map;

    static void InitShapeMetrics(std::string input_file);
    static void ParseSpecShape(std::string spec_file);
    // Replaces the signatures with those of spec_file, read again (on SIGHUP).
    // A file that cannot be opened leaves the loaded signatures in service
    // and puts the reason in *error.
    static bool ReloadShapeMetrics(const std::string& spec_file, std::string* error);
    static void ParseSignatureLines(std::istream& in, const std::string& spec_file);
    // Bands of the averaged spectrum whose peak reaches adaptive_nf, each
    // grown while its bins stay at or above edge_dbm (dBm).
    static void ObtainShapeMetrics(const std::vector<float>& db_avg_list,
                                   const std::vector<float>& duty_avg_list, int adaptive_nf,
                                   std::vector<HighDutyMetrics>& highdutymetrics_list,
                                   float edge_dbm = CONST_NF_HIGHDUTY);
    static void ObtainPeakPowerIndices(const std::vector<float>& avg_rssi_list, int adaptive_nf,
                                       std::vector<std::vector<int>>& peakRssIndexList,
                                       float edge_dbm = CONST_NF_HIGHDUTY);
    static int GetPeakRssiIndexInRange(const std::vector<float>& rssi_list, int start, int end);
    static void GetInterestingBand(const std::vector<float>& rssi_list, float peak_rssi,
                                   int peak_index, int& start_index, int& end_index,
                                   float edge_dbm = CONST_NF_HIGHDUTY);
    static void determineSimpleBand(int minval, int maxval, int peakval,
                                    const std::vector<float>& rssi_list, float& subbandBandwidth);
    static std::pair<float, float> GetDutyInformation(const std::vector<float>& avg_duty_list,
                                                      int peak_index);

    // Whether index lies outside every [start, end] band found so far.
    static bool IsNewPeak(std::vector<std::vector<int>>& pulse_start_end_tuple_list, int index);
    // Strongest first (dBm: larger is stronger).
    static bool MyCompFunc(std::pair<int, float> p1, std::pair<int, float> p2);

    // Forgets all parsed signatures.
    static void ResetForTests();
};

#endif
