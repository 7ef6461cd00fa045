#include "ui_state.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "json_text.h"

namespace tessaron_ui {

namespace {

long long FreqKey(double freq_mhz) {
    return std::llround(freq_mhz * 1000.0);
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
            const double value = std::stod(text.substr(i, 4));
            const double centre = NearestMonitoredCentre(value);
            if (centre > 0.0) {
                named.insert(FreqKey(centre));
            }
        }
        i = j;
    }
    return named.size() == 1 ? static_cast<double>(*named.begin()) / 1000.0 : 0.0;
}

std::string UtilJson(const UtilRecord& util) {
    return "{\"text\":" + JsonString(util.text) +
           ",\"timestamp\":" + std::to_string(util.timestamp) +
           ",\"received_ms\":" + std::to_string(util.received_ms) + "}";
}

std::string DeviceJson(const DeviceRecord& d) {
    const bool seen_alive = d.reports > 0;
    std::string out = "{\"class\":" + JsonString(d.class_name);
    out += ",\"kind\":\"";
    out += d.hopper ? "hopper" : (seen_alive ? "fixed" : "unknown");
    out += "\",\"freq_mhz\":";
    out += (!d.hopper && seen_alive) ? JsonNumber(d.freq_mhz, 2) : "null";
    out += ",\"bins\":";
    if (d.start_bin >= 0) {
        out += "[" + std::to_string(d.start_bin) + "," + std::to_string(d.centre_bin) + "," +
               std::to_string(d.end_bin) + "]";
    } else {
        out += "null";
    }
    out += ",\"power_dbm\":" + (seen_alive ? JsonNumber(d.power_dbm, 2) : std::string("null"));
    out += ",\"first_seen\":" + std::to_string(d.first_seen);
    out += ",\"last_seen\":" + (seen_alive ? std::to_string(d.last_seen) : std::string("null"));
    out += ",\"duration_s\":" + (seen_alive ? std::to_string(d.duration) : std::string("null"));
    out += ",\"state\":\"";
    out += d.ended ? "ended" : "active";
    out += "\",\"end\":";
    out += !d.ended ? "null" : (d.end_announced ? "\"announced\"" : "\"silent\"");
    out += ",\"index\":" + std::to_string(d.index);
    out += ",\"updated_ms\":" + std::to_string(d.updated_ms);
    out += ",\"ended_ms\":" + (d.ended ? std::to_string(d.ended_ms) : std::string("null"));
    out += ",\"reports\":" + std::to_string(d.reports) + "}";
    return out;
}

}  // namespace

void UiState::Apply(const UiEvent& event, std::int64_t now_ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counters_.datagrams;
    switch (event.kind) {
        case UiEventKind::kDevices:
            ++counters_.devices_events;
            ApplyDevice(event.device, now_ms);
            break;
        case UiEventKind::kChannel:
            ++counters_.channel_events;
            ApplyChannel(event.channel, now_ms);
            break;
        case UiEventKind::kChannelUtil:
            ++counters_.util_events;
            ApplyUtil(event.util, now_ms);
            break;
    }
}

void UiState::CountMalformed(const std::string& why) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counters_.datagrams;
    ++counters_.malformed;
    counters_.last_error = why;
}

void UiState::CountOversized(size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counters_.datagrams;
    ++counters_.oversized;
    counters_.last_error = "oversized datagram of " + std::to_string(bytes) + " bytes";
}

void UiState::EndDevice(DeviceRecord* device, std::int64_t now_ms, bool announced) {
    device->ended = true;
    device->end_announced = announced;
    device->ended_ms = now_ms;
}

// A device is known by its class and first-seen second: the daemon keeps the
// earliest start of a tracked device, and its end event carries exactly those
// two.
void UiState::ApplyDevice(const DeviceReport& report, std::int64_t now_ms) {
    Expire(now_ms);
    auto same = [&report](const DeviceRecord& d) {
        return d.class_name == report.class_name && d.first_seen == report.first_seen;
    };
    auto it = std::find_if(devices_.begin(), devices_.end(),
                           [&](const DeviceRecord& d) { return !d.ended && same(d); });
    if (report.ended()) {
        if (it != devices_.end()) {
            EndDevice(&*it, now_ms, true);
            return;
        }
        const bool already_ended =
            std::any_of(devices_.begin(), devices_.end(),
                        [&](const DeviceRecord& d) { return d.ended && same(d); });
        if (already_ended) {
            return;
        }
        // An end whose life this server never saw (started late).
        DeviceRecord device;
        device.class_name = report.class_name;
        device.first_seen = report.first_seen;
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
        it->class_name = report.class_name;
        it->first_seen = report.first_seen;
    }
    it->ended = false;
    it->end_announced = false;
    it->ended_ms = 0;
    it->hopper = report.hopper;
    it->freq_mhz = report.freq_mhz;
    it->start_bin = report.start_bin;
    it->centre_bin = report.centre_bin;
    it->end_bin = report.end_bin;
    it->power_dbm = report.power_dbm;
    it->last_seen = report.last_seen;
    it->duration = report.duration;
    it->index = report.index;
    it->updated_ms = now_ms;
    ++it->reports;
}

