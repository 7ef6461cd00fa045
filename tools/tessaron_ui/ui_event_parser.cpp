#include "ui_event_parser.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace tessaron_ui {

namespace {

const double kMonitoredCentres[] = {2412.0, 2422.0, 2437.0, 2442.0, 2452.0, 2462.0};

bool Fail(std::string* error, const std::string& why) {
    if (error != nullptr) {
        *error = why;
    }
    return false;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string Trim(const std::string& s) {
    size_t begin = 0;
    size_t end = s.size();
    while (begin < end && IsSpace(s[begin])) {
        ++begin;
    }
    while (end > begin && IsSpace(s[end - 1])) {
        --end;
    }
    return s.substr(begin, end - begin);
}

// Whole-text decimal integer within [lo, hi]; no partial reads.
bool ParseInt(const std::string& raw, long long lo, long long hi, long long* out) {
    const std::string s = Trim(raw);
    if (s.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(s.c_str(), &end, 10);
    if (errno != 0 || end != s.c_str() + s.size() || value < lo || value > hi) {
        return false;
    }
    *out = value;
    return true;
}

bool ParseUnsigned(const std::string& raw, std::uint64_t* out) {
    const std::string s = Trim(raw);
    if (s.empty() || s[0] < '0' || s[0] > '9') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(s.c_str(), &end, 10);
    if (errno != 0 || end != s.c_str() + s.size()) {
        return false;
    }
    *out = value;
    return true;
}

bool ParseFinite(const std::string& raw, double lo, double hi, double* out) {
    const std::string s = Trim(raw);
    if (s.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(s.c_str(), &end);
    if (errno != 0 || end != s.c_str() + s.size() || !std::isfinite(value) || value < lo ||
        value > hi) {
        return false;
    }
    *out = value;
    return true;
}

// Splits "event: NAME<eol>data:PAYLOAD" into NAME and PAYLOAD (the payload
// keeps its terminator; callers search inside it).
bool SplitEvent(const std::string& text, std::string* name, std::string* payload,
                std::string* error) {
    static const std::string kEventPrefix = "event: ";
    if (text.compare(0, kEventPrefix.size(), kEventPrefix) != 0) {
        return Fail(error, "does not start with \"event: \"");
    }
    const size_t eol = text.find('\n');
    if (eol == std::string::npos) {
        return Fail(error, "no line end after the event name");
    }
    size_t name_end = eol;
    if (name_end > kEventPrefix.size() && text[name_end - 1] == '\r') {
        --name_end;
    }
    *name = text.substr(kEventPrefix.size(), name_end - kEventPrefix.size());
    static const std::string kDataPrefix = "data:";
    if (text.compare(eol + 1, kDataPrefix.size(), kDataPrefix) != 0) {
        return Fail(error, "second line does not start with \"data:\"");
    }
    *payload = text.substr(eol + 1 + kDataPrefix.size());
    return true;
}

// The nine double-quoted fields between the brackets of a devices text.
bool QuotedFields(const std::string& list, std::vector<std::string>* fields) {
    size_t pos = 0;
    while (true) {
        while (pos < list.size() && IsSpace(list[pos])) {
            ++pos;
        }
        if (pos >= list.size() || list[pos] != '"') {
            return false;
        }
        const size_t close = list.find('"', pos + 1);
        if (close == std::string::npos) {
            return false;
        }
        fields->push_back(list.substr(pos + 1, close - pos - 1));
        pos = close + 1;
        while (pos < list.size() && IsSpace(list[pos])) {
            ++pos;
        }
        if (pos == list.size()) {
            return true;
        }
        if (list[pos] != ',') {
            return false;
        }
        ++pos;
    }
}

// Field 8 of a fixed device: "start,centre,end" in the subband's bins.
bool ParseBinTriple(const std::string& text, DeviceEventRecord* device) {
    const size_t first = text.find(',');
    const size_t second = first == std::string::npos ? first : text.find(',', first + 1);
    if (second == std::string::npos || text.find(',', second + 1) != std::string::npos) {
        return false;
    }
    long long start = 0;
    long long centre = 0;
    long long end = 0;
    const long long last_bin = static_cast<long long>(kChannelBins) - 1;
    if (!ParseInt(text.substr(0, first), 0, last_bin, &start) ||
        !ParseInt(text.substr(first + 1, second - first - 1), 0, last_bin, &centre) ||
        !ParseInt(text.substr(second + 1), 0, last_bin, &end)) {
        return false;
    }
    device->start_bin = static_cast<int>(start);
    device->center_bin = static_cast<int>(centre);
    device->end_bin = static_cast<int>(end);
    return true;
}

bool ParseDevices(const std::string& payload, DeviceEventRecord* device, std::string* error) {
    const size_t key = payload.find("\"dev\"");
    const size_t open = key == std::string::npos ? key : payload.find('[', key);
    const size_t close = payload.rfind(']');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return Fail(error, "devices text without a [...] field list");
    }
    std::vector<std::string> f;
    if (!QuotedFields(payload.substr(open + 1, close - open - 1), &f) || f.size() != 9) {
        return Fail(error, "devices text without nine quoted fields");
    }
    long long index = 0;
    if (!ParseInt(f[0], 0, 1000000, &index)) {
        return Fail(error, "bad device index \"" + f[0].substr(0, 40) + "\"");
    }
    if (!PulseTypeFromName(f[1], &device->classification)) {
        return Fail(error, "unknown device class \"" + f[1].substr(0, 40) + "\"");
    }
    device->index = static_cast<int>(index);
    long long first = 0;
    if (!ParseInt(f[2], 0, 1LL << 40, &first)) {
        return Fail(error, "bad first-seen time \"" + f[2].substr(0, 40) + "\"");
    }
    device->first_seen_s = static_cast<long>(first);
    if (index == 0) {
        // The remaining fields of an ended device are all 0.
        device->kind = DeviceEventRecord::Kind::Ended;
        return true;
    }
    long long last = 0;
    long long duration = 0;
    if (!ParseInt(f[3], 0, 1LL << 40, &last) ||
        !ParseInt(f[4], -(1LL << 30), 1LL << 30, &duration)) {
        return Fail(error, "bad last-seen time or duration");
    }
    device->last_seen_s = static_cast<long>(last);
    device->duration_s = static_cast<int>(duration);
    double power = 0.0;
    double freq = 0.0;
    if (!ParseFinite(f[5], -300.0, 300.0, &power)) {
        return Fail(error, "bad device power \"" + f[5].substr(0, 40) + "\"");
    }
    if (!ParseFinite(f[6], 0.0, 10000.0, &freq)) {
        return Fail(error, "bad device frequency \"" + f[6].substr(0, 40) + "\"");
    }
    device->power_dbm = static_cast<float>(power);
    device->band_cfreq_mhz = static_cast<float>(freq);
    if (f[7] == "Freq Hopper") {
        device->hopper = true;
    } else if (!ParseBinTriple(f[7], device)) {
        return Fail(error, "bad device bins \"" + f[7].substr(0, 40) + "\"");
    }
    return true;
}

// The number after "KEY" and a colon, searched from `from`; *after is set past
// the number's text (which ends at ',' or '}').
bool NumberAfterKey(const std::string& payload, const std::string& key, size_t from,
                    std::string* number, size_t* after) {
    const size_t k = payload.find("\"" + key + "\"", from);
    if (k == std::string::npos) {
        return false;
    }
    const size_t colon = payload.find(':', k + key.size() + 2);
    if (colon == std::string::npos) {
        return false;
    }
    size_t end = colon + 1;
    while (end < payload.size() && payload[end] != ',' && payload[end] != '}') {
        ++end;
    }
    if (end == payload.size()) {
        return false;
    }
    *number = payload.substr(colon + 1, end - colon - 1);
    *after = end;
    return true;
}

bool ParseChannel(const std::string& payload, UiEvent* event, std::string* error) {
    const size_t key = payload.find("\"ch\"");
    const size_t open = key == std::string::npos ? key : payload.find('[', key);
    const size_t close = open == std::string::npos ? open : payload.find(']', open);
    if (close == std::string::npos) {
        return Fail(error, "channel text without a [...] bin list");
    }
    const std::string list = payload.substr(open + 1, close - open - 1);
    std::vector<float>& bins = event->db_below_mw;
    size_t pos = 0;
    while (pos <= list.size()) {
        size_t comma = list.find(',', pos);
        if (comma == std::string::npos) {
            comma = list.size();
        }
        long long value = 0;
        if (bins.size() >= kChannelBins ||
            !ParseInt(list.substr(pos, comma - pos), -200, 400, &value)) {
            return Fail(error, "channel text with a bad bin list");
        }
        bins.push_back(static_cast<float>(value));
        pos = comma + 1;
    }
    if (bins.size() != kChannelBins) {
        return Fail(error,
                    "channel text with " + std::to_string(bins.size()) + " bins instead of 56");
    }
    std::string number;
    size_t after = 0;
    std::uint64_t card_time = 0;
    if (!NumberAfterKey(payload, "timestamp", close, &number, &after) ||
        !ParseUnsigned(number, &card_time)) {
        return Fail(error, "channel text without a timestamp");
    }
    double freq = 0.0;
    if (!NumberAfterKey(payload, "freq", close, &number, &after) ||
        !ParseFinite(number, 2300.0, 2600.0, &freq)) {
        return Fail(error, "channel text without a 2.4 GHz frequency");
    }
    event->card_time_us = card_time;
    event->freq_mhz = static_cast<float>(freq);
    // The text does not say how many spectra were averaged; at least one was.
    event->spectra = 1;
    return true;
}

bool ParseChannelUtil(const std::string& payload, ChannelUtilisationRecord* util,
                      std::string* error) {
    static const std::string kKey = "\"channel_util_str\"";
    const size_t key = payload.find(kKey);
    const size_t colon = key == std::string::npos ? key : payload.find(':', key + kKey.size());
    const size_t open = colon == std::string::npos ? colon : payload.find('"', colon);
    if (open == std::string::npos) {
        return Fail(error, "utilisation text without channel_util_str");
    }
    // The survey text may itself hold quotes and "timestamp", so the string
    // ends at the quote before the last timestamp key.
    const size_t ts = payload.rfind("\"timestamp\"");
    if (ts == std::string::npos || ts <= open) {
        return Fail(error, "utilisation text without a timestamp");
    }
    size_t p = ts;
    while (p > open + 1 && IsSpace(payload[p - 1])) {
        --p;
    }
    if (p <= open + 1 || payload[p - 1] != ',') {
        return Fail(error, "utilisation text with a broken string");
    }
    --p;  // now at the comma
    while (p > open + 1 && IsSpace(payload[p - 1])) {
        --p;
    }
    if (p - 1 <= open || payload[p - 1] != '"') {
        return Fail(error, "utilisation text with a broken string");
    }
    const size_t close = p - 1;
    util->survey_text = payload.substr(open + 1, close - open - 1);
    std::string number;
    size_t after = 0;
    long long host_s = 0;
    if (!NumberAfterKey(payload, "timestamp", ts, &number, &after) ||
        !ParseInt(number, 0, 1LL << 40, &host_s)) {
        return Fail(error, "utilisation text with a bad timestamp");
    }
    util->host_s = static_cast<long>(host_s);
    return true;
}

}  // namespace

bool ParseUiEvent(const std::string& text, UiEvent* event, std::string* error) {
    if (text.size() > kMaxDatagramBytes) {
        return Fail(error, "oversized event text");
    }
    if (text.find('\0') != std::string::npos) {
        return Fail(error, "event text holds a NUL byte");
    }
    *event = UiEvent();
    std::string name;
    std::string payload;
    if (!SplitEvent(text, &name, &payload, error)) {
        return false;
    }
    if (name == "devices") {
        event->type = UiEventKind::Device;
        return ParseDevices(payload, &event->device, error);
    }
    if (name == "channel") {
        event->type = UiEventKind::Spectrum;
        return ParseChannel(payload, event, error);
    }
    if (name == "channel_util_info") {
        event->type = UiEventKind::Utilisation;
        return ParseChannelUtil(payload, &event->utilisation, error);
    }
    return Fail(error, "unknown event \"" + name.substr(0, 40) + "\"");
}

double NearestMonitoredCentre(double freq_mhz) {
    for (const double centre : kMonitoredCentres) {
        if (std::fabs(freq_mhz - centre) <= 0.5) {
            return centre;
        }
    }
    return 0.0;
}

int BandOffsetBins(double freq_mhz) {
    // Single-precision difference, double product, truncated: the daemon's
    // own conversion between subband frames.
    const float diff = static_cast<float>(freq_mhz) - static_cast<float>(kBandFirstFreqMhz);
    return static_cast<int>(static_cast<double>(diff) * kBinsPerMhz);
}

}  // namespace tessaron_ui
