#include "ui_state.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

namespace tessaron_ui {

using nlohmann::json;

namespace {

constexpr double kNoiseFloorBinDb = 85.0;  // -85 dBm, the daemon's noise floor per bin
constexpr size_t kMaxHistorySpans = 20;

long long FreqKey(double freq_mhz) {
    return std::llround(freq_mhz * 1000.0);
}

std::string Dump(const json& j) {
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

// value to the given decimals, as the nearest double to the decimal text,
// so that it prints short.
double Round(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

// The one monitored centre frequency the survey text names as a whole number
// (for example "2437 MHz"), or 0 when it names none or several.
double CentreNamedIn(const std::string& text) {
    std::set<long long> named;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] < '0' || text[i] > '9') {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < text.size() && text[j] >= '0' && text[j] <= '9') {
            ++j;
        }
        if (j - i == 4) {
            const double centre = NearestMonitoredCentre(std::stod(text.substr(i, 4)));
            if (centre > 0.0) {
                named.insert(FreqKey(centre));
            }
        }
        i = j;
    }
    return named.size() == 1 ? static_cast<double>(*named.begin()) / 1000.0 : 0.0;
}

json UtilJson(const UtilRecord& util) {
    return {{"text", util.text}, {"timestamp", util.timestamp}, {"received_ms", util.received_ms}};
}

// Two reports of one physical device as heard by different sensors, or by one
// sensor at different times: same class, and for fixed devices overlapping
// bands.
bool SameEmitter(const DeviceRecord& a, const DeviceRecord& b) {
    if (a.classification != b.classification || a.hopper != b.hopper) {
        return false;
    }
    if (a.hopper) {
        return true;
    }
    double alow = 0, ahigh = 0, blow = 0, bhigh = 0;
    const bool abanded = DeviceBandMhz(a.AsEvent(), &alow, &ahigh);
    const bool bbanded = DeviceBandMhz(b.AsEvent(), &blow, &bhigh);
    return abanded && bbanded && alow < bhigh && blow < ahigh;
}

template <typename Map>
std::vector<typename Map::mapped_type> Values(const Map& map) {
    std::vector<typename Map::mapped_type> out;
    for (const auto& entry : map) {
        out.push_back(entry.second);
    }
    return out;
}

std::string PromLabel(const std::string& value) {
    std::string out;
    for (const char c : value) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::string DeviceRecord::ClassName() const {
    return RssiPulse::getClassification(classification);
}

DeviceEventRecord DeviceRecord::AsEvent() const {
    DeviceEventRecord e;
    e.kind = ended ? DeviceEventRecord::Kind::Ended : DeviceEventRecord::Kind::Active;
    e.index = index;
    e.classification = classification;
    e.hopper = hopper;
    e.first_seen_s = static_cast<long>(first_seen);
    e.last_seen_s = static_cast<long>(last_seen);
    e.duration_s = static_cast<int>(duration);
    e.power_dbm = static_cast<float>(power_dbm);
    e.band_cfreq_mhz = static_cast<float>(freq_mhz);
    e.start_bin = start_bin;
    e.center_bin = centre_bin;
    e.end_bin = end_bin;
    return e;
}

double ChannelRecord::Utilisation() const {
    if (!duty.empty()) {
        double sum = 0.0;
        for (const double d : duty) {
            sum += d;
        }
        return sum / static_cast<double>(duty.size());
    }
    if (bins.empty()) {
        return 0.0;
    }
    const auto busy =
        std::count_if(bins.begin(), bins.end(), [](int v) { return v < kNoiseFloorBinDb; });
    return static_cast<double>(busy) / static_cast<double>(bins.size());
}

SensorRecord& UiState::Sensor(const std::string& name, bool from_udp) {
    SensorRecord& s = sensors_[name];
    if (s.name.empty()) {
        s.name = name;
        s.source = from_udp ? "udp" : "mqtt";
    }
    return s;
}

void UiState::Apply(const UiEvent& event, std::int64_t now_ms, bool from_udp) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++(from_udp ? counters_.datagrams : counters_.mqtt_messages);
    SensorRecord& sensor = Sensor(event.sensor, from_udp);
    sensor.last_heard_ms = now_ms;
    ++sensor.events;
    if (!from_udp && sensor.status.empty()) {
        sensor.status = "online";
    }
    switch (event.type) {
        case UiEventKind::Device:
            ++counters_.devices_events;
            ApplyDevice(event.sensor, event.device, now_ms);
            break;
        case UiEventKind::Spectrum:
            ++counters_.channel_events;
            ApplyChannel(event.sensor, event, now_ms);
            break;
        case UiEventKind::Utilisation:
            ++counters_.util_events;
            ApplyUtil(event.sensor, event.utilisation, now_ms);
            break;
    }
}

void UiState::CountMalformed(const std::string& why, bool from_udp) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (from_udp) {
        ++counters_.datagrams;
        ++counters_.malformed;
    } else {
        ++counters_.mqtt_messages;
        ++counters_.mqtt_malformed;
    }
    counters_.last_error = why;
}

