// `--json FILE|-`: every event as one JSON object on its own line, flushed as
// it is written, so `tail -f` and pipes see each event at once. With "-" the
// lines go to standard output between the diagnostic lines; they are the
// lines that start with "{".
#ifndef TESSARON_JSON_LINES_SINK_H
#define TESSARON_JSON_LINES_SINK_H

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>

#include "event_json.h"
#include "event_sink.h"

class JsonLinesSink : public EventSink {
public:
    using Clock = std::function<void(timeval*)>;

    // clock reads the host time of each event (the daemon's GetHostTime).
    JsonLinesSink(std::string sensor, Clock clock);
    ~JsonLinesSink() override;
    JsonLinesSink(const JsonLinesSink&) = delete;
    JsonLinesSink& operator=(const JsonLinesSink&) = delete;

    // Opens the file for appending, or standard output for "-"; false with
    // *error when it cannot be opened.
    bool Open(const std::string& path, std::string* error);

    void OnDevice(const DeviceEventRecord& device) override;
    void OnChannelSpectrum(const ChannelSpectrumRecord& spectrum) override;
    void OnChannelUtilisation(const ChannelUtilisationRecord& survey) override;
    void OnLogLine(const std::string& line) override;

private:
    EventStamp Stamp() const;
    void WriteLine(const std::string& json);

    std::string sensor_;
    Clock clock_;
    FILE* out_ = nullptr;
    bool owns_out_ = false;
    std::atomic<bool> warned_{false};  // reports come from two threads
};

#endif
