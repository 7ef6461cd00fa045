#include "event_json.h"

#include <cmath>
#include <ctime>

#include <nlohmann/json.hpp>

#include "band_geometry.h"

// Insertion order: type, time and sensor lead every object.
using json = nlohmann::ordered_json;

namespace {

constexpr int kSubbandCentreBin = CONST_SUBBAND_CENTER_BIN;
constexpr double kBinMhz = 0.3125;  // 1 / CONST_BINS_PER_MHZ, exact in binary
constexpr std::size_t kSubbandBins = CONST_SUBBAND_NUM_BINS;
// Wi-Fi channels 1 to 13: centre 2407 + 5 n MHz, 20 MHz wide.
constexpr int kFirstWifiChannel = 1;
constexpr int kLastWifiChannel = 13;
constexpr double kWifiHalfWidthMhz = 10.0;
constexpr std::size_t kMaxSurveyBytes = 8192;
constexpr std::size_t kMaxSensorName = 64;

// Every class a device can be announced as, with the name an engineer reads.
struct ClassLabel {
    PulseType type;
    const char* label;
};
const ClassLabel kClassLabels[] = {
    {PULSE_ANALOGPHONE, "Analog cordless phone"},
    {PULSE_ZIGBEE, "Zigbee node"},
    {PULSE_VIDEOCAM, "Analog video sender"},
    {PULSE_UNK_HIGHDUTY, "Unknown continuous emitter"},
    {PULSE_XBOX, "Game console controller"},
    {PULSE_FHSSPHONE_LOW, "FHSS cordless phone (base)"},
    {PULSE_FHSSPHONE_HIGH, "FHSS cordless phone (handset)"},
    {PULSE_BLUETOOTH, "Bluetooth data link"},
    {PULSE_BLUETOOTH_SCO, "Bluetooth audio link"},
    {PULSE_MWO, "Microwave oven"},
    {PULSE_UNK_FH, "Unknown frequency hopper"},
};

// value to the given decimals, as the nearest double to the decimal text,
// so that it prints short.
double Round(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

// Texts from the card's shell may hold any bytes; bytes that are not UTF-8
// become U+FFFD rather than making the event unwritable.
std::string Dump(const json& j) {
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

double HostSeconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

json Stamped(const char* type, const EventStamp& stamp) {
    json out;
    out["type"] = type;
    out["time"] = IsoUtcTime(stamp.host_time);
    out["host_time"] = Round(HostSeconds(stamp.host_time), 6);
    out["sensor"] = stamp.sensor;
    return out;
}

bool Fail(std::string* error, const std::string& why) {
    if (error != nullptr) {
        *error = why;
    }
    return false;
}

// Field readers for untrusted objects: the key must be there with the type
// and within the range.
bool Number(const json& j, const char* key, double lo, double hi, double* out) {
    const auto it = j.find(key);
    if (it == j.end() || !it->is_number()) {
        return false;
    }
    const double v = it->get<double>();
    if (!std::isfinite(v) || v < lo || v > hi) {
        return false;
    }
    *out = v;
    return true;
}

bool Integer(const json& j, const char* key, long long lo, long long hi, long long* out) {
    const auto it = j.find(key);
    if (it == j.end() || !it->is_number_integer()) {
        return false;
    }
    long long v = 0;
    if (it->is_number_unsigned()) {
        const auto u = it->get<unsigned long long>();
        if (u > static_cast<unsigned long long>(hi)) {
            return false;
        }
        v = static_cast<long long>(u);
    } else {
        v = it->get<long long>();
    }
    if (v < lo || v > hi) {
        return false;
    }
    *out = v;
    return true;
}

bool String(const json& j, const char* key, std::size_t max_bytes, std::string* out) {
    const auto it = j.find(key);
    if (it == j.end() || !it->is_string()) {
        return false;
    }
    const std::string& s = it->get_ref<const std::string&>();
    if (s.size() > max_bytes) {
        return false;
    }
    *out = s;
    return true;
}

bool IsNull(const json& j, const char* key) {
    const auto it = j.find(key);
    return it == j.end() || it->is_null();
}

constexpr long long kMaxHostSeconds = 1LL << 40;

// A fixed device's band: its first, centre and last bin in the subband
// centred on subband_mhz.
bool ParseFixedBand(const json& j, DeviceEventRecord* d, std::string* error) {
    const auto bins = j.find("bins");
    double subband = 0.0;
    if (!bins->is_array() || bins->size() != 3 ||
        !Number(j, "subband_mhz", 2300.0, 2600.0, &subband)) {
        return Fail(error, "fixed device without bins [start, centre, end] and subband_mhz");
    }
    int values[3];
    for (std::size_t i = 0; i < 3; ++i) {
        const json& b = (*bins)[i];
        if (!b.is_number_integer() || b.get<long long>() < 0 ||
            b.get<long long>() >= static_cast<long long>(kSubbandBins)) {
            return Fail(error, "device bin outside the subband");
        }
        values[i] = static_cast<int>(b.get<long long>());
    }
    d->band_cfreq_mhz = static_cast<float>(subband);
    d->start_bin = values[0];
    d->center_bin = values[1];
    d->end_bin = values[2];
    return true;
}

// What a device event says once the device has been seen again: when, for
// how long, and how strong. A first announcement leaves them null.
bool ParseLastSeen(const json& j, DeviceEventRecord* d, std::string* error) {
    long long last = 0;
    long long duration = 0;
    double power = 0.0;
    if (!IsNull(j, "last_seen")) {
        if (!Integer(j, "last_seen", 0, kMaxHostSeconds, &last) ||
            !Integer(j, "duration_s", -kMaxHostSeconds, kMaxHostSeconds, &duration) ||
            !Number(j, "power_dbm", -300.0, 300.0, &power)) {
            return Fail(error, "device with bad last_seen, duration_s or power_dbm");
        }
    }
    d->last_seen_s = static_cast<long>(last);
    d->duration_s = static_cast<int>(duration);
    d->power_dbm = static_cast<float>(power);
    return true;
}

bool ParseDevice(const json& j, DeviceEventRecord* d, std::string* error) {
    std::string event;
    std::string name;
    if (!String(j, "event", 16, &event) || (event != "active" && event != "ended")) {
        return Fail(error, "device without event active or ended");
    }
    d->kind = event == "ended" ? DeviceEventRecord::Kind::Ended : DeviceEventRecord::Kind::Active;
    if (!String(j, "class", 64, &name) || !PulseTypeFromName(name, &d->classification)) {
        return Fail(error, "device of an unknown class");
    }
    long long index = 0;
    long long first = 0;
    if (!Integer(j, "index", 0, 1000000, &index) ||
        !Integer(j, "first_seen", 0, kMaxHostSeconds, &first)) {
        return Fail(error, "device without index or first_seen");
    }
    d->index = static_cast<int>(index);
    d->first_seen_s = static_cast<long>(first);
    const auto hopper = j.find("hopper");
    if (hopper == j.end() || !hopper->is_boolean()) {
        return Fail(error, "device without hopper flag");
    }
    d->hopper = hopper->get<bool>();
    if (!ParseLastSeen(j, d, error)) {
        return false;
    }
    return d->hopper || IsNull(j, "bins") || ParseFixedBand(j, d, error);
}

bool ParseSpectrum(const json& j, ParsedEvent* e, std::string* error) {
    double freq = 0.0;
    long long card_time = 0;
    long long spectra = 0;
    if (!Number(j, "freq_mhz", 2300.0, 2600.0, &freq) ||
        !Integer(j, "card_time_us", 0, (1LL << 62), &card_time) ||
        !Integer(j, "spectra", 1, 1000000, &spectra)) {
        return Fail(error, "spectrum without freq_mhz, card_time_us or spectra");
    }
    e->freq_mhz = static_cast<float>(freq);
    e->card_time_us = static_cast<u64>(card_time);
    e->spectra = static_cast<long>(spectra);
    const auto power = j.find("power_dbm");
    if (power == j.end() || !power->is_array() || power->size() != kSubbandBins) {
        return Fail(error, "spectrum without 56 power_dbm values");
    }
    for (const json& v : *power) {
        if (!v.is_number() || !std::isfinite(v.get<double>()) || v.get<double>() < -300.0 ||
            v.get<double>() > 300.0) {
            return Fail(error, "spectrum with a bad power value");
        }
        e->db_below_mw.push_back(static_cast<float>(-v.get<double>()));
    }
    if (IsNull(j, "duty")) {
        return true;
    }
    const auto duty = j.find("duty");
    if (!duty->is_array() || duty->size() != kSubbandBins) {
        return Fail(error, "spectrum with duty that is not 56 values");
    }
    for (const json& v : *duty) {
        if (!v.is_number() || !(v.get<double>() >= 0.0 && v.get<double>() <= 1.0)) {
            return Fail(error, "spectrum with a duty outside 0 to 1");
        }
        e->above_noise.push_back(static_cast<int>(std::lround(v.get<double>() * spectra)));
    }
    return true;
}

bool ParseUtilisation(const json& j, ParsedEvent* e, std::string* error) {
    long long host = 0;
    double freq = 0.0;
    if (!String(j, "survey", kMaxSurveyBytes, &e->utilisation.survey_text) ||
        !Integer(j, "survey_host_s", 0, kMaxHostSeconds, &host)) {
        return Fail(error, "utilisation without survey or survey_host_s");
    }
    if (!IsNull(j, "freq_mhz") && !Number(j, "freq_mhz", 2300.0, 2600.0, &freq)) {
        return Fail(error, "utilisation with a bad freq_mhz");
    }
    e->utilisation.host_s = static_cast<long>(host);
    e->utilisation.freq_mhz = static_cast<float>(freq);
    return true;
}

}  // namespace

std::string IsoUtcTime(const timeval& t) {
    const time_t seconds = t.tv_sec;
    tm utc{};
    gmtime_r(&seconds, &utc);
    char text[48];
    const long usec = t.tv_usec >= 0 && t.tv_usec < 1000000 ? static_cast<long>(t.tv_usec) : 0;
    snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d.%06ldZ", utc.tm_year + 1900,
             utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, usec);
    return text;
}

std::string DeviceLabel(PulseType classification) {
    for (const ClassLabel& c : kClassLabels) {
        if (c.type == classification) {
            return c.label;
        }
    }
    return "Unclassified device";
}

bool PulseTypeFromName(const std::string& name, PulseType* classification) {
    for (const ClassLabel& c : kClassLabels) {
        if (RssiPulse::getClassification(c.type) == name) {
            *classification = c.type;
            return true;
        }
    }
    if (name == RssiPulse::getClassification(PULSE_NONE)) {
        *classification = PULSE_NONE;
        return true;
    }
    return false;
}

bool DeviceBandMhz(const DeviceEventRecord& device, double* low_mhz, double* high_mhz) {
    if (device.hopper || device.band_cfreq_mhz <= 0.0f || device.end_bin < device.start_bin) {
        return false;
    }
    *low_mhz = device.band_cfreq_mhz + (device.start_bin - kSubbandCentreBin - 0.5) * kBinMhz;
    *high_mhz = device.band_cfreq_mhz + (device.end_bin - kSubbandCentreBin + 0.5) * kBinMhz;
    return true;
}

std::vector<int> WifiChannelsOverlapped(const DeviceEventRecord& device) {
    std::vector<int> channels;
    double low = 0.0;
    double high = 0.0;
    const bool banded = DeviceBandMhz(device, &low, &high);
    for (int ch = kFirstWifiChannel; ch <= kLastWifiChannel; ++ch) {
        const double centre = 2407.0 + 5.0 * ch;
        if (!banded || (low < centre + kWifiHalfWidthMhz && high > centre - kWifiHalfWidthMhz)) {
            channels.push_back(ch);
        }
    }
    return channels;
}

bool IsValidSensorName(const std::string& name) {
    if (name.empty() || name.size() > kMaxSensorName) {
        return false;
    }
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        if (!ok) {
            return false;
        }
    }
    return true;
}

