// tessaron-score: compares what the daemon announced with a scenario's
// ground truth and prints one row per device class.
//
//   tessaron-score --truth FILE.json (--events FILE | --log FILE)
//
// Exit status 0 when every device was announced and nothing else was, 1
// when a device was missed or a false one announced, 2 on usage errors.
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

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

}  // namespace

int main(int argc, char** argv) {
    std::string truth_file, events_file, log_file;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << "usage: tessaron-score --truth FILE.json (--events FILE | --log FILE)\n";
            return 0;
        }
        if (i + 1 >= argc) {
            std::cerr << "tessaron-score: " << a << " needs a value\n";
            return 2;
        }
        if (a == "--truth") {
            truth_file = argv[++i];
        } else if (a == "--events") {
            events_file = argv[++i];
        } else if (a == "--log") {
            log_file = argv[++i];
        } else {
            std::cerr << "tessaron-score: unknown option " << a << "\n";
            return 2;
        }
    }
    if (truth_file.empty() || events_file.empty() == log_file.empty()) {
        std::cerr << "usage: tessaron-score --truth FILE.json (--events FILE | --log FILE)\n";
        return 2;
    }
    std::string text, error;
    sim::Truth truth;
    if (!ReadAll(truth_file, &text) || !sim::ParseTruth(text, &truth, &error)) {
        std::cerr << "tessaron-score: cannot read ground truth " << truth_file
                  << (error.empty() ? "" : ": " + error) << "\n";
        return 2;
    }
    std::vector<sim::Observation> observations;
    if (!events_file.empty()) {
        if (!ReadAll(events_file, &text)) {
            std::cerr << "tessaron-score: cannot read " << events_file << "\n";
            return 2;
        }
        std::vector<std::string> datagrams;
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            datagrams.push_back(sim::UnescapeDatagram(line));
        }
        observations = sim::ObservationsFromEvents(datagrams, truth);
    } else {
        if (!ReadAll(log_file, &text)) {
            std::cerr << "tessaron-score: cannot read " << log_file << "\n";
            return 2;
        }
        observations = sim::ObservationsFromLog(text, truth);
    }
    const sim::ScoreReport report = sim::Score(truth, observations);
    std::cout << sim::FormatReport(truth, report);
    return report.Passed() ? 0 : 1;
}
