// Reading the daemon's UI event texts: "event: devices", "event: channel" and
// "event: channel_util_info". The texts look like server-sent events carrying
// JSON, but the survey text of the utilisation event goes in unescaped, so the
// payloads are taken apart by hand rather than handed to a JSON parser.
#ifndef TESSARON_UI_UI_EVENT_PARSER_H
#define TESSARON_UI_UI_EVENT_PARSER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tessaron_ui {

// Bins of one subband sample and of the six-channel band view.
constexpr size_t kChannelBins = 56;
constexpr size_t kBandBins = 216;
constexpr double kBinsPerMhz = 3.2;
constexpr double kBandFirstFreqMhz = 2412.0;

// Largest datagram taken in; the daemon's longest texts are a few hundred bytes
// plus the survey text, which is far below this.
constexpr size_t kMaxDatagramBytes = 16384;

enum class UiEventKind { kDevices, kChannel, kChannelUtil };

// One "event: devices" text: an active device (index >= 1) or an ended one
// (index 0, only the class and first-seen second are meaningful).
struct DeviceReport {
    int index = 0;
    std::string class_name;
    long long first_seen = 0;  // host seconds
    long long last_seen = 0;
    long long duration = 0;
    double power_dbm = 0.0;
    double freq_mhz = 0.0;  // 0 for hoppers
    bool hopper = false;
    int start_bin = -1;  // subband frame of freq_mhz; -1 when not given
    int centre_bin = -1;
    int end_bin = -1;
    bool ended() const { return index == 0; }
};

// One "event: channel" text: the averaged spectrum of one channel visit in
// positive dB below 1 mW (87 means -87 dBm).
struct ChannelReport {
    double freq_mhz = 0.0;
    std::uint64_t mac_time = 0;  // card microseconds
    std::vector<int> bins;
};

// One "event: channel_util_info" text: the card's survey text, unread.
struct ChannelUtilReport {
    std::string text;
    long long timestamp = 0;  // host seconds
};

struct UiEvent {
    UiEventKind kind = UiEventKind::kDevices;
    std::string name;  // the text after "event: "
    DeviceReport device;
    ChannelReport channel;
    ChannelUtilReport util;
};

// Parses one datagram. On failure returns false and says why in *error.
bool ParseUiEvent(const std::string& text, UiEvent* event, std::string* error);

// Centre frequency (MHz) of one of the six monitored channels within half a
// MHz of freq_mhz, or 0 when freq_mhz is none of them.
double NearestMonitoredCentre(double freq_mhz);

// First band-view bin of a channel centred on freq_mhz (2412 MHz gives 0).
int BandOffsetBins(double freq_mhz);

}  // namespace tessaron_ui

#endif  // TESSARON_UI_UI_EVENT_PARSER_H