bool TakeSensorName(const std::string& value, std::string* sensor, std::string* error) {
    if (!IsValidSensorName(value)) {
        *error = "--sensor needs 1 to 64 letters, digits, '-', '_' or '.', got '" + value + "'";
        return false;
    }
    *sensor = value;
    return true;
}

std::string DeviceEventJson(const DeviceEventRecord& d, const EventStamp& stamp) {
    json out = Stamped("device", stamp);
    const bool ended = d.kind == DeviceEventRecord::Kind::Ended;
    out["event"] = ended ? "ended" : "active";
    out["class"] = RssiPulse::getClassification(d.classification);
    out["label"] = DeviceLabel(d.classification);
    out["index"] = d.index;
    out["hopper"] = d.hopper;
    double low = 0.0;
    double high = 0.0;
    if (DeviceBandMhz(d, &low, &high)) {
        out["freq_mhz"] = Round(d.band_cfreq_mhz + (d.center_bin - kSubbandCentreBin) * kBinMhz, 2);
        out["band_mhz"] = {Round(low, 2), Round(high, 2)};
        out["subband_mhz"] = Round(d.band_cfreq_mhz, 2);
        out["bins"] = {d.start_bin, d.center_bin, d.end_bin};
    } else {
        out["freq_mhz"] = nullptr;
        out["band_mhz"] = nullptr;
        out["subband_mhz"] = nullptr;
        out["bins"] = nullptr;
    }
    out["wifi_channels"] = WifiChannelsOverlapped(d);
    out["first_seen"] = d.first_seen_s;
    // An end names the device by class and first second; its other figures
    // are those of the last announcement.
    const bool known = d.last_seen_s > 0;
    out["last_seen"] = known ? json(d.last_seen_s) : json(nullptr);
    out["duration_s"] = known ? json(d.duration_s) : json(nullptr);
    out["power_dbm"] = known ? json(Round(d.power_dbm, 2)) : json(nullptr);
    return Dump(out);
}

