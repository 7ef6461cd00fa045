#include "score.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

#include "pulse_class.h"
#include "script_utils_module.h"

namespace sim {

namespace {

using Json = nlohmann::json;

constexpr int kCentreBin = 28;
constexpr double kBinMhz = 0.3125;
// The tracker backdates a hopper's start by this much at its first detection.
constexpr int64_t kHopperBackdateS = 6;

// Field readers that reject a value of the wrong type instead of guessing.
bool HasType(const Json& v, double*) {
    return v.is_number();
}
bool HasType(const Json& v, bool*) {
    return v.is_boolean();
}
bool HasType(const Json& v, std::string*) {
    return v.is_string();
}

template <typename T>
bool Read(const Json& obj, const char* key, T* out, std::string* error) {
    const auto it = obj.find(key);
    if (it == obj.end()) {
        return true;
    }
    if (!HasType(*it, out)) {
        *error = std::string("\"") + key + "\" has the wrong type";
        return false;
    }
    *out = it->get<T>();
    return true;
}

bool ReadDevice(const Json& d, double duration_s, TruthDevice* t, std::string* error) {
    if (!d.is_object()) {
        *error = "a device is not a JSON object";
        return false;
    }
    t->off_s = duration_s;
    if (!Read(d, "model", &t->model, error) || !Read(d, "name", &t->name, error)) {
        return false;
    }
    t->announce = !t->name.empty();
    return Read(d, "announce", &t->announce, error) && Read(d, "hops", &t->hops, error) &&
           Read(d, "freq_lo_mhz", &t->freq_lo_mhz, error) &&
           Read(d, "freq_hi_mhz", &t->freq_hi_mhz, error) &&
           Read(d, "power_dbm", &t->power_dbm, error) && Read(d, "on_s", &t->on_s, error) &&
           Read(d, "off_s", &t->off_s, error) && Read(d, "switches_off", &t->switches_off, error);
}

// The nine quoted fields of an "event: devices" text.
std::vector<std::string> DeviceFields(const std::string& text) {
    std::vector<std::string> fields;
    const size_t open = text.find('[');
    const size_t close = text.rfind(']');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return fields;
    }
    size_t i = open + 1;
    while (i < close) {
        const size_t q1 = text.find('"', i);
        if (q1 == std::string::npos || q1 >= close) {
            break;
        }
        const size_t q2 = text.find('"', q1 + 1);
        if (q2 == std::string::npos || q2 > close) {
            break;
        }
        fields.push_back(text.substr(q1 + 1, q2 - q1 - 1));
        i = q2 + 1;
    }
    return fields;
}

// Scenario seconds of a card timestamp, undoing a 32-bit wrap.
double ScenarioSeconds(uint64_t ts, const Truth& truth, uint64_t* last_unwrapped) {
    uint64_t unwrapped = ts;
    if (truth.clock_wrap) {
        unwrapped = (*last_unwrapped & ~0xFFFFFFFFull) | (ts & 0xFFFFFFFFull);
        if (unwrapped + 0x80000000ull < *last_unwrapped) {
            unwrapped += 1ull << 32;
        }
    }
    *last_unwrapped = unwrapped;
    return (static_cast<double>(unwrapped) - static_cast<double>(truth.card_start_tsf)) / 1e6;
}

std::string Seconds(double s) {
    if (s < 0) {
        return "-";
    }
    char buf[32];
    snprintf(buf, sizeof(buf), "%.1f", s);
    return buf;
}

std::string Band(double lo, double hi) {
    char buf[48];
    snprintf(buf, sizeof(buf), "%.1f-%.1f", lo, hi);
    return buf;
}

bool ParseInt(const std::string& text, int64_t* out) {
    char* end = nullptr;
    *out = strtoll(text.c_str(), &end, 10);
    return !text.empty() && end != text.c_str() && *end == '\0';
}

bool ParseDouble(const std::string& text, double* out) {
    char* end = nullptr;
    *out = strtod(text.c_str(), &end);
    return !text.empty() && end != text.c_str() && *end == '\0' && std::isfinite(*out);
}

// "first,centre,last" of a fixed device's announcement.
bool ParseBins(const std::string& text, int* first, int* last) {
    int centre = 0;
    char tail = 0;
    return sscanf(text.c_str(), "%d,%d,%d%c", first, &centre, last, &tail) == 3 && *first <= *last;
}

Record* FindRecord(std::vector<Record>& records, const std::string& name, int64_t host_start) {
    for (Record& r : records) {
        if (r.name == name && r.host_start == host_start) {
            return &r;
        }
    }
    return nullptr;
}

double SeenSeconds(int64_t host_start, bool hopper, const Truth& truth) {
    return static_cast<double>(host_start + (hopper ? kHopperBackdateS : 0) - truth.epoch_s);
}

bool Overlaps(const std::pair<double, double>& band, const TruthDevice& d) {
    return band.first <= d.freq_hi_mhz && d.freq_lo_mhz <= band.second;
}

// Whether a record of the daemon describes device `d`: same class and, for a
// device on a fixed frequency, an announced band overlapping its own.
bool Describes(const Record& r, const TruthDevice& d) {
    if (!d.announce || r.name != d.name) {
        return false;
    }
    if (d.hops || r.hopper || r.bands.empty()) {
        return true;
    }
    return std::any_of(r.bands.begin(), r.bands.end(),
                       [&d](const std::pair<double, double>& b) { return Overlaps(b, d); });
}

double Since(double t, double from) {
    return t < 0 ? -1 : std::max(0.0, t - from);
}

ScoreRow DeviceRow(const TruthDevice& d, const std::vector<const Record*>& mine, bool from_log,
                   double duration_s) {
    ScoreRow row;
    row.name = d.name;
    row.model = d.model;
    row.band = d.hops ? "hops" : Band(d.freq_lo_mhz, d.freq_hi_mhz);
    row.present = true;
    row.needs_end = d.switches_off;
    row.records = static_cast<int>(mine.size());
    row.detected = !mine.empty();
    // A log only holds devices that ended: one still on the air at the end
    // of the run cannot be judged from it.
    row.not_judged = from_log && mine.empty() && d.off_s >= duration_s;
    bool all_ended = !mine.empty();
    double last_end = -1;
    for (const Record* r : mine) {
        const double seen = Since(r->seen_s, d.on_s);
        if (seen >= 0 && (row.seen_s < 0 || seen < row.seen_s)) {
            row.seen_s = seen;
        }
        const double announced = Since(r->announced_s, d.on_s);
        if (announced >= 0 && (row.announced_s < 0 || announced < row.announced_s)) {
            row.announced_s = announced;
        }
        if (!r->ended) {
            all_ended = false;
        } else if (r->end_s >= 0 && d.switches_off && r->end_s >= d.off_s) {
            last_end = std::max(last_end, r->end_s);
        } else {
            row.early_ends++;  // ended while the device was still transmitting
            all_ended = false;
        }
    }
    if (d.switches_off && all_ended && last_end >= 0) {
        row.end_detected = true;
        row.end_delay_s = last_end - d.off_s;
    }
    return row;
}

}  // namespace

