// Every unit test starts and ends with the daemon's shared services fresh:
// nothing tracked, no event sink installed, no socket or log names, no
// signatures loaded, the card commands unprepared and the real clock. A test
// only resets state itself when it needs a clean slate half-way through.
#include <gtest/gtest.h>

#include "channel_manager.h"
#include "channel_visit.h"
#include "device_analyzer.h"
#include "event_sink.h"
#include "host_clock.h"
#include "shapematch_module.h"
#include "tessaron_main.h"

namespace {

void ResetSharedState() {
    DeviceAnalyzer::ResetForTests();
    ExternalInterface::ResetForTests();
    EventSinks::RemoveAll();
    ShapeMetrics::ResetForTests();
    ChannelManager::ResetForTests();
    ChannelVisit::Reset();
    ResetHostClock();
}

class FreshState : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { ResetSharedState(); }
    void OnTestEnd(const ::testing::TestInfo&) override { ResetSharedState(); }
};

// Installed before main runs the tests; gtest owns the listener.
[[maybe_unused]] const bool installed = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshState);
    return true;
}();

}  // namespace
