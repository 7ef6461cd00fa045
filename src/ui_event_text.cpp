#include "ui_event_text.h"

#include <vector>

#include "channel_visit.h"

namespace {

// The "event: devices" text carries nine already formatted fields.
std::string DevicesEvent(const std::vector<std::string>& fields) {
    std::string text = "event: devices\r\ndata: { \"dev\": [";
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            text += ",";
        }
        text += "\"" + fields[i] + "\"";
    }
    text += "]}\n\n";
    return text;
}

}  // namespace

std::string DeviceEventText(const DeviceEventRecord& device) {
    const std::string name = RssiPulse::getClassification(device.classification);
    if (device.kind == DeviceEventRecord::Kind::Ended) {
        // An ended device is announced by class and start time alone.
        return DevicesEvent(
            {"0", name, std::to_string(device.first_seen_s), "0", "0", "0", "0", "0", "0"});
    }
    std::vector<std::string> fields = {
        std::to_string(device.index),        name,
        std::to_string(device.first_seen_s), std::to_string(device.last_seen_s),
        std::to_string(device.duration_s),   getStr(device.power_dbm)};
    if (device.hopper) {
        fields.insert(fields.end(), {"0", "Freq Hopper", "1"});
    } else {
        fields.insert(fields.end(),
                      {getStr(device.band_cfreq_mhz),
                       std::to_string(device.start_bin) + "," + std::to_string(device.center_bin) +
                           "," + std::to_string(device.end_bin),
                       "1"});
    }
    return DevicesEvent(fields);
}

std::string ChannelEventText(const ChannelSpectrumRecord& spectrum) {
    std::string text = "event: channel\r\ndata:{ \"ch\": [";
    for (size_t i = 0; i < spectrum.bins; ++i) {
        if (i > 0) {
            text += ",";
        }
        text += std::to_string(TruncToIntClamped(spectrum.db_below_mw[i]));
    }
    text += "],\"timestamp\":" + u64tostr(spectrum.card_time_us) +
            ",\"freq\": " + getStr(spectrum.freq_mhz) + "}\r\n\n";
    return text;
}

std::string ChannelUtilEventText(const ChannelUtilisationRecord& survey) {
    // The survey text goes in unescaped, without its final line end.
    const std::string& text = survey.survey_text;
    const std::string body = text.empty() ? "" : text.substr(0, text.size() - 1);
    std::string event = "event: channel_util_info\r\n";
    event += "data: { \"channel_util_str\": \"";
    event += body;
    event += "\", ";
    event += "\"timestamp\": " + std::to_string(survey.host_s);
    event += "}\r\n\n";
    return event;
}