std::string ChannelSpectrumJson(const ChannelSpectrumRecord& s, const EventStamp& stamp) {
    json out = Stamped("spectrum", stamp);
    out["freq_mhz"] = Round(s.freq_mhz, 2);
    out["card_time_us"] = s.card_time_us;
    out["spectra"] = s.spectra;
    out["bin_mhz"] = kBinMhz;
    out["first_bin_mhz"] = Round(s.freq_mhz - kSubbandCentreBin * kBinMhz, 4);
    json power = json::array();
    json duty = json::array();
    for (std::size_t i = 0; s.db_below_mw != nullptr && i < s.bins; ++i) {
        const double v = std::isfinite(s.db_below_mw[i]) ? -s.db_below_mw[i] : -300.0;
        power.push_back(Round(v, 1));
        if (s.above_noise != nullptr && s.spectra > 0) {
            duty.push_back(Round(static_cast<double>(s.above_noise[i]) / s.spectra, 3));
        }
    }
    out["power_dbm"] = power;
    out["duty"] = duty.empty() ? json(nullptr) : duty;
    return Dump(out);
}

std::string ChannelUtilisationJson(const ChannelUtilisationRecord& u, const EventStamp& stamp) {
    json out = Stamped("utilisation", stamp);
    out["freq_mhz"] = u.freq_mhz > 0.0f ? json(Round(u.freq_mhz, 2)) : json(nullptr);
    out["survey"] = u.survey_text.substr(0, kMaxSurveyBytes);
    out["survey_host_s"] = u.host_s;
    return Dump(out);
}

