#include "score.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

#include "pulse_class.h"

namespace sim {

namespace {

// A small JSON reader: enough for the ground-truth files this tool writes.
struct Json {
    enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
    bool b = false;
    double n = 0;
    std::string s;
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> fields;

    const Json* Get(const std::string& key) const {
        for (const auto& [k, v] : fields) {
            if (k == key) {
                return &v;
            }
        }
        return nullptr;
    }
};

class JsonReader {
public:
    explicit JsonReader(const std::string& text) : text_(text) {}

    bool Parse(Json* out, std::string* error) {
        if (!Value(out, 0)) {
            *error = "malformed JSON near offset " + std::to_string(pos_);
            return false;
        }
        Skip();
        if (pos_ != text_.size()) {
            *error = "trailing text at offset " + std::to_string(pos_);
            return false;
        }
        return true;
    }

private:
    void Skip() {
        while (pos_ < text_.size() && isspace(static_cast<unsigned char>(text_[pos_]))) {
            pos_++;
        }
    }
    bool Literal(const char* word) {
        const std::string w(word);
        if (text_.compare(pos_, w.size(), w) == 0) {
            pos_ += w.size();
            return true;
        }
        return false;
    }
    bool String(std::string* out) {
        if (pos_ >= text_.size() || text_[pos_] != '"') {
            return false;
        }
        pos_++;
        while (pos_ < text_.size() && text_[pos_] != '"') {
            char c = text_[pos_++];
            if (c == '\\') {
                if (pos_ >= text_.size()) {
                    return false;
                }
                c = text_[pos_++];
                c = c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
            }
            out->push_back(c);
        }
        if (pos_ >= text_.size()) {
            return false;
        }
        pos_++;
        return true;
    }
    bool Value(Json* out, int depth) {
        if (depth > 32) {
            return false;
        }
        Skip();
        if (pos_ >= text_.size()) {
            return false;
        }
        const char c = text_[pos_];
        if (c == '{') {
            out->kind = Json::kObject;
            pos_++;
            Skip();
            if (pos_ < text_.size() && text_[pos_] == '}') {
                pos_++;
                return true;
            }
            for (;;) {
                Skip();
                std::string key;
                if (!String(&key)) {
                    return false;
                }
                Skip();
                if (pos_ >= text_.size() || text_[pos_] != ':') {
                    return false;
                }
                pos_++;
                Json v;
                if (!Value(&v, depth + 1)) {
                    return false;
                }
                out->fields.emplace_back(key, std::move(v));
                Skip();
                if (pos_ < text_.size() && text_[pos_] == ',') {
                    pos_++;
                    continue;
                }
                if (pos_ < text_.size() && text_[pos_] == '}') {
                    pos_++;
                    return true;
                }
                return false;
            }
        }
        if (c == '[') {
            out->kind = Json::kArray;
            pos_++;
            Skip();
            if (pos_ < text_.size() && text_[pos_] == ']') {
                pos_++;
                return true;
            }
            for (;;) {
                Json v;
                if (!Value(&v, depth + 1)) {
                    return false;
                }
                out->items.push_back(std::move(v));
                Skip();
                if (pos_ < text_.size() && text_[pos_] == ',') {
                    pos_++;
                    continue;
                }
                if (pos_ < text_.size() && text_[pos_] == ']') {
                    pos_++;
                    return true;
                }
                return false;
            }
        }
        if (c == '"') {
            out->kind = Json::kString;
            return String(&out->s);
        }
        if (Literal("true")) {
            out->kind = Json::kBool;
            out->b = true;
            return true;
        }
        if (Literal("false")) {
            out->kind = Json::kBool;
            return true;
        }
        if (Literal("null")) {
            return true;
        }
        const char* begin = text_.c_str() + pos_;
        char* end = nullptr;
        out->n = strtod(begin, &end);
        if (end == begin) {
            return false;
        }
        out->kind = Json::kNumber;
        pos_ += static_cast<size_t>(end - begin);
        return true;
    }