void UiState::CountOversized(size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counters_.datagrams;
    ++counters_.oversized;
    counters_.last_error = "oversized datagram of " + std::to_string(bytes) + " bytes";
}

void UiState::CountKernelDropped(std::uint64_t datagrams) {
    std::lock_guard<std::mutex> lock(mutex_);
    counters_.kernel_dropped += datagrams;
}

void UiState::SetSensorStatus(const std::string& sensor, const std::string& status,
                              std::int64_t now_ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counters_.mqtt_messages;
    SensorRecord& s = Sensor(sensor, false);
    s.status = status;
    s.last_heard_ms = std::max(s.last_heard_ms, now_ms);
}

void UiState::EndDevice(DeviceRecord* device, std::int64_t now_ms, bool announced) {
    device->ended = true;
    device->end_announced = announced;
    device->ended_ms = now_ms;
}

// A device is known by its sensor, class and first-seen second: the daemon
// keeps the earliest start of a tracked device, and its end event carries
// exactly those.
void UiState::ApplyDevice(const std::string& sensor, const DeviceEventRecord& report,
                          std::int64_t now_ms) {
    Expire(now_ms);
    const bool ended = report.kind == DeviceEventRecord::Kind::Ended;
    DeviceCounts& counts =
        device_counts_[{sensor, RssiPulse::getClassification(report.classification)}];
    ++(ended ? counts.ends : counts.announcements);
    auto same = [&](const DeviceRecord& d) {
        return d.sensor == sensor && d.classification == report.classification &&
               d.first_seen == report.first_seen_s;
    };
    auto it = std::find_if(devices_.begin(), devices_.end(),
                           [&](const DeviceRecord& d) { return !d.ended && same(d); });
    if (ended) {
        if (it != devices_.end()) {
            EndDevice(&*it, now_ms, true);
            return;
        }
        if (std::any_of(devices_.begin(), devices_.end(),
                        [&](const DeviceRecord& d) { return d.ended && same(d); })) {
            return;
        }
        // An end whose life this server never saw (started late).
        DeviceRecord device;
        device.sensor = sensor;
        device.classification = report.classification;
        device.hopper = report.hopper;
        device.first_seen = report.first_seen_s;
        device.updated_ms = now_ms;
        EndDevice(&device, now_ms, true);
        devices_.push_back(device);
        return;
    }
    if (it == devices_.end()) {
        // Re-announced after being ended for silence: bring it back.
        it = std::find_if(devices_.begin(), devices_.end(), [&](const DeviceRecord& d) {
            return d.ended && !d.end_announced && same(d);
        });
    }
    if (it == devices_.end()) {
        devices_.emplace_back();
        it = devices_.end() - 1;
        it->sensor = sensor;
        it->classification = report.classification;
        it->first_seen = report.first_seen_s;
    }
    it->ended = false;
    it->end_announced = false;
    it->ended_ms = 0;
    it->hopper = report.hopper;
    it->freq_mhz = report.hopper ? 0.0 : report.band_cfreq_mhz;
    it->start_bin = report.hopper ? -1 : report.start_bin;
    it->centre_bin = report.hopper ? -1 : report.center_bin;
    it->end_bin = report.hopper ? -1 : report.end_bin;
    it->power_dbm = report.power_dbm;
    it->last_seen = report.last_seen_s;
    it->duration = report.duration_s;
    it->index = report.index;
    it->updated_ms = now_ms;
    ++it->reports;
}

