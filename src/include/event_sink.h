// What the analysis tells the outside world, each event declared once with
// named fields. Outputs (the UI datagrams, and any other feed) implement
// EventSink and format the records their own way; the analysis units only
// report to the installed sinks and never know which outputs exist.
#ifndef TESSARON_EVENT_SINK_H
#define TESSARON_EVENT_SINK_H

#include <cstddef>
#include <string>

#include "pulse_class.h"
#include "script_utils_module.h"

// One tracked device, as announced while it lives and once more when it ends.
struct DeviceEventRecord {
    enum class Kind { Active, Ended };
    Kind kind = Kind::Active;
    int index = 0;  // 1-based place among the announced devices of its kind
    PulseType classification = PULSE_NONE;
    bool hopper = false;    // frequency hopper: no fixed band
    long first_seen_s = 0;  // host seconds
    long last_seen_s = 0;   // host seconds
    int duration_s = 0;
    float power_dbm = 0.0f;
    // Fixed-frequency devices: the bins are 312.5 kHz bins of the subband
    // centred on band_cfreq_mhz.
    float band_cfreq_mhz = 0.0f;
    int start_bin = 0;
    int center_bin = 0;
    int end_bin = 0;
};

// The averaged spectrum of one channel visit.
struct ChannelSpectrumRecord {
    u64 card_time_us = 0;
    float freq_mhz = 0.0f;
    long spectra = 0;                    // spectra averaged
    const float* db_below_mw = nullptr;  // 56 values, dB below 1 mW
    std::size_t bins = 0;
    // Per bin, the spectra of the visit stronger than the noise floor
    // (-85 dBm): with `spectra`, the bin's duty cycle. Null when not measured.
    const int* above_noise = nullptr;
};

// The card's channel-survey text after a scan.
struct ChannelUtilisationRecord {
    std::string survey_text;
    long host_s = 0;
    float freq_mhz = 0.0f;  // channel surveyed; 0 when not known
};

class EventSink {
public:
    virtual ~EventSink() = default;
    virtual void OnDevice(const DeviceEventRecord& device) = 0;
    virtual void OnChannelSpectrum(const ChannelSpectrumRecord& spectrum) = 0;
    virtual void OnChannelUtilisation(const ChannelUtilisationRecord& survey) = 0;
    // A line for the output log (an ended device that lived long enough).
    virtual void OnLogLine(const std::string& line) = 0;
};

// The installed outputs. Each report reaches every installed sink in the
// order they were installed; with none installed a report goes nowhere, so
// the analysis runs the same with or without outputs.
class EventSinks {
public:
    // Installing a sink twice has no effect; the caller keeps ownership and
    // removes the sink before destroying it.
    static void Install(EventSink* sink);
    static void Remove(EventSink* sink);
    static void RemoveAll();
    static std::size_t Count();

    static void ReportDevice(const DeviceEventRecord& device);
    static void ReportChannelSpectrum(const ChannelSpectrumRecord& spectrum);
    static void ReportChannelUtilisation(const ChannelUtilisationRecord& survey);
    static void ReportLogLine(const std::string& line);
};

// Installs a sink for the lifetime of the object.
class ScopedEventSink {
public:
    explicit ScopedEventSink(EventSink* sink) : sink_(sink) { EventSinks::Install(sink_); }
    ~ScopedEventSink() { EventSinks::Remove(sink_); }
    ScopedEventSink(const ScopedEventSink&) = delete;
    ScopedEventSink& operator=(const ScopedEventSink&) = delete;

private:
    EventSink* sink_;
};

#endif
