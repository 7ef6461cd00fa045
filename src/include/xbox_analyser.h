// Xbox console detection: a hopper whose pulses are exactly 4 bins wide and
// last 227/228 or 342/343 us, present in numbers and not concentrated on one
// frequency.
#ifndef TESSARON_XBOX_ANALYSER_H
#define TESSARON_XBOX_ANALYSER_H

#include <list>
#include <map>
#include <vector>

#include "fhss_general_analyser.h"
#include "script_utils_module.h"
#include "subband_class.h"

class XboxAnalyser {
public:
    std::list<SubBand>& subband_list;
    std::list<SubBand>::iterator beginIt;
    std::map<float, float> count_pulses_per_subband;
    std::map<float, u64> subband_dwell_time;
    std::map<float, int> subband_count;
    std::map<float, float> subband_average_movement;
    RealIntMap count_xbox_pulses_perfreq;
    float total_candidates;
    int debug_id;

    // Refined: the slot clock of a voice link in the window (the starts of
    // its pairs' first packets, in time order); empty without one.
    std::vector<u64> voice_pair_starts;
    // Refined: the starts of the bursts an FHSS phone's pair search tagged
    // in the window, in time order; empty without a phone.
    std::vector<u64> phone_burst_starts;

    XboxAnalyser(std::list<SubBand>& subband_list, std::list<SubBand>::iterator beginIt,
                 int debug_id);
    XboxAnalyser(const XboxAnalyser&) = delete;
    XboxAnalyser& operator=(const XboxAnalyser&) = delete;

    void GetFeatures();
    int BuildXboxNewTypeInfo(PowerTuple& tuple);
    // Share of the window's bins x dwell time no continuous emitter holds
    // (1 for a window without measured duty).
    static double ClearViewShare(const std::list<SubBand>& subband_list,
                                 std::list<SubBand>::const_iterator beginIt);
    // The voice link's reserved interval (us): the longer of 6 and 4
    // slots that most spacings between its neighbouring pairs are whole
    // multiples of; 0 when none fits.
    static u64 VoiceLinkInterval(const std::vector<u64>& pair_starts, float sample_interval_us);
    // Refined: whether the pairs are those of a link that retransmits in
    // the slots after its reserved pair (eSCO): three quarters of the
    // spacings of neighbouring pairs lie on the 625 us slot grid. Asked
    // only where no single reserved interval fits.
    static bool IsRetransmittingLink(const std::vector<u64>& pair_starts, float sample_interval_us);
    // A packet starting at `start` lies in the link's master or slave slot,
    // in phase with the nearest pair in time.
    static bool InVoiceLinkSlot(u64 start, const std::vector<u64>& pair_starts,
                                u64 link_interval_us, float sample_interval_us);
    // Bins x dwell time (us) of each view (whole MHz) over the window that no
    // continuous emitter holds; a subband without measured duty counts whole.
    static std::map<float, double> ClearSpectrumPerView(const std::list<SubBand>& subband_list,
                                                        std::list<SubBand>::const_iterator beginIt);
    // The candidates are spread like a hopper's, under the rules in force;
    // max_pulse_pdf is the busiest view's share.
    bool IsHopperSpread(float max_pulse_pdf) const;
    // Enough controller packets for a console, under the rules in force.
    bool EnoughPulses(int pulse_count) const;
    void DecisionTree(PowerTuple tuple, unsigned long long device_start_time,
                      unsigned long long device_end_time, float xbox_pulses,
                      float pc_nonzero_xbox_bins, float mean_count, float stddev_count);
};

#endif