std::pair<double, double> AnnouncedBandMhz(double cfreq_mhz, int first_bin, int last_bin) {
    return {cfreq_mhz + (first_bin - kCentreBin - 0.5) * kBinMhz,
            cfreq_mhz + (last_bin - kCentreBin + 0.5) * kBinMhz};
}

bool InView(double lo_mhz, double hi_mhz) {
    for (const float centre : CONST_CENTER_FREQUENCIES) {
        const auto view = AnnouncedBandMhz(centre, 0, 55);
        if (view.first <= hi_mhz && lo_mhz <= view.second) {
            return true;
        }
    }
    return false;
}

bool ParseTruth(const std::string& json, Truth* truth, std::string* error) {
    const Json root = Json::parse(json, nullptr, false);
    if (root.is_discarded()) {
        *error = "malformed JSON";
        return false;
    }
    if (!root.is_object()) {
        *error = "ground truth is not a JSON object";
        return false;
    }
    *truth = Truth();
    double epoch = 0, start_tsf = 0;
    if (!Read(root, "scenario", &truth->scenario, error) ||
        !Read(root, "duration_s", &truth->duration_s, error) ||
        !Read(root, "epoch_s", &epoch, error) || !Read(root, "card_start_tsf", &start_tsf, error) ||
        !Read(root, "clock_wrap", &truth->clock_wrap, error) ||
        !Read(root, "sample_interval_us", &truth->sample_interval_us, error) ||
        !Read(root, "attenuate_db", &truth->attenuate_db, error)) {
        return false;
    }
    if (!(epoch >= 0 && epoch < 1e12 && start_tsf >= 0 && start_tsf < 1.8e19)) {
        *error = "epoch_s or card_start_tsf out of range";
        return false;
    }
    truth->epoch_s = static_cast<int64_t>(epoch);
    truth->card_start_tsf = static_cast<uint64_t>(start_tsf);
    const auto devices = root.find("devices");
    if (devices == root.end() || !devices->is_array()) {
        *error = "ground truth has no \"devices\" list";
        return false;
    }
    for (const Json& d : *devices) {
        TruthDevice t;
        if (!ReadDevice(d, truth->duration_s, &t, error)) {
            return false;
        }
        truth->devices.push_back(t);
    }
    return true;
}

