// What the UI server knows at any moment: the tracked devices the daemon has
// announced (active ones and recently ended ones), the latest averaged
// spectrum and utilisation text of every channel, and datagram counters.
// Filled by the UDP reader, read by the HTTP threads, hence the lock.
#ifndef TESSARON_UI_UI_STATE_H
#define TESSARON_UI_UI_STATE_H

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

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
    std::string class_name;
    bool hopper = false;
    double freq_mhz = 0.0;
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
};

struct UtilRecord {
    std::string text;
    long long timestamp = 0;
    std::int64_t received_ms = 0;
};

struct ChannelRecord {
    double freq_mhz = 0.0;
    std::vector<int> bins;  // positive dB below 1 mW
    std::uint64_t mac_time = 0;
    std::int64_t received_ms = 0;
    std::uint64_t spectra = 0;
    bool has_util = false;
    UtilRecord util;
};

struct UiCounters {
    std::uint64_t datagrams = 0;
    std::uint64_t devices_events = 0;
    std::uint64_t channel_events = 0;
    std::uint64_t util_events = 0;
    std::uint64_t malformed = 0;
    std::uint64_t oversized = 0;
    std::string last_error;
};

class UiState {
public:
    // Takes in one parsed event received at local time now_ms.
    void Apply(const UiEvent& event, std::int64_t now_ms);
    void CountMalformed(const std::string& why);
    void CountOversized(size_t bytes);

    std::vector<DeviceRecord> Devices(std::int64_t now_ms);
    std::vector<ChannelRecord> Channels() const;
    UiCounters Counters() const;

    // JSON snapshots served under /api/.
    std::string DevicesJson(std::int64_t now_ms);
    std::string ChannelsJson() const;
    std::string StatsJson(const std::string& extra_fields) const;

private:
    void ApplyDevice(const DeviceReport& report, std::int64_t now_ms);
    void ApplyChannel(const ChannelReport& report, std::int64_t now_ms);
    void ApplyUtil(const ChannelUtilReport& report, std::int64_t now_ms);
    void Expire(std::int64_t now_ms);
    void EndDevice(DeviceRecord* device, std::int64_t now_ms, bool announced);

    mutable std::mutex mutex_;
    std::vector<DeviceRecord> devices_;            // active first-seen order, ended after
    std::map<long long, ChannelRecord> channels_;  // keyed by kHz
    bool has_pending_util_ = false;
    UtilRecord pending_util_;
    bool has_latest_util_ = false;
    UtilRecord latest_util_;
    UiCounters counters_;
};

}  // namespace tessaron_ui

#endif  // TESSARON_UI_UI_STATE_H
