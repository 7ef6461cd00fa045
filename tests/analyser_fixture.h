// A daemon analyser on the shipped signatures, its start-up text kept off
// the test's stdout, and its sensing radio.
#ifndef TESSARON_TESTS_ANALYSER_FIXTURE_H
#define TESSARON_TESTS_ANALYSER_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "subband_analyser_class.h"

class AnalyserFixture : public testing::Test {
protected:
    void SetUp() override {
        const std::string signatures = std::string(TESSARON_SOURCE_DIR) + "/data/signatures.txt";
        testing::internal::CaptureStdout();
        analyser = std::make_unique<SubBandAnalyser>("output.txt", 100000000, signatures, 65535);
        testing::internal::GetCapturedStdout();
        ap = analyser->current_ap;
    }

    std::unique_ptr<SubBandAnalyser> analyser;
    AccessPoint* ap = nullptr;
};

#endif
