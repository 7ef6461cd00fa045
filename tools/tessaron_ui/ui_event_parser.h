// Reading the daemon's UI event texts: "event: devices", "event: channel" and
// "event: channel_util_info", into the same records the daemon reports. The
// texts look like server-sent events carrying JSON, but the survey text of the
// utilisation event goes in unescaped, so the payloads are taken apart by hand
// rather than handed to a JSON parser.
#ifndef TESSARON_UI_UI_EVENT_PARSER_H
#define TESSARON_UI_UI_EVENT_PARSER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "event_json.h"

namespace tessaron_ui {

// Bins of one subband sample and of the six-channel band view.
constexpr size_t kChannelBins = 56;
constexpr size_t kBandBins = 216;
constexpr double kBinsPerMhz = 3.2;
constexpr double kBandFirstFreqMhz = 2412.0;

// Largest datagram taken in; the daemon's longest texts are a few hundred bytes
// plus the survey text, which is far below this.
constexpr size_t kMaxDatagramBytes = 16384;

// Every event, whether read from a datagram or from a JSON feed, lands in
// the daemon's own record types.
using UiEvent = ParsedEvent;
using UiEventKind = ParsedEvent::Type;

// Parses one datagram. On failure returns false and says why in *error. The
// sensor and host time are the receiver's to fill in.
bool ParseUiEvent(const std::string& text, UiEvent* event, std::string* error);

// Centre frequency (MHz) of one of the six monitored channels within half a
// MHz of freq_mhz, or 0 when freq_mhz is none of them.
double NearestMonitoredCentre(double freq_mhz);

// First band-view bin of a channel centred on freq_mhz (2412 MHz gives 0).
int BandOffsetBins(double freq_mhz);

}  // namespace tessaron_ui

#endif  // TESSARON_UI_UI_EVENT_PARSER_H