namespace {

// Applies one device event, fields f, heard at scenario time now_s.
void ApplyDeviceEvent(const std::vector<std::string>& f, double now_s, const Truth& truth,
                      Observations* obs) {
    int64_t host_start = 0;
    if (f.size() != 9 || !ParseInt(f[2], &host_start)) {
        obs->unreadable++;
        return;
    }
    Record* r = FindRecord(obs->records, f[1], host_start);
    if (f[0] == "0") {
        // Ended device: class and host start name the record it closes.
        if (r == nullptr) {
            obs->records.push_back(Record{f[1], false, host_start, -1, -1, {}, false, -1});
            r = &obs->records.back();
        }
        r->ended = true;
        r->end_s = now_s;
        return;
    }
    const bool hopper = f[7] == "Freq Hopper";
    double cfreq = 0;
    int first = 0, last = 0;
    if (!hopper && (!ParseDouble(f[6], &cfreq) || !ParseBins(f[7], &first, &last))) {
        obs->unreadable++;
        return;
    }
    if (r == nullptr) {
        obs->records.push_back(Record{f[1],
                                      hopper,
                                      host_start,
                                      SeenSeconds(host_start, hopper, truth),
                                      now_s,
                                      {},
                                      false,
                                      -1});
        r = &obs->records.back();
    }
    if (r->announced_s < 0) {
        r->announced_s = now_s;
    }
    if (!hopper) {
        const auto band = AnnouncedBandMhz(cfreq, first, last);
        if (std::find(r->bands.begin(), r->bands.end(), band) == r->bands.end()) {
            r->bands.push_back(band);
        }
    }
}

}  // namespace

Observations ObservationsFromEvents(const std::vector<std::string>& datagrams, const Truth& truth) {
    Observations obs;
    obs.datagrams = static_cast<int>(datagrams.size());
    obs.have_clock = false;
    double now_s = -1;
    uint64_t last_unwrapped = truth.card_start_tsf;
    for (const std::string& d : datagrams) {
        if (d.rfind("event: channel\r\n", 0) == 0) {
            // The channel events carry the card time the devices are dated by.
            const size_t at = d.find("\"timestamp\":");
            if (at != std::string::npos) {
                const uint64_t ts = strtoull(d.c_str() + at + 12, nullptr, 10);
                now_s = ScenarioSeconds(ts, truth, &last_unwrapped);
                obs.have_clock = true;
            }
        } else if (d.rfind("event: devices\r\n", 0) == 0) {
            ApplyDeviceEvent(DeviceFields(d), now_s, truth, &obs);
        }
    }
    return obs;
}

Observations ObservationsFromLog(const std::string& log_text, const Truth& truth) {
    // "<kind> inactive gt: Fixed: <now> <date> <time> <class> <cfreq> <first> <centre> <last>
    //  <start> <end> <duration> <rssi>", and for hoppers "FreqHop:" with 2400 and the pulse
    // count where the band would be.
    Observations obs;
    obs.from_log = true;
    std::istringstream lines(log_text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty()) {
            continue;
        }
        obs.datagrams++;
        const size_t at = line.find("inactive gt: ");
        std::vector<std::string> w;
        if (at != std::string::npos) {
            std::istringstream words(line.substr(at + 13));
            std::string word;
            while (words >> word) {
                w.push_back(word);
            }
        }
        int64_t now = 0, cls = 0, start = 0, first = 0, last = 0;
        double cfreq = 0;
        if (w.size() != 13 || (w[0] != "Fixed:" && w[0] != "FreqHop:") || !ParseInt(w[1], &now) ||
            !ParseInt(w[4], &cls) || !ParseDouble(w[5], &cfreq) || !ParseInt(w[6], &first) ||
            !ParseInt(w[8], &last) || !ParseInt(w[9], &start) || cls < 0 || cls > 0xFFFF) {
            obs.unreadable++;
            continue;
        }
        Record r;
        r.name = RssiPulse::getClassification(static_cast<PulseType>(cls));
        r.hopper = w[0] == "FreqHop:";
        r.host_start = start;
        r.seen_s = SeenSeconds(start, r.hopper, truth);
        if (!r.hopper) {
            r.bands.push_back(
                AnnouncedBandMhz(cfreq, static_cast<int>(first), static_cast<int>(last)));
        }
        r.ended = true;
        r.end_s = static_cast<double>(now - truth.epoch_s);
        obs.records.push_back(r);
    }
    return obs;
}