    const std::string& text_;
    size_t pos_ = 0;
};

double Number(const Json& obj, const std::string& key, double fallback = 0) {
    const Json* v = obj.Get(key);
    return v != nullptr && v->kind == Json::kNumber ? v->n : fallback;
}

std::string Text(const Json& obj, const std::string& key) {
    const Json* v = obj.Get(key);
    return v != nullptr && v->kind == Json::kString ? v->s : std::string();
}

bool Flag(const Json& obj, const std::string& key, bool fallback) {
    const Json* v = obj.Get(key);
    return v != nullptr && v->kind == Json::kBool ? v->b : fallback;
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

}  // namespace

bool ParseTruth(const std::string& json, Truth* truth, std::string* error) {
    Json root;
    JsonReader reader(json);
    if (!reader.Parse(&root, error)) {
        return false;
    }
    if (root.kind != Json::kObject) {
        *error = "ground truth is not a JSON object";
        return false;
    }
    *truth = Truth();
    truth->scenario = Text(root, "scenario");
    truth->duration_s = Number(root, "duration_s");
    truth->epoch_s = static_cast<int64_t>(Number(root, "epoch_s"));
    truth->card_start_tsf = static_cast<uint64_t>(Number(root, "card_start_tsf"));
    truth->clock_wrap = Flag(root, "clock_wrap", false);
    const Json* devices = root.Get("devices");
    if (devices == nullptr || devices->kind != Json::kArray) {
        *error = "ground truth has no \"devices\" list";
        return false;
    }
    for (const Json& d : devices->items) {
        TruthDevice t;
        t.model = Text(d, "model");
        t.name = Text(d, "name");
        t.announce = Flag(d, "announce", !t.name.empty());
        t.freq_lo_mhz = Number(d, "freq_lo_mhz");
        t.freq_hi_mhz = Number(d, "freq_hi_mhz");
        t.on_s = Number(d, "on_s");
        t.off_s = Number(d, "off_s", truth->duration_s);
        t.switches_off = Flag(d, "switches_off", false);
        truth->devices.push_back(t);
    }
    return true;
}

std::string EscapeDatagram(const std::string& datagram) {
    std::string out;
    for (char c : datagram) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string UnescapeDatagram(const std::string& line) {
    std::string out;
    for (size_t i = 0; i < line.size(); i++) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            const char c = line[++i];
            out += c == 'r' ? '\r' : c == 'n' ? '\n' : c;
        } else {
            out += line[i];
        }
    }
    return out;
}

std::vector<Observation> ObservationsFromEvents(const std::vector<std::string>& datagrams,
                                                const Truth& truth) {
    std::vector<Observation> out;
    double now_s = -1;
    uint64_t last_unwrapped = truth.card_start_tsf;
    for (const std::string& d : datagrams) {
        if (d.rfind("event: channel\r\n", 0) == 0) {
            const size_t at = d.find("\"timestamp\":");
            if (at != std::string::npos) {
                const uint64_t ts = strtoull(d.c_str() + at + 12, nullptr, 10);
                now_s = ScenarioSeconds(ts, truth, &last_unwrapped);
            }
            continue;
        }
        if (d.rfind("event: devices\r\n", 0) != 0) {
            continue;
        }
        const std::vector<std::string> f = DeviceFields(d);
        if (f.size() < 9) {
            continue;
        }
        Observation o;
        o.name = f[1];
        o.ended = f[0] == "0";
        o.at_s = now_s;
        if (!o.ended && o.at_s < 0) {
            // No channel event yet: fall back on the device's host end time.
            o.at_s = static_cast<double>(strtoll(f[3].c_str(), nullptr, 10) - truth.epoch_s);
        }
        out.push_back(o);
    }
    return out;
}

std::vector<Observation> ObservationsFromLog(const std::string& log_text, const Truth& truth) {
    // "<kind> inactive gt: FreqHop|Fixed: <now> <date> <time> <class> ... <start> <end> <dur>
    // <rssi>"
    std::vector<Observation> out;
    std::istringstream lines(log_text);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t at = line.find("inactive gt: ");
        if (at == std::string::npos) {
            continue;
        }
        std::istringstream words(line.substr(at + 13));
        std::vector<std::string> w;
        std::string word;
        while (words >> word) {
            w.push_back(word);
        }
        if (w.size() < 10) {
            continue;
        }
        const int cls = atoi(w[4].c_str());
        const double start = static_cast<double>(atoll(w[w.size() - 4].c_str()) - truth.epoch_s);
        const double end = static_cast<double>(atoll(w[w.size() - 3].c_str()) - truth.epoch_s);
        const std::string name = RssiPulse::getClassification(static_cast<PulseType>(cls));
        out.push_back(Observation{name, false, start});
        out.push_back(Observation{name, true, end + 5.0});
    }
    return out;
}