void UiState::ApplyChannel(const std::string& sensor, const UiEvent& event, std::int64_t now_ms) {
    ChannelRecord& channel = channels_[{sensor, FreqKey(event.freq_mhz)}];
    channel.sensor = sensor;
    channel.freq_mhz = event.freq_mhz;
    channel.bins.clear();
    for (const float v : event.db_below_mw) {
        channel.bins.push_back(static_cast<int>(v));
    }
    channel.duty.clear();
    if (event.above_noise.size() == event.db_below_mw.size() && event.spectra > 0) {
        for (const int n : event.above_noise) {
            channel.duty.push_back(static_cast<double>(n) / static_cast<double>(event.spectra));
        }
    }
    channel.mac_time = event.card_time_us;
    channel.received_ms = now_ms;
    ++channel.spectra;
    PendingUtil& pending = pending_util_[sensor];
    if (pending.pending) {
        if (now_ms - pending.util.received_ms <= kUtilPairingMs) {
            channel.has_util = true;
            channel.util = pending.util;
        }
        pending.pending = false;
    }
}

void UiState::ApplyUtil(const std::string& sensor, const ChannelUtilisationRecord& report,
                        std::int64_t now_ms) {
    UtilRecord util;
    util.text = report.survey_text;
    util.timestamp = report.host_s;
    util.received_ms = now_ms;
    latest_util_[sensor] = util;
    const double named =
        report.freq_mhz > 0.0f ? NearestMonitoredCentre(report.freq_mhz) : CentreNamedIn(util.text);
    if (named > 0.0) {
        ChannelRecord& channel = channels_[{sensor, FreqKey(named)}];
        channel.sensor = sensor;
        channel.freq_mhz = named;
        channel.has_util = true;
        channel.util = util;
        pending_util_[sensor].pending = false;
        return;
    }
    // The survey of a visit is sent just before that visit's spectrum.
    pending_util_[sensor] = {true, util};
}

void UiState::Expire(std::int64_t now_ms) {
    for (DeviceRecord& d : devices_) {
        if (!d.ended && now_ms - d.updated_ms > kSilentDeviceEndMs) {
            EndDevice(&d, now_ms, false);
        }
    }
    devices_.erase(std::remove_if(devices_.begin(), devices_.end(),
                                  [now_ms](const DeviceRecord& d) {
                                      return d.ended && now_ms - d.ended_ms > kEndedDeviceKeepMs;
                                  }),
                   devices_.end());
    std::vector<std::int64_t> ended_times;
    for (const DeviceRecord& d : devices_) {
        if (d.ended) {
            ended_times.push_back(d.ended_ms);
        }
    }
    if (ended_times.size() <= kMaxEndedDevices) {
        return;
    }
    // Drop the oldest ends beyond the limit (ties go in list order).
    std::sort(ended_times.begin(), ended_times.end());
    const std::int64_t cutoff = ended_times[ended_times.size() - kMaxEndedDevices];
    size_t excess = ended_times.size() - kMaxEndedDevices;
    devices_.erase(std::remove_if(devices_.begin(), devices_.end(),
                                  [&](const DeviceRecord& d) {
                                      if (excess > 0 && d.ended && d.ended_ms <= cutoff) {
                                          --excess;
                                          return true;
                                      }
                                      return false;
                                  }),
                   devices_.end());
}

std::vector<DeviceRecord> UiState::Devices(std::int64_t now_ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    Expire(now_ms);
    std::vector<DeviceRecord> out = devices_;
    // Active devices by first detection, then ended ones, latest end first.
    std::stable_sort(out.begin(), out.end(), [](const DeviceRecord& a, const DeviceRecord& b) {
        if (a.ended != b.ended) {
            return !a.ended;
        }
        if (!a.ended) {
            return a.first_seen < b.first_seen;
        }
        return a.ended_ms > b.ended_ms;
    });
    return out;
}

std::vector<ChannelRecord> UiState::Channels() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return Values(channels_);
}

std::vector<SensorRecord> UiState::Sensors() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return Values(sensors_);
}

UiCounters UiState::Counters() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return counters_;
}

// The device as the air-quality model sees it: its duty measured on the bins
// it occupies when the feed carries duty, else the typical one of its class.
Interferer UiState::AsInterferer(const DeviceRecord& d, bool* measured) const {
    Interferer i;
    i.classification = d.classification;
    i.hopper = d.hopper;
    i.power_dbm = d.power_dbm;
    i.duty = TypicalDuty(d.classification);
    *measured = false;
    if (d.hopper || !DeviceBandMhz(d.AsEvent(), &i.low_mhz, &i.high_mhz)) {
        return i;
    }
    const auto it = channels_.find({d.sensor, FreqKey(d.freq_mhz)});
    if (it == channels_.end() || it->second.duty.size() != kChannelBins || d.start_bin < 0 ||
        d.end_bin >= static_cast<int>(kChannelBins) || d.end_bin < d.start_bin) {
        return i;
    }
    double sum = 0.0;
    for (int b = d.start_bin; b <= d.end_bin; ++b) {
        sum += it->second.duty[static_cast<size_t>(b)];
    }
    i.duty = sum / (d.end_bin - d.start_bin + 1);
    *measured = true;
    return i;
}

