#include "json_lines_sink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "event_records.h"
#include "temp_path.h"

TEST(JsonLinesSink, OneWholeObjectPerLineAppendedToTheFile) {
    const std::string path = TestTempPath("json_lines_sink.jsonl");
    std::remove(path.c_str());
    long second = 1700000000;
    {
        JsonLinesSink sink("bench", [&second](timeval* t) { *t = {second++, 5}; });
        std::string error;
        ASSERT_TRUE(sink.Open(path, &error)) << error;
        sink.OnDevice(HopperEvent(PULSE_BLUETOOTH, 1, 9));
        ChannelUtilisationRecord u;
        u.survey_text = "line one\nline two";
        sink.OnChannelUtilisation(u);
        sink.OnLogLine("fhss inactive gt: ...\n");  // the output log keeps those
    }
    std::ifstream in(path);
    std::string line;
    std::vector<nlohmann::json> objects;
    while (std::getline(in, line)) {
        objects.push_back(nlohmann::json::parse(line));
    }
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[0]["type"], "device");
    EXPECT_EQ(objects[0]["sensor"], "bench");
    EXPECT_EQ(objects[0]["host_time"], 1700000000.000005);
    EXPECT_EQ(objects[1]["type"], "utilisation");
    EXPECT_EQ(objects[1]["time"], "2023-11-14T22:13:21.000005Z");

    JsonLinesSink reopened("bench", [](timeval* t) { *t = {0, 0}; });
    std::string error;
    ASSERT_TRUE(reopened.Open(path, &error));
    reopened.OnChannelUtilisation({});
    std::ifstream again(path);
    std::stringstream all;
    all << again.rdbuf();
    const std::string text = all.str();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);  // appended
    std::remove(path.c_str());

    JsonLinesSink nowhere("bench", [](timeval* t) { *t = {0, 0}; });
    EXPECT_FALSE(nowhere.Open("/nonexistent-dir/x.jsonl", &error));
    EXPECT_NE(error.find("/nonexistent-dir/x.jsonl"), std::string::npos);
}
