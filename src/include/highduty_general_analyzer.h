// Fixed-frequency transmitters that occupy the air almost all the time:
// analog cordless phones (narrow, near-100 % duty FM carriers), wireless video
// senders (wide, continuous) and unknown high-duty emitters.
#ifndef TESSARON_HIGHDUTY_GENERAL_ANALYZER_H
#define TESSARON_HIGHDUTY_GENERAL_ANALYZER_H

#include <list>
#include <string>
#include <vector>

#include "pulse_class.h"
#include "shapematch_module.h"
#include "subband_class.h"

class FixedFreqInterferer;
struct AverageFloors;

class HighDutyAnalyzer {
public:
    int debug_id;  // bit 1 selects the feature-line label

    explicit HighDutyAnalyzer(int debug_id);

    void ComputeMetrics(std::list<SubBand>& subband_list,
                        std::list<SubBand>::iterator beginIt) const;
    bool IsAnalogphonePresent(const HighDutyMetrics& highduty_metrics,
                              float& mintheta_analog) const;
    bool IsVideocamPresent(const HighDutyMetrics& highduty_metrics, float& mintheta_videocam) const;
    void PrintMetrics(const SubBand& subband, const HighDutyMetrics& highduty_metrics) const;
    void AddDetectedDevice(const HighDutyMetrics& highduty_metrics, SubBand& subband_object,
                           std::vector<FixedFreqInterferer>& devices, PulseType dev_id) const;
    void HandleNewInstance(std::vector<FixedFreqInterferer>& devices,
                           const FixedFreqInterferer& new_device) const;
    void ConsolidateNewDevices(const std::vector<FixedFreqInterferer>& devices,
                               std::vector<FixedFreqInterferer>& new_devices) const;

private:
    // Refined consolidation: one device per chain of overlapping sightings.
    void ConsolidateChains(const std::vector<FixedFreqInterferer>& devices,
                           std::vector<FixedFreqInterferer>& new_devices) const;
    static void PrintFinalDevices(const std::vector<FixedFreqInterferer>& new_devices);
    // Judges every candidate band of one subband; detections go to devices
    // and their bins are filtered from the subband. Continuous bands left to
    // a neighbouring view as its emitter's skirt go to skirts.
    void JudgeSubband(SubBand& subband, std::vector<FixedFreqInterferer>& devices,
                      std::vector<FixedFreqInterferer>& skirts) const;
    // A skirt overlapping a device named from another view is that device
    // seen from the skirt's view: the view counts towards its confirmation,
    // while its band and power stay those of the named sightings.
    void CountSkirtViews(const std::vector<FixedFreqInterferer>& skirts,
                         std::vector<FixedFreqInterferer>& devices) const;
    // The class of one candidate band, PULSE_NONE for none, with the line
    // that announces it. db_avg_list is the subband's mean spectrum (dBm);
    // continuous tells whether the band is on the air all the time.
    PulseType Decide(const HighDutyMetrics& m, const std::vector<float>& db_avg_list,
                     const AverageFloors& floors, bool continuous, const char** message) const;
};

#endif