std::map<std::string, std::vector<ChannelQuality>> UiState::QualityLocked() const {
    std::map<std::string, std::vector<Interferer>> by_sensor;
    for (const auto& entry : sensors_) {
        by_sensor[entry.first];
    }
    for (const DeviceRecord& d : devices_) {
        if (!d.ended && d.reports > 0) {
            bool measured = false;
            by_sensor[d.sensor].push_back(AsInterferer(d, &measured));
        }
    }
    std::map<std::string, std::vector<ChannelQuality>> out;
    for (const auto& entry : by_sensor) {
        for (int ch = kFirstWifiChannel; ch <= kLastWifiChannel; ++ch) {
            out[entry.first].push_back(AssessChannel(ch, entry.second));
        }
    }
    return out;
}

std::map<std::string, std::vector<ChannelQuality>> UiState::Quality(std::int64_t now_ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    Expire(now_ms);
    return QualityLocked();
}

namespace {

// What the page shows of a device as the daemon described it.
json DescribedDevice(const DeviceRecord& d) {
    const bool seen_alive = d.reports > 0;
    const json event = json::parse(DeviceEventJson(d.AsEvent(), {d.sensor, {0, 0}}));
    json out;
    out["sensor"] = d.sensor;
    out["class"] = d.ClassName();
    out["label"] = DeviceLabel(d.classification);
    out["kind"] = d.hopper ? "hopper" : (seen_alive ? "fixed" : "unknown");
    for (const char* key : {"freq_mhz", "band_mhz", "subband_mhz", "bins"}) {
        out[key] = seen_alive ? event[key] : json(nullptr);
    }
    out["wifi_channels"] = seen_alive ? event["wifi_channels"] : json::array();
    out["power_dbm"] = seen_alive ? json(Round(d.power_dbm, 2)) : json(nullptr);
    out["first_seen"] = d.first_seen;
    out["last_seen"] = seen_alive ? json(d.last_seen) : json(nullptr);
    out["duration_s"] = seen_alive ? json(d.duration) : json(nullptr);
    out["state"] = d.ended ? "ended" : "active";
    out["end"] = !d.ended ? json(nullptr) : json(d.end_announced ? "announced" : "silent");
    out["index"] = d.index;
    out["updated_ms"] = d.updated_ms;
    out["ended_ms"] = d.ended ? json(d.ended_ms) : json(nullptr);
    out["reports"] = d.reports;
    return out;
}

// Earlier lives of the same emitter on this sensor: its on/off history.
json HistoryOf(const DeviceRecord& d, const std::vector<DeviceRecord>& all) {
    json history = json::array();
    for (const DeviceRecord& other : all) {
        if (other.sensor == d.sensor && other.reports > 0 && SameEmitter(other, d) &&
            history.size() < kMaxHistorySpans) {
            history.push_back({other.first_seen, other.last_seen});
        }
    }
    std::sort(history.begin(), history.end());
    return history;
}

// Of the sensors hearing this emitter now, the loudest is likely the nearest.
const DeviceRecord* LoudestOf(const DeviceRecord& d, const std::vector<DeviceRecord>& all) {
    const DeviceRecord* loudest = nullptr;
    for (const DeviceRecord& other : all) {
        if (!other.ended && other.reports > 0 && SameEmitter(other, d) &&
            (loudest == nullptr || other.power_dbm > loudest->power_dbm)) {
            loudest = &other;
        }
    }
    return loudest;
}

}  // namespace

