// tessaron-score: compares what the daemon announced with a scenario's
// ground truth and prints one row per device and per false announcement.
//
//   tessaron-score --truth FILE.json (--events FILE | --log FILE)
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "command_line.h"
#include "score.h"

namespace {

bool ReadAll(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    *text = buffer.str();
    return true;
}

const char kHelp[] =
    "usage: tessaron-score --truth FILE.json (--events FILE | --log FILE) [--brief]\n"
    "\n"
    "Compares what the daemon said with the ground truth tessaron-sim wrote.\n"
    "  --events FILE  UI event datagrams recorded by 'tessaron-sim listen'\n"
    "  --log FILE     the daemon's output log (devices that ended)\n"
    "  --brief        one line: PASS|FAIL|NODATA, missed, false, early ends, ends\n"
    "                 missed, then missed=, false= and first= (class:ann_s) lists\n"
    "\n"
    "A device record of the daemon describes a device of the scenario when the\n"
    "class matches and, for a device on a fixed frequency, the announced band\n"
    "(band_cfreq and bins at 312.5 kHz, bin 28 at band_cfreq) overlaps the\n"
    "device's occupied band. Hoppers are matched by class alone.\n"
    "\n"
    "Columns:\n"
    "  class     display name the daemon announces for the device\n"
    "  model     simulator model; (not present) for a false announcement\n"
    "  band_mhz  occupied band of the device, or the falsely announced band;\n"
    "            hops: a frequency hopper, matched by class only\n"
    "  detected  yes; MISSED; FALSE (no such device there: wrong class or band);\n"
    "            NOT LOGGED (--log only: on the air at the end of the run, so\n"
    "            never ended and never logged; not judged); OUT OF VIEW (wholly\n"
    "            outside the card's six channel views, 2403.1-2470.6 MHz: reported,\n"
    "            not failed)\n"
    "  recs      tracker records the daemon kept for it (more than 1: the\n"
    "            device was split or re-announced after an end)\n"
    "  seen_s    first detection after switch-on, whole host seconds (the\n"
    "            tracker's start time; 6 s are added back for hoppers)\n"
    "  ann_s     first announcement after switch-on, card time of the channel\n"
    "            event before it (--events only)\n"
    "  end       for a device that switches off: yes +D s (ended D seconds\n"
    "            after switch-off), or MISSED; '-' otherwise. (N early): N\n"
    "            records ended while the device was still on the air\n"
    "\n"
    "The result line counts missed devices, false devices, early ends and\n"
    "missed ends; any of them fails the run.\n"
    "\n"
    "Exit status: 0 pass, 1 fail, 2 usage or unreadable input, 3 no event\n"
    "datagram at all in --events (nothing scored).\n";

// ReadAll, saying so when the file cannot be read.
bool ReadInput(const std::string& path, std::string* text) {
    if (!ReadAll(path, text)) {
        std::cerr << "tessaron-score: cannot read " << path << "\n";
        return false;
    }
    return true;
}

struct ScoreOptions {
    std::string truth_file;
    std::string events_file;
    std::string log_file;
    bool brief = false;
    bool help = false;
};

// False after saying why on stderr.
bool ParseOptions(int argc, char** argv, ScoreOptions* o) {
    const auto file_of = [o](const std::string& name) {
        return name == "--truth"    ? &o->truth_file
               : name == "--events" ? &o->events_file
               : name == "--log"    ? &o->log_file
                                    : nullptr;
    };
    const auto takes_value = [&file_of](const std::string& name) {
        return file_of(name) != nullptr;
    };
    const auto take = [&file_of](const std::string& name, const std::string& value, std::string*) {
        *file_of(name) = value;
        return true;
    };
    std::string error;
    const std::initializer_list<FlagOption> flags = {
        {"--help", &o->help, true}, {"-h", &o->help, true}, {"--brief", &o->brief, false}};
    if (!WalkOptions(ArgumentsOf(argc, argv), flags, takes_value, take, &error)) {
        std::cerr << "tessaron-score: " << error << "\n";
        return false;
    }
    if (o->help) {
        return true;
    }
    if (o->truth_file.empty() || o->events_file.empty() == o->log_file.empty()) {
        std::cerr << "usage: tessaron-score --truth FILE.json (--events FILE | --log FILE)\n";
        return false;
    }
    return true;
}

// The announcements in recorded UI event datagrams, one escaped datagram a
// line, read from path.
sim::Observations ObservationsFromEventsText(const std::string& path, const std::string& text,
                                             const sim::Truth& truth) {
    std::vector<std::string> datagrams;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        datagrams.push_back(sim::UnescapeDatagram(line));
    }
    sim::Observations observations = sim::ObservationsFromEvents(datagrams, truth);
    if (datagrams.empty()) {
        std::cerr << "tessaron-score: warning: " << path
                  << " holds no event at all; nothing to score\n";
    }
    return observations;
}

// The devices that ended in the daemon's output log, read from path.
sim::Observations ObservationsFromLogText(const std::string& path, const std::string& text,
                                          const sim::Truth& truth) {
    sim::Observations observations = sim::ObservationsFromLog(text, truth);
    if (observations.datagrams == 0) {
        std::cerr << "tessaron-score: warning: " << path
                  << " is empty: no device ended; devices still on the air are not judged\n";
    }
    return observations;
}

}  // namespace

int main(int argc, char** argv) {
    ScoreOptions options;
    if (!ParseOptions(argc, argv, &options)) {
        return 2;
    }
    if (options.help) {
        std::cout << kHelp;
        return 0;
    }
    std::string text, error;
    sim::Truth truth;
    if (!ReadAll(options.truth_file, &text) || !sim::ParseTruth(text, &truth, &error)) {
        std::cerr << "tessaron-score: cannot read ground truth " << options.truth_file
                  << (error.empty() ? "" : ": " + error) << "\n";
        return 2;
    }
    const bool from_events = !options.events_file.empty();
    const std::string& input = from_events ? options.events_file : options.log_file;
    if (!ReadInput(input, &text)) {
        return 2;
    }
    const sim::Observations observations = from_events
                                               ? ObservationsFromEventsText(input, text, truth)
                                               : ObservationsFromLogText(input, text, truth);
    const sim::ScoreReport report = sim::Score(truth, observations);
    std::cout << (options.brief ? sim::BriefReport(report) + "\n"
                                : sim::FormatReport(truth, report));
    if (report.no_data) {
        return 3;
    }
    return report.Passed() ? 0 : 1;
}
