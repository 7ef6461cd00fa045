// The orchestrator of the analysis: takes spectrum datagrams, converts each
// sample's raw FFT magnitudes to per-bin power, cuts the stream into subbands
// (a new channel, or a time slice of 110 ms in single-channel mode), closes
// subbands and schedules the classifiers over the subband history.
#ifndef TESSARON_SUBBAND_ANALYSER_CLASS_H
#define TESSARON_SUBBAND_ANALYSER_CLASS_H

#include <netinet/in.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "access_point.h"
#include "classifier_table.h"
#include "fft_data.h"
#include "fhss_general_analyser.h"
#include "receive_loop.h"
#include "script_utils_module.h"

class HighDutyAnalyzer;
class MicrowaveAnalyser;

// MAC address of the one sensing radio; any fixed address serves, the
// mapping file may give it a name.
inline const std::string CONST_DEFAULT_AP_MAC = "00:0e:8e:30:9c:04";
// Converts one report's raw FFT magnitudes in place into per-bin power in
// whole dB below 1 mW (samples[2..57]; the DC spur replaced by its
// neighbours' mean). True when a bin's power fell outside 0 to -255 dBm and
// was saturated.
bool ConvertSpectrumToDb(spectrum_fft* spec_data);

// What the receive path has seen, for the end-of-run summary.
struct DatagramCounters {
    u64 received = 0;
    u64 used = 0;
    u64 samples = 0;  // samples of the used datagrams
    u64 wrong_size = 0;
    u64 bad_count = 0;
    u64 off_centre = 0;      // samples dropped: not on a channel centre frequency
    u64 time_repeats = 0;    // samples with the previous sample's time
    u64 time_backwards = 0;  // samples earlier than the previous one (not a wrap)
    u64 clock_wraps = 0;     // the card's 32-bit clock started over
    u64 clamped = 0;         // samples with a bin power outside 0 to -255 dBm
};

class SubBandAnalyser {
public:
    std::string output_file;
    u64 num_lines;
    HighDutyAnalyzer* high_duty_analyzer;
    MicrowaveAnalyser* microwave_analyser;
    NkldDistMap input_nkld_distribution_map;
    std::string reference_mac;
    std::map<std::string, AccessPoint*> access_point_map;
    std::map<std::string, std::string> access_point_name_map;
    AccessPoint* current_ap;
    int debug_id;

    SubBandAnalyser(std::string output_file, u64 num_lines, std::string spec_file, int debug_id);
    ~SubBandAnalyser();
    SubBandAnalyser(const SubBandAnalyser&) = delete;
    SubBandAnalyser& operator=(const SubBandAnalyser&) = delete;

    void GetApInformation();
    void GetApInformation(const std::string& mapping_file);

    // The receive loop (receive_loop.cpp): binds the spectrum socket and
    // feeds every datagram to ProcessDatagram until RequestStop() is called
    // (from a signal handler, for instance). False, after a message on
    // stderr, when the socket cannot be bound.
    bool ReadDataFromNetwork();
    // Runs on the receive thread before each receive and after a signal
    // interrupts one: the safe point for work a signal asked for.
    void SetBetweenDatagrams(std::function<void()> hook) { between_datagrams = std::move(hook); }
    void SetListenAddress(const sockaddr_in& addr) { listen_addr = addr; }
    const sockaddr_in& GetListenAddress() const { return listen_addr; }
    // Sees every received datagram before it is analysed (for recording).
    using DatagramTap =
        std::function<void(const uint8_t* data, size_t len, const sockaddr_in& from)>;
    void SetDatagramTap(DatagramTap tap) { datagram_tap = std::move(tap); }
    // The line that opens the receive loop, live or replayed.
    static void PrintRecordSize();
    static void RequestStop();
    static bool StopRequested();
    static void ClearStop();

    // One received datagram of `len` bytes (-1 for a failed receive): the one
    // path shared by live reception and capture replay.
    void ProcessDatagram(const uint8_t* data, ssize_t len);
    const DatagramCounters& GetDatagramCounters() const { return counters; }

    void ProcessSpectrumFFT(spectrum_fft* spec_data);
    // Warns about a sample time that repeats, goes back or wraps.
    void CheckSampleTime(u64 ts);
    void ExtractPulsesFromFFT(const spectrum_fft& fft);
    bool CanChangeBand(const AccessPoint* current_ap) const;

    void ProcessBandChangeEvent(SubBand& current_subband, AccessPoint* current_ap);
    void CheckForDevices(AccessPoint* current_ap);
    void ApplyFilterList(std::list<SubBand>& subband_listIn, std::list<SubBand>::iterator begIt,
                         const std::vector<std::pair<int, int>>& filter_list);
    // Frees the pulse lists of closed subbands that no later pass can read.
    static void ReleaseAnalysedPulses(std::list<SubBand>& history);
    // Refined rules: hides the oven fragments of every subband of the
    // window whose own rows show mains-gated oven on-phases.
    static void DiscardOvenPulsesInWindow(std::list<SubBand>& history,
                                          std::list<SubBand>::iterator begin);

private:
    sockaddr_in listen_addr;
    fft_data datagram;
    RssiPulse::Profile row_db{};  // the sample's bin powers as whole-dB bytes
    DatagramCounters counters;
    DatagramTap datagram_tap;
    std::function<void()> between_datagrams;
};

#endif