std::string UiState::DevicesJson(std::int64_t now_ms) {
    const std::vector<DeviceRecord> devices = Devices(now_ms);
    std::lock_guard<std::mutex> lock(mutex_);
    json list = json::array();
    for (const DeviceRecord& d : devices) {
        json out = DescribedDevice(d);
        out["duty"] = nullptr;
        out["duty_measured"] = false;
        out["impact"] = nullptr;
        out["impact_channel"] = nullptr;
        if (d.reports > 0) {
            bool measured = false;
            const Interferer interferer = AsInterferer(d, &measured);
            int worst_channel = 0;
            out["duty"] = Round(interferer.duty, 3);
            out["duty_measured"] = measured;
            out["impact"] = DeviceImpact(interferer, &worst_channel);
            out["impact_channel"] = worst_channel > 0 ? json(worst_channel) : json(nullptr);
        }
        out["history"] = HistoryOf(d, devices_);
        const DeviceRecord* loudest = LoudestOf(d, devices_);
        out["strongest_sensor"] = loudest != nullptr ? json(loudest->sensor) : json(nullptr);
        out["strongest_dbm"] =
            loudest != nullptr ? json(Round(loudest->power_dbm, 2)) : json(nullptr);
        list.push_back(out);
    }
    return Dump({{"now_ms", now_ms}, {"devices", list}});
}

std::string UiState::ChannelsJson(std::int64_t now_ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    Expire(now_ms);
    json channels = json::array();
    for (const auto& entry : channels_) {
        const ChannelRecord& c = entry.second;
        json out;
        out["sensor"] = c.sensor;
        out["freq_mhz"] = Round(c.freq_mhz, 2);
        out["band_offset"] = NearestMonitoredCentre(c.freq_mhz) > 0.0
                                 ? json(BandOffsetBins(c.freq_mhz))
                                 : json(nullptr);
        out["mac_time"] = c.mac_time;
        out["received_ms"] = c.received_ms;
        out["spectra"] = c.spectra;
        json power = json::array();
        for (const int v : c.bins) {
            power.push_back(-v);
        }
        out["power_dbm"] = power;
        out["duty"] = c.duty.empty() ? json(nullptr) : json(c.duty);
        out["utilisation"] = Round(c.Utilisation(), 3);
        out["util"] = c.has_util ? UtilJson(c.util) : json(nullptr);
        channels.push_back(out);
    }
    json quality = json::array();
    for (const auto& entry : QualityLocked()) {
        for (const ChannelQuality& q : entry.second) {
            quality.push_back({{"sensor", entry.first},
                               {"channel", q.channel},
                               {"centre_mhz", WifiCentreMhz(q.channel)},
                               {"quality", q.quality},
                               {"airtime_lost", Round(q.airtime_lost, 3)},
                               {"worst_sinr_loss_db", Round(q.worst_sinr_loss_db, 1)}});
        }
    }
    json latest = json::object();
    for (const auto& entry : latest_util_) {
        latest[entry.first] = UtilJson(entry.second);
    }
    json band = {
        {"bins", kBandBins}, {"bins_per_mhz", kBinsPerMhz}, {"first_freq_mhz", kBandFirstFreqMhz}};
    return Dump(
        {{"band", band}, {"channels", channels}, {"quality", quality}, {"latest_util", latest}});
}

std::string UiState::SensorsJson(std::int64_t now_ms) const {
    std::lock_guard<std::mutex> lock(mutex_);
    json list = json::array();
    for (const auto& entry : sensors_) {
        const SensorRecord& s = entry.second;
        list.push_back({{"name", s.name},
                        {"source", s.source},
                        {"status", s.status.empty() ? json(nullptr) : json(s.status)},
                        {"last_heard_ms", s.last_heard_ms},
                        {"silent_s", (now_ms - s.last_heard_ms) / 1000},
                        {"events", s.events}});
    }
    return Dump({{"now_ms", now_ms}, {"sensors", list}});
}

std::string UiState::StatsJson(const std::string& extra_fields) const {
    const UiCounters c = Counters();
    json out = {{"datagrams", c.datagrams},
                {"devices_events", c.devices_events},
                {"channel_events", c.channel_events},
                {"util_events", c.util_events},
                {"malformed", c.malformed},
                {"oversized", c.oversized},
                {"kernel_dropped", c.kernel_dropped},
                {"mqtt_messages", c.mqtt_messages},
                {"mqtt_malformed", c.mqtt_malformed},
                {"last_error", c.last_error.empty() ? json(nullptr) : json(c.last_error)}};
    if (!extra_fields.empty()) {
        const json extra = json::parse("{" + extra_fields + "}", nullptr, false);
        if (extra.is_object()) {
            out.update(extra);
        }
    }
    return Dump(out);
}

