// The fan-out from the analysis to the installed outputs. Sinks are
// installed at start-up, before the receive loop and the card thread run,
// and only report calls happen after that.
#include "event_sink.h"

#include <algorithm>
#include <vector>

namespace {

std::vector<EventSink*>& Installed() {
    static std::vector<EventSink*> sinks;
    return sinks;
}

}  // namespace

void EventSinks::Install(EventSink* sink) {
    std::vector<EventSink*>& sinks = Installed();
    if (sink != nullptr && std::find(sinks.begin(), sinks.end(), sink) == sinks.end()) {
        sinks.push_back(sink);
    }
}

void EventSinks::Remove(EventSink* sink) {
    std::vector<EventSink*>& sinks = Installed();
    sinks.erase(std::remove(sinks.begin(), sinks.end(), sink), sinks.end());
}

void EventSinks::RemoveAll() {
    Installed().clear();
}

std::size_t EventSinks::Count() {
    return Installed().size();
}

void EventSinks::ReportDevice(const DeviceEventRecord& device) {
    for (EventSink* sink : Installed()) {
        sink->OnDevice(device);
    }
}

void EventSinks::ReportChannelSpectrum(const ChannelSpectrumRecord& spectrum) {
    for (EventSink* sink : Installed()) {
        sink->OnChannelSpectrum(spectrum);
    }
}

void EventSinks::ReportChannelUtilisation(const ChannelUtilisationRecord& survey) {
    for (EventSink* sink : Installed()) {
        sink->OnChannelUtilisation(survey);
    }
}

void EventSinks::ReportLogLine(const std::string& line) {
    for (EventSink* sink : Installed()) {
        sink->OnLogLine(line);
    }
}