namespace {

// Notes on what the observations lack; false when there is nothing to score.
bool NoteGaps(const Observations& obs, ScoreReport* report) {
    if (!obs.from_log && obs.datagrams == 0) {
        report->no_data = true;
        report->notes.push_back(
            "no event datagram at all: the daemon's --ui did not reach the listener, or it did "
            "not run; nothing was scored");
        return false;
    }
    if (!obs.from_log && !obs.have_clock) {
        report->notes.push_back(
            "no channel event: announcement and end times are unknown (shown as -)");
    }
    if (obs.unreadable > 0) {
        report->notes.push_back(std::to_string(obs.unreadable) +
                                (obs.from_log ? " log lines" : " device events") +
                                " could not be read and were left out");
    }
    return true;
}

// Each record goes to the first device it describes; the records that
// describe none are left in *unmatched.
std::vector<std::vector<const Record*>> MatchRecords(const Truth& truth, const Observations& obs,
                                                     std::vector<const Record*>* unmatched) {
    std::vector<std::vector<const Record*>> mine(truth.devices.size());
    for (const Record& r : obs.records) {
        bool matched = false;
        for (size_t i = 0; i < truth.devices.size() && !matched; i++) {
            if (Describes(r, truth.devices[i])) {
                mine[i].push_back(&r);
                matched = true;
            }
        }
        if (!matched) {
            unmatched->push_back(&r);
        }
    }
    return mine;
}

void AddDeviceRows(const Truth& truth, const Observations& obs,
                   const std::vector<std::vector<const Record*>>& mine, ScoreReport* report) {
    for (size_t i = 0; i < truth.devices.size(); i++) {
        const TruthDevice& d = truth.devices[i];
        if (!d.announce) {
            continue;
        }
        ScoreRow row = DeviceRow(d, mine[i], obs.from_log, truth.duration_s);
        // The card cannot see it: reported, not held against the daemon.
        row.out_of_view = !row.detected && !InView(d.freq_lo_mhz, d.freq_hi_mhz);
        row.not_judged = row.not_judged && !row.out_of_view;
        report->out_of_view += row.out_of_view;
        report->missed += !row.detected && !row.not_judged && !row.out_of_view;
        report->not_judged += row.not_judged;
        report->early_ends += row.early_ends;
        report->missed_ends += row.needs_end && row.detected && !row.end_detected;
        report->rows.push_back(row);
    }
}

// False records, one row per class and band.
void AddFalseRows(const std::vector<const Record*>& unmatched, ScoreReport* report) {
    for (const Record* r : unmatched) {
        const std::string band =
            r->hopper || r->bands.empty() ? "hops" : Band(r->bands[0].first, r->bands[0].second);
        auto it = std::find_if(report->rows.begin(), report->rows.end(), [&](const ScoreRow& row) {
            return !row.present && row.name == r->name && row.band == band;
        });
        if (it == report->rows.end()) {
            ScoreRow row;
            row.name = r->name;
            row.band = band;
            row.detected = true;
            report->rows.push_back(row);
            report->false_devices++;
            it = report->rows.end() - 1;
        }
        it->records++;
        if (r->seen_s >= 0 && (it->seen_s < 0 || r->seen_s < it->seen_s)) {
            it->seen_s = std::max(0.0, r->seen_s);
        }
        if (r->announced_s >= 0 && (it->announced_s < 0 || r->announced_s < it->announced_s)) {
            it->announced_s = r->announced_s;
        }
    }
}

}  // namespace