namespace {

void MetricHead(std::ostream& m, const char* name, const char* type, const char* help) {
    m << "# HELP " << name << " " << help << "\n# TYPE " << name << " " << type << "\n";
}

// One sample labelled with its sensor and one more label.
template <typename Value>
void LabelledSample(std::ostream& m, const char* name, const std::string& sensor, const char* label,
                    const std::string& label_text, const Value& value) {
    m << name << "{sensor=\"" << PromLabel(sensor) << "\"," << label << "=\"" << label_text
      << "\"} " << value << "\n";
}

}  // namespace

std::string UiState::MetricsText(std::int64_t now_ms, std::uint64_t sse_dropped) {
    std::lock_guard<std::mutex> lock(mutex_);
    Expire(now_ms);
    std::ostringstream m;
    DeviceMetrics(m);
    CounterMetrics(m, sse_dropped);
    ChannelMetrics(m);
    return m.str();
}

void UiState::DeviceMetrics(std::ostream& m) const {
    std::map<std::pair<std::string, std::string>, int> active;
    for (const DeviceRecord& d : devices_) {
        if (!d.ended && d.reports > 0) {
            ++active[{d.sensor, d.ClassName()}];
        }
    }
    MetricHead(m, "tessaron_active_devices", "gauge",
               "Devices announced and not ended, by sensor and class.");
    for (const auto& [key, count] : active) {
        LabelledSample(m, "tessaron_active_devices", key.first, "class", PromLabel(key.second),
                       count);
    }
    MetricHead(m, "tessaron_device_announcements_total", "counter",
               "Device announcements received.");
    for (const auto& [key, counts] : device_counts_) {
        LabelledSample(m, "tessaron_device_announcements_total", key.first, "class",
                       PromLabel(key.second), counts.announcements);
    }
    MetricHead(m, "tessaron_device_ends_total", "counter", "Device ends received.");
    for (const auto& [key, counts] : device_counts_) {
        LabelledSample(m, "tessaron_device_ends_total", key.first, "class", PromLabel(key.second),
                       counts.ends);
    }
}

// The page server's own counters: one unlabelled sample each.
void UiState::CounterMetrics(std::ostream& m, std::uint64_t sse_dropped) const {
    auto counter = [&m](const char* name, const char* help, std::uint64_t value) {
        MetricHead(m, name, "counter", help);
        m << name << " " << value << "\n";
    };
    counter("tessaron_ui_datagrams_received_total", "UDP event datagrams received.",
            counters_.datagrams);
    counter("tessaron_ui_datagrams_malformed_total", "UDP event datagrams not understood.",
            counters_.malformed);
    counter("tessaron_ui_datagrams_dropped_total",
            "UDP event datagrams lost: oversized, or no room in the socket buffer.",
            counters_.oversized + counters_.kernel_dropped);
    counter("tessaron_ui_mqtt_messages_received_total", "MQTT messages received.",
            counters_.mqtt_messages);
    counter("tessaron_ui_mqtt_messages_malformed_total", "MQTT messages not understood.",
            counters_.mqtt_malformed);
    counter("tessaron_ui_page_events_dropped_total",
            "Events not delivered to pages that read too slowly.", sse_dropped);
}

void UiState::ChannelMetrics(std::ostream& m) const {
    MetricHead(m, "tessaron_channel_utilisation_ratio", "gauge",
               "Busy share of the latest visit of each monitored channel (0 to 1).");
    for (const auto& entry : channels_) {
        const ChannelRecord& c = entry.second;
        if (!c.bins.empty()) {
            LabelledSample(m, "tessaron_channel_utilisation_ratio", c.sensor, "freq_mhz",
                           std::to_string(std::llround(c.freq_mhz)), Round(c.Utilisation(), 3));
        }
    }
    const auto quality = QualityLocked();
    MetricHead(m, "tessaron_channel_air_quality", "gauge",
               "Air quality of each Wi-Fi channel, 0 (unusable) to 100 (clean).");
    for (const auto& [sensor, channels] : quality) {
        for (const ChannelQuality& q : channels) {
            LabelledSample(m, "tessaron_channel_air_quality", sensor, "channel",
                           std::to_string(q.channel), q.quality);
        }
    }
    MetricHead(m, "tessaron_channel_airtime_lost_ratio", "gauge",
               "Share of a Wi-Fi channel's airtime held by interferers above energy detect.");
    for (const auto& [sensor, channels] : quality) {
        for (const ChannelQuality& q : channels) {
            LabelledSample(m, "tessaron_channel_airtime_lost_ratio", sensor, "channel",
                           std::to_string(q.channel), Round(q.airtime_lost, 3));
        }
    }
}

}  // namespace tessaron_ui
