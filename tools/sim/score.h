// Scoring of the daemon's output against a scenario's ground truth: which
// devices it announced, in the right place of the band, how soon, which it
// announced falsely, whether it ended a device that was still on the air,
// and whether it noticed a device switching off.
#ifndef TESSARON_SIM_SCORE_H
#define TESSARON_SIM_SCORE_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "capture_file.h"

namespace sim {

struct TruthDevice {
    std::string model;
    std::string name;  // display name the daemon should announce
    bool announce = true;
    bool hops = false;  // hops over the band: matched by class alone
    double freq_lo_mhz = 0, freq_hi_mhz = 0;
    double power_dbm = 0;
    double on_s = 0, off_s = 0;
    bool switches_off = false;
};

struct Truth {
    std::string scenario;
    double duration_s = 0;
    int64_t epoch_s = 0;
    uint64_t card_start_tsf = 0;
    bool clock_wrap = false;
    double sample_interval_us = 0;
    double attenuate_db = 0;
    std::vector<TruthDevice> devices;
};

// Parses the ground-truth JSON; false with a reason on malformed text or
// when a field has the wrong type.
bool ParseTruth(const std::string& json, Truth* truth, std::string* error);

// Occupied band of a fixed device announced at subband centre `cfreq_mhz`
// with bins first..last of that subband's 312.5 kHz bin frame (bin 28 at
// the centre): from the lower edge of the first bin to the upper edge of the
// last.
std::pair<double, double> AnnouncedBandMhz(double cfreq_mhz, int first_bin, int last_bin);

// Whether any of the card's channel views (56 bins around each monitored
// centre frequency) overlaps lo..hi MHz.
bool InView(double lo_mhz, double hi_mhz);

// One device record of the daemon's tracker as its output shows it. A
// record is known by its class and its host start second, which every
// announcement and its end repeat.
struct Record {
    std::string name;
    bool hopper = false;
    int64_t host_start = 0;
    double seen_s = -1;                            // first detection, scenario seconds
    double announced_s = -1;                       // first announcement (event datagrams only)
    std::vector<std::pair<double, double>> bands;  // announced bands, fixed devices
    bool ended = false;
    double end_s = -1;  // when the daemon said it ended
};

struct Observations {
    bool from_log = false;
    int datagrams = 0;       // event datagrams or log lines read
    int unreadable = 0;      // device events or log lines that could not be read
    bool have_clock = true;  // channel events placed the events in time
    std::vector<Record> records;
};

// Reads the UI event datagrams recorded by `tessaron-sim listen` (one
// escaped datagram per line). Channel events give the card time that
// places the device events in scenario time.
Observations ObservationsFromEvents(const std::vector<std::string>& datagrams, const Truth& truth);
// Reads the daemon's output log: one "... inactive gt: ..." line for every
// device that ended after being announced.
Observations ObservationsFromLog(const std::string& log_text, const Truth& truth);

struct ScoreRow {
    std::string name;
    std::string model;  // empty for a false announcement
    std::string band;   // truth band, or the falsely announced one; "hops" for hoppers
    bool present = false;
    bool detected = false;
    bool not_judged = false;   // on the air at the end and absent from a log
    bool out_of_view = false;  // wholly outside every channel the card scans
    int records = 0;           // tracker records that make up this row
    double seen_s = -1;        // first detection after switch-on
    double announced_s = -1;   // first announcement after switch-on
    bool needs_end = false;
    bool end_detected = false;
    double end_delay_s = -1;  // from switch-off to the ended-device event
    int early_ends = 0;       // ended while the device was still on the air
};

struct ScoreReport {
    std::vector<ScoreRow> rows;
    int missed = 0;
    int false_devices = 0;  // records matching no device (class or band wrong)
    int early_ends = 0;
    int missed_ends = 0;
    int not_judged = 0;
    int out_of_view = 0;
    bool no_data = false;  // the input held nothing to score
    std::vector<std::string> notes;
    bool Passed() const {
        return !no_data && missed == 0 && false_devices == 0 && early_ends == 0 && missed_ends == 0;
    }
};

ScoreReport Score(const Truth& truth, const Observations& observations);
std::string FormatReport(const Truth& truth, const ScoreReport& report);
// The report on one line for scripts: verdict, the four counts, then the
// missed classes, the false classes and each found class's ann_s (seen_s
// when ann_s is unknown), e.g.
// "PASS 0 0 0 0 missed=- false=- first=Analog_Phone:3.2".
std::string BriefReport(const ScoreReport& report);

}  // namespace sim

#endif