ScoreReport Score(const Truth& truth, const Observations& obs) {
    ScoreReport report;
    if (!NoteGaps(obs, &report)) {
        return report;
    }
    std::vector<const Record*> unmatched;
    const std::vector<std::vector<const Record*>> mine = MatchRecords(truth, obs, &unmatched);
    AddDeviceRows(truth, obs, mine, &report);
    AddFalseRows(unmatched, &report);
    if (obs.from_log) {
        if (obs.records.empty()) {
            report.notes.push_back("the log holds no ended device");
        }
        report.notes.push_back(
            "read from the output log, which holds only devices that ended: devices on the air "
            "at the end of the run are NOT LOGGED (not judged), false devices still tracked at "
            "the end are not seen, ann_s is unknown, and end times are whole host seconds (the "
            "event datagrams give the card time of the channel event before, up to ~1 s "
            "earlier)");
    }
    return report;
}

std::string FormatReport(const Truth& truth, const ScoreReport& report) {
    std::ostringstream out;
    char line[320];
    out << "Scenario " << truth.scenario << " (" << Seconds(truth.duration_s) << " s";
    if (truth.sample_interval_us > 0) {
        out << ", " << truth.sample_interval_us << " us";
    }
    if (truth.attenuate_db != 0) {
        out << ", attenuated " << truth.attenuate_db << " dB";
    }
    out << ")\n";
    for (const std::string& note : report.notes) {
        out << "  note: " << note << "\n";
    }
    if (report.no_data) {
        out << "  result: NO DATA\n";
        return out.str();
    }
    snprintf(line, sizeof(line), "  %-26s %-20s %-15s %-11s %-4s %-6s %-6s %s\n", "class", "model",
             "band_mhz", "detected", "recs", "seen_s", "ann_s", "end");
    out << line;
    for (const ScoreRow& r : report.rows) {
        std::string end = "-";
        if (r.needs_end) {
            end = r.end_detected ? "yes +" + Seconds(r.end_delay_s) + " s"
                  : r.not_judged ? "-"
                                 : "MISSED";
        }
        if (r.early_ends > 0) {
            end += " (" + std::to_string(r.early_ends) + " early)";
        }
        const char* detected = !r.present      ? "FALSE"
                               : r.detected    ? "yes"
                               : r.out_of_view ? "OUT OF VIEW"
                               : r.not_judged  ? "NOT LOGGED"
                                               : "MISSED";
        snprintf(line, sizeof(line), "  %-26s %-20s %-15s %-11s %-4d %-6s %-6s %s\n",
                 r.name.c_str(), r.model.empty() ? "(not present)" : r.model.c_str(),
                 r.band.c_str(), detected, r.records, Seconds(r.seen_s).c_str(),
                 Seconds(r.announced_s).c_str(), end.c_str());
        out << line;
    }
    if (report.rows.empty()) {
        out << "  (no device present, none announced)\n";
    }
    out << "  result: " << (report.Passed() ? "PASS" : "FAIL") << " (" << report.missed
        << " missed, " << report.false_devices << " false, " << report.early_ends << " early ends, "
        << report.missed_ends << " ends missed";
    if (report.not_judged > 0) {
        out << ", " << report.not_judged << " not judged";
    }
    if (report.out_of_view > 0) {
        out << ", " << report.out_of_view << " out of view";
    }
    out << ")\n";
    return out.str();
}

std::string BriefReport(const ScoreReport& report) {
    if (report.no_data) {
        return "NODATA 0 0 0 0 missed=- false=- first=-";
    }
    std::string missed, false_names, first;
    const auto add = [](std::string& list, const std::string& item) {
        list += (list.empty() ? "" : ",") + item;
    };
    for (const ScoreRow& r : report.rows) {
        if (!r.present) {
            add(false_names, r.name);
        } else if (!r.detected && !r.not_judged && !r.out_of_view) {
            add(missed, r.name);
        } else if (r.detected) {
            add(first, r.name + ":" + Seconds(r.announced_s >= 0 ? r.announced_s : r.seen_s));
        }
    }
    std::ostringstream out;
    out << (report.Passed() ? "PASS" : "FAIL") << " " << report.missed << " "
        << report.false_devices << " " << report.early_ends << " " << report.missed_ends
        << " missed=" << (missed.empty() ? "-" : missed)
        << " false=" << (false_names.empty() ? "-" : false_names)
        << " first=" << (first.empty() ? "-" : first);
    return out.str();
}

}  // namespace sim
