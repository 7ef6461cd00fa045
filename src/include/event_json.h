// The event records as JSON objects, one per event, for feeds outside the UI
// datagrams (JSON lines, MQTT) and for reading those feeds back. Every object
// has a "type" ("device", "spectrum" or "utilisation"), the sensor that heard
// it and the host time as ISO-8601 UTC and as seconds. The layout is
// documented in docs/events.md.
#ifndef TESSARON_EVENT_JSON_H
#define TESSARON_EVENT_JSON_H

#include <sys/time.h>

#include <string>
#include <vector>

#include "event_sink.h"

// Who heard an event and when (host clock).
struct EventStamp {
    std::string sensor;
    timeval host_time{0, 0};
};

std::string DeviceEventJson(const DeviceEventRecord& device, const EventStamp& stamp);
std::string ChannelSpectrumJson(const ChannelSpectrumRecord& spectrum, const EventStamp& stamp);
std::string ChannelUtilisationJson(const ChannelUtilisationRecord& survey, const EventStamp& stamp);

// "2026-12-09T04:10:00.000012Z"
std::string IsoUtcTime(const timeval& t);

// A name a network engineer reads at a glance ("Bluetooth audio link").
std::string DeviceLabel(PulseType classification);
// The class whose display name is `name` ("Bluetooth_Streaming"); false for
// a name no class has.
bool PulseTypeFromName(const std::string& name, PulseType* classification);

// Occupied band of a fixed device in MHz, bin edges included; false for a
// hopper or a record without a band.
bool DeviceBandMhz(const DeviceEventRecord& device, double* low_mhz, double* high_mhz);
// The 20 MHz Wi-Fi channels (1 to 13) a device overlaps; every one for a hopper.
std::vector<int> WifiChannelsOverlapped(const DeviceEventRecord& device);

// Sensor names go into topics and file names: 1 to 64 letters, digits, '-',
// '_' or '.'.
bool IsValidSensorName(const std::string& name);
// The value of a --sensor option into *sensor when it is a valid name, else
// false with the reason in *error.
bool TakeSensorName(const std::string& value, std::string* sensor, std::string* error);

// One event read back from its JSON. The spectrum record points into the
// vectors here, so it is built on request.
struct ParsedEvent {
    enum class Type { Device, Spectrum, Utilisation };
    Type type = Type::Device;
    std::string sensor;
    double host_time_s = 0.0;
    DeviceEventRecord device;
    ChannelUtilisationRecord utilisation;
    u64 card_time_us = 0;
    float freq_mhz = 0.0f;
    long spectra = 0;
    std::vector<float> db_below_mw;
    std::vector<int> above_noise;  // empty when the feed carries no duty

    ChannelSpectrumRecord Spectrum() const;
};

// Reads one JSON event. Untrusted text: every field is checked for type and
// range; on failure returns false with the reason in *error.
bool ParseEventJson(const std::string& text, ParsedEvent* event, std::string* error);

#endif