ChannelSpectrumRecord ParsedEvent::Spectrum() const {
    ChannelSpectrumRecord s;
    s.card_time_us = card_time_us;
    s.freq_mhz = freq_mhz;
    s.spectra = spectra;
    s.db_below_mw = db_below_mw.data();
    s.bins = db_below_mw.size();
    s.above_noise = above_noise.size() == db_below_mw.size() ? above_noise.data() : nullptr;
    return s;
}

bool ParseEventJson(const std::string& text, ParsedEvent* event, std::string* error) {
    *event = ParsedEvent();
    const json j = json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        return Fail(error, "not a JSON object");
    }
    std::string type;
    if (!String(j, "type", 32, &type)) {
        return Fail(error, "no type");
    }
    if (!String(j, "sensor", kMaxSensorName, &event->sensor) || !IsValidSensorName(event->sensor)) {
        return Fail(error, "no valid sensor name");
    }
    if (!Number(j, "host_time", 0.0, static_cast<double>(kMaxHostSeconds), &event->host_time_s)) {
        return Fail(error, "no host_time");
    }
    if (type == "device") {
        event->type = ParsedEvent::Type::Device;
        return ParseDevice(j, &event->device, error);
    }
    if (type == "spectrum") {
        event->type = ParsedEvent::Type::Spectrum;
        return ParseSpectrum(j, event, error);
    }
    if (type == "utilisation") {
        event->type = ParsedEvent::Type::Utilisation;
        return ParseUtilisation(j, event, error);
    }
    return Fail(error, "unknown type \"" + type.substr(0, 32) + "\"");
}
