// The UI's event texts ("event: devices", "event: channel",
// "event: channel_util_info"), one function per record. The UDP output sends
// them as they are; the tracker also prints each device text to stdout.
#ifndef TESSARON_UI_EVENT_TEXT_H
#define TESSARON_UI_EVENT_TEXT_H

#include <string>

#include "event_sink.h"

std::string DeviceEventText(const DeviceEventRecord& device);
// Each averaged bin goes out truncated to a whole dB.
std::string ChannelEventText(const ChannelSpectrumRecord& spectrum);
std::string ChannelUtilEventText(const ChannelUtilisationRecord& survey);

#endif