ScoreReport Score(const Truth& truth, const std::vector<Observation>& observations) {
    ScoreReport report;
    std::map<std::string, bool> expected;
    for (const TruthDevice& d : truth.devices) {
        if (!d.announce) {
            continue;
        }
        expected[d.name] = true;
        ScoreRow row;
        row.name = d.name;
        row.model = d.model;
        row.present = true;
        row.needs_end = d.switches_off;
        for (const Observation& o : observations) {
            if (o.name != d.name) {
                continue;
            }
            if (!o.ended) {
                if (!row.detected) {
                    row.detected = true;
                    row.first_s = o.at_s >= 0 ? std::max(0.0, o.at_s - d.on_s) : -1;
                }
            } else if (d.switches_off && o.at_s >= d.off_s) {
                if (!row.end_detected) {
                    row.end_detected = true;
                    row.end_delay_s = o.at_s - d.off_s;
                }
            } else {
                row.early_ends++;
            }
        }
        if (!row.detected) {
            report.missed++;
        }
        if (row.needs_end && !row.end_detected) {
            report.missed_ends++;
        }
        report.rows.push_back(row);
    }
    std::map<std::string, ScoreRow> false_rows;
    for (const Observation& o : observations) {
        if (o.ended || expected.count(o.name) != 0) {
            continue;
        }
        ScoreRow& row = false_rows[o.name];
        if (row.false_events == 0) {
            row.name = o.name;
            row.detected = true;
            row.first_s = o.at_s;
        }
        row.false_events++;
    }
    for (auto& [name, row] : false_rows) {
        report.rows.push_back(row);
        report.false_devices++;
    }
    return report;
}

std::string FormatReport(const Truth& truth, const ScoreReport& report) {
    std::ostringstream out;
    char line[256];
    out << "Scenario " << truth.scenario << " (" << Seconds(truth.duration_s) << " s)\n";
    snprintf(line, sizeof(line), "  %-26s %-20s %-8s %-9s %-8s %-6s %s\n", "class", "model",
             "present", "detected", "first_s", "false", "end");
    out << line;
    for (const ScoreRow& r : report.rows) {
        std::string end = "-";
        if (r.needs_end) {
            end = r.end_detected ? "yes +" + Seconds(r.end_delay_s) + " s" : "MISSED";
        }
        if (r.early_ends > 0) {
            end += " (" + std::to_string(r.early_ends) + " early)";
        }
        snprintf(line, sizeof(line), "  %-26s %-20s %-8s %-9s %-8s %-6d %s\n", r.name.c_str(),
                 r.model.empty() ? "(not present)" : r.model.c_str(), r.present ? "yes" : "no",
                 r.detected ? (r.present ? "yes" : "FALSE") : "MISSED", Seconds(r.first_s).c_str(),
                 r.false_events, end.c_str());
        out << line;
    }
    if (report.rows.empty()) {
        out << "  (no device present, none announced)\n";
    }
    out << "  result: " << (report.Passed() ? "PASS" : "FAIL") << " (" << report.missed
        << " missed, " << report.false_devices << " false, " << report.missed_ends
        << " ends missed)\n";
    return out.str();
}

}  // namespace sim