void UiState::ApplyChannel(const ChannelReport& report, std::int64_t now_ms) {
    ChannelRecord& channel = channels_[FreqKey(report.freq_mhz)];
    channel.freq_mhz = report.freq_mhz;
    channel.bins = report.bins;
    channel.mac_time = report.mac_time;
    channel.received_ms = now_ms;
    ++channel.spectra;
    if (has_pending_util_) {
        if (now_ms - pending_util_.received_ms <= kUtilPairingMs) {
            channel.has_util = true;
            channel.util = pending_util_;
        }
        has_pending_util_ = false;
    }
}

void UiState::ApplyUtil(const ChannelUtilReport& report, std::int64_t now_ms) {
    UtilRecord util;
    util.text = report.text;
    util.timestamp = report.timestamp;
    util.received_ms = now_ms;
    latest_util_ = util;
    has_latest_util_ = true;
    const double named = CentreNamedIn(report.text);
    if (named > 0.0) {
        ChannelRecord& channel = channels_[FreqKey(named)];
        channel.freq_mhz = named;
        channel.has_util = true;
        channel.util = util;
        has_pending_util_ = false;
        return;
    }
    // The survey of a visit is sent just before that visit's spectrum.
    pending_util_ = util;
    has_pending_util_ = true;
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
    std::vector<ChannelRecord> out;
    for (const auto& entry : channels_) {
        out.push_back(entry.second);
    }
    return out;
}

UiCounters UiState::Counters() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return counters_;
}

std::string UiState::DevicesJson(std::int64_t now_ms) {
    const std::vector<DeviceRecord> devices = Devices(now_ms);
    std::string out = "{\"now_ms\":" + std::to_string(now_ms) + ",\"devices\":[";
    for (size_t i = 0; i < devices.size(); ++i) {
        out += (i > 0 ? "," : "") + DeviceJson(devices[i]);
    }
    out += "]}";
    return out;
}

std::string UiState::ChannelsJson() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string out = "{\"band\":{\"bins\":" + std::to_string(kBandBins) +
                      ",\"bins_per_mhz\":" + JsonNumber(kBinsPerMhz, 1) +
                      ",\"first_freq_mhz\":" + JsonNumber(kBandFirstFreqMhz, 2) +
                      "},\"channels\":[";
    bool first = true;
    for (const auto& entry : channels_) {
        const ChannelRecord& c = entry.second;
        out += first ? "" : ",";
        first = false;
        out += "{\"freq_mhz\":" + JsonNumber(c.freq_mhz, 2);
        out += ",\"band_offset\":";
        out += NearestMonitoredCentre(c.freq_mhz) > 0.0 ? std::to_string(BandOffsetBins(c.freq_mhz))
                                                        : "null";
        out += ",\"mac_time\":" + std::to_string(c.mac_time);
        out += ",\"received_ms\":" + std::to_string(c.received_ms);
        out += ",\"spectra\":" + std::to_string(c.spectra);
        out += ",\"power_dbm\":[";
        for (size_t i = 0; i < c.bins.size(); ++i) {
            out += (i > 0 ? "," : "") + std::to_string(-c.bins[i]);
        }
        out += "],\"util\":" + (c.has_util ? UtilJson(c.util) : std::string("null")) + "}";
    }
    out += "],\"latest_util\":" + (has_latest_util_ ? UtilJson(latest_util_) : "null") + "}";
    return out;
}

std::string UiState::StatsJson(const std::string& extra_fields) const {
    const UiCounters c = Counters();
    std::string out = "{\"datagrams\":" + std::to_string(c.datagrams);
    out += ",\"devices_events\":" + std::to_string(c.devices_events);
    out += ",\"channel_events\":" + std::to_string(c.channel_events);
    out += ",\"util_events\":" + std::to_string(c.util_events);
    out += ",\"malformed\":" + std::to_string(c.malformed);
    out += ",\"oversized\":" + std::to_string(c.oversized);
    out += ",\"last_error\":" + (c.last_error.empty() ? "null" : JsonString(c.last_error));
    if (!extra_fields.empty()) {
        out += "," + extra_fields;
    }
    out += "}";
    return out;
}

}  // namespace tessaron_ui
