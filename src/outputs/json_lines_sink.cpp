#include "json_lines_sink.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <utility>

JsonLinesSink::JsonLinesSink(std::string sensor, Clock clock)
    : sensor_(std::move(sensor)), clock_(std::move(clock)) {}

JsonLinesSink::~JsonLinesSink() {
    if (owns_out_ && out_ != nullptr) {
        fclose(out_);
    }
}

bool JsonLinesSink::Open(const std::string& path, std::string* error) {
    if (path == "-") {
        out_ = stdout;
        owns_out_ = false;
        return true;
    }
    out_ = fopen(path.c_str(), "a");
    if (out_ == nullptr) {
        *error = "cannot open JSON output '" + path + "': " + std::strerror(errno);
        return false;
    }
    owns_out_ = true;
    return true;
}

EventStamp JsonLinesSink::Stamp() const {
    EventStamp stamp;
    stamp.sensor = sensor_;
    clock_(&stamp.host_time);
    return stamp;
}

// One whole line per write and a flush after it: readers never see half an
// event, even when the lines share standard output with the diagnostics.
void JsonLinesSink::WriteLine(const std::string& json) {
    if (out_ == nullptr) {
        return;
    }
    const std::string line = json + "\n";
    if (fwrite(line.data(), 1, line.size(), out_) != line.size() || fflush(out_) != 0) {
        if (!warned_.exchange(true)) {
            std::cerr << "Warning... JSON output: write failed (" << std::strerror(errno)
                      << "); further failures are not reported\n";
        }
    }
}

void JsonLinesSink::OnDevice(const DeviceEventRecord& device) {
    WriteLine(DeviceEventJson(device, Stamp()));
}

void JsonLinesSink::OnChannelSpectrum(const ChannelSpectrumRecord& spectrum) {
    WriteLine(ChannelSpectrumJson(spectrum, Stamp()));
}

void JsonLinesSink::OnChannelUtilisation(const ChannelUtilisationRecord& survey) {
    WriteLine(ChannelUtilisationJson(survey, Stamp()));
}

// The output log keeps its own file; the device's end is already an event.
void JsonLinesSink::OnLogLine(const std::string&) {}
