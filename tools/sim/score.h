// Scoring of the daemon's output against a scenario's ground truth: which
// devices it announced, how soon, which it announced falsely, and whether it
// noticed a device switching off.
#ifndef TESSARON_SIM_SCORE_H
#define TESSARON_SIM_SCORE_H

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct TruthDevice {
    std::string model;
    std::string name;  // display name the daemon should announce
    bool announce = true;
    double freq_lo_mhz = 0, freq_hi_mhz = 0;
    double on_s = 0, off_s = 0;
    bool switches_off = false;
};

struct Truth {
    std::string scenario;
    double duration_s = 0;
    int64_t epoch_s = 0;
    uint64_t card_start_tsf = 0;
    bool clock_wrap = false;
    std::vector<TruthDevice> devices;
};

// Parses the ground-truth JSON; false with a reason on malformed text.
bool ParseTruth(const std::string& json, Truth* truth, std::string* error);

// What the daemon said about one device class, in scenario seconds.
struct Observation {
    std::string name;
    bool ended = false;  // the ended-device event (or a log line)
    double at_s = -1;    // scenario time of the event, -1 when unknown
};

// Reads the UI event datagrams recorded by `tessaron-sim listen` (one
// escaped datagram per line). Channel events give the card time that
// places the device events in scenario time.
std::vector<Observation> ObservationsFromEvents(const std::vector<std::string>& datagrams,
                                                const Truth& truth);
// Reads the daemon's output log ("... inactive gt: ..." lines of ended
// devices).
std::vector<Observation> ObservationsFromLog(const std::string& log_text, const Truth& truth);

// One datagram per line with \\, \r and \n escaped, and back.
std::string EscapeDatagram(const std::string& datagram);
std::string UnescapeDatagram(const std::string& line);

struct ScoreRow {
    std::string name;
    std::string model;  // empty for a false announcement
    bool present = false;
    bool detected = false;
    double first_s = -1;   // time of first announcement after switch-on
    int false_events = 0;  // announcements of a class not in the scenario
    bool needs_end = false;
    bool end_detected = false;
    double end_delay_s = -1;  // from switch-off to the ended-device event
    int early_ends = 0;       // ended events while the device was still on
};

struct ScoreReport {
    std::vector<ScoreRow> rows;
    int missed = 0;
    int false_devices = 0;
    int missed_ends = 0;
    bool Passed() const { return missed == 0 && false_devices == 0; }
};

ScoreReport Score(const Truth& truth, const std::vector<Observation>& observations);
std::string FormatReport(const Truth& truth, const ScoreReport& report);

}  // namespace sim

#endif
