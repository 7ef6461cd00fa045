// What the UI server knows at any moment, for every sensor it hears (the
// local daemon over UDP, and any number of daemons through an MQTT broker):
// the tracked devices they have announced (active ones and recently ended
// ones), the latest averaged spectrum and utilisation text of every channel,
// the air quality that follows from them, and counters. Filled by the UDP and
// MQTT readers, read by the HTTP threads, hence the lock.
#ifndef TESSARON_UI_UI_STATE_H
#define TESSARON_UI_UI_STATE_H

#include <cstdint>
#include <iosfwd>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "air_quality.h"
#include "ui_event_parser.h"

namespace tessaron_ui {

// Ended devices kept for the table, newest first beyond this are dropped.
constexpr size_t kMaxEndedDevices = 50;
// An ended device leaves the table after this long.
constexpr std::int64_t kEndedDeviceKeepMs = 30 * 60 * 1000;
// An active device not re-announced for this long is taken as ended: its end
// event was lost or the daemon was restarted.
constexpr std::int64_t kSilentDeviceEndMs = 10 * 60 * 1000;
// A survey text waits this long for the channel event of the visit it
// describes (the channel thread sends it just before the visit's spectrum).
constexpr std::int64_t kUtilPairingMs = 3000;

struct DeviceRecord {
    std::string sensor;
    PulseType classification = PULSE_NONE;
    bool hopper = false;
    double freq_mhz = 0.0;  // centre of the subband the bins count in
    int start_bin = -1;
    int centre_bin = -1;
    int end_bin = -1;
    double power_dbm = 0.0;
    long long first_seen = 0;  // daemon host seconds
    long long last_seen = 0;
    long long duration = 0;
    int index = 0;  // position in the daemon's last announcement
    bool ended = false;
    bool end_announced = false;   // false when ended for silence
    std::int64_t updated_ms = 0;  // local time of the last report
    std::int64_t ended_ms = 0;
    std::uint64_t reports = 0;

    std::string ClassName() const;
    DeviceEventRecord AsEvent() const;
};

struct UtilRecord {
    std::string text;
    long long timestamp = 0;
    std::int64_t received_ms = 0;
};

struct ChannelRecord {
    std::string sensor;
    double freq_mhz = 0.0;
    std::vector<int> bins;     // positive dB below 1 mW
    std::vector<double> duty;  // per bin, when the feed measures it
    std::uint64_t mac_time = 0;
    std::int64_t received_ms = 0;
    std::uint64_t spectra = 0;
    bool has_util = false;
    UtilRecord util;

    // Share of the channel's air that was busy: the mean bin duty, or without
    // duty the share of bins whose average rose above the noise floor.
    double Utilisation() const;
};

struct SensorRecord {
    std::string name;
    std::string source;  // "udp" or "mqtt"
    std::string status;  // "online", "offline" or "" when the feed has none
    std::int64_t last_heard_ms = 0;
    std::uint64_t events = 0;
};

struct UiCounters {
    std::uint64_t datagrams = 0;
    std::uint64_t devices_events = 0;
    std::uint64_t channel_events = 0;
    std::uint64_t util_events = 0;
    std::uint64_t malformed = 0;
    std::uint64_t oversized = 0;
    std::uint64_t kernel_dropped = 0;  // datagrams the socket buffer had no room for
    std::uint64_t mqtt_messages = 0;
    std::uint64_t mqtt_malformed = 0;
    std::string last_error;
};

// Announcements and ends per sensor and class.
struct DeviceCounts {
    std::uint64_t announcements = 0;
    std::uint64_t ends = 0;
};

class UiState {
public:
    // Takes in one parsed event heard by event.sensor at local time now_ms;
    // from_udp tells a datagram from an MQTT message.
    void Apply(const UiEvent& event, std::int64_t now_ms, bool from_udp = true);
    void CountMalformed(const std::string& why, bool from_udp = true);
    void CountOversized(size_t bytes);
    void CountKernelDropped(std::uint64_t datagrams);
    // A sensor's "online"/"offline" word from its status topic.
    void SetSensorStatus(const std::string& sensor, const std::string& status, std::int64_t now_ms);

    std::vector<DeviceRecord> Devices(std::int64_t now_ms);
    std::vector<ChannelRecord> Channels() const;
    std::vector<SensorRecord> Sensors() const;
    UiCounters Counters() const;
    // Air quality of Wi-Fi channels 1 to 13 as each sensor hears them.
    std::map<std::string, std::vector<ChannelQuality>> Quality(std::int64_t now_ms);

    // JSON snapshots served under /api/, and the Prometheus text of /metrics.
    std::string DevicesJson(std::int64_t now_ms);
    std::string ChannelsJson(std::int64_t now_ms);
    std::string SensorsJson(std::int64_t now_ms) const;
    std::string StatsJson(const std::string& extra_fields) const;
    std::string MetricsText(std::int64_t now_ms, std::uint64_t sse_dropped);

private:
    void ApplyDevice(const std::string& sensor, const DeviceEventRecord& report,
                     std::int64_t now_ms);
    void ApplyChannel(const std::string& sensor, const UiEvent& event, std::int64_t now_ms);
    void ApplyUtil(const std::string& sensor, const ChannelUtilisationRecord& report,
                   std::int64_t now_ms);
    void Expire(std::int64_t now_ms);
    void EndDevice(DeviceRecord* device, std::int64_t now_ms, bool announced);
    Interferer AsInterferer(const DeviceRecord& d, bool* measured) const;
    std::map<std::string, std::vector<ChannelQuality>> QualityLocked() const;
    // The sections of the metrics text.
    void DeviceMetrics(std::ostream& m) const;
    void CounterMetrics(std::ostream& m, std::uint64_t sse_dropped) const;
    void ChannelMetrics(std::ostream& m) const;
    SensorRecord& Sensor(const std::string& name, bool from_udp);

    using ChannelKey = std::pair<std::string, long long>;  // sensor, kHz
    struct PendingUtil {
        bool pending = false;
        UtilRecord util;
    };

    mutable std::mutex mutex_;
    std::vector<DeviceRecord> devices_;  // active first-seen order, ended after
    std::map<ChannelKey, ChannelRecord> channels_;
    std::map<std::string, PendingUtil> pending_util_;  // by sensor
    std::map<std::string, UtilRecord> latest_util_;    // by sensor
    std::map<std::string, SensorRecord> sensors_;
    std::map<std::pair<std::string, std::string>, DeviceCounts> device_counts_;
    UiCounters counters_;
};

}  // namespace tessaron_ui

#endif  // TESSARON_UI_UI_STATE_H
