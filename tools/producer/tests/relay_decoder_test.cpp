// The relay decoder on literal records: each report type, each length quirk
// of the driver, out-of-band reports, truncation, garbage and resync, and
// the same results whatever the read boundaries.
#include "relay_decoder.h"

#include <gtest/gtest.h>

#include <random>

#include "relay_test_support.h"

namespace {

using relay::RelayDecoder;
using relay::SkipReason;
using relay_test::Append;
using relay_test::CollectingSink;
using relay_test::Ht20Fields;
using relay_test::Ht20Record;
using relay_test::Record;

struct Result {
    relay::DecoderCounters counters;
    std::vector<relay::Ht20Report> reports;
};

Result DecodeAll(const std::vector<uint8_t>& stream) {
    RelayDecoder decoder;
    decoder.SetQuiet(true);
    CollectingSink sink;
    EXPECT_EQ(decoder.Decode(stream.data(), stream.size(), true, sink), stream.size());
    return {decoder.Counters(), sink.reports};
}

// Feeds the stream in pieces of the given sizes, keeping unused tails as a
// reader of a growing file does.
Result DecodeInPieces(const std::vector<uint8_t>& stream, const std::vector<size_t>& pieces) {
    RelayDecoder decoder;
    decoder.SetQuiet(true);
    CollectingSink sink;
    std::vector<uint8_t> buffer;
    size_t at = 0;
    for (size_t piece : pieces) {
        piece = std::min(piece, stream.size() - at);
        buffer.insert(buffer.end(), stream.begin() + at, stream.begin() + at + piece);
        at += piece;
        const size_t used = decoder.Decode(buffer.data(), buffer.size(), false, sink);
        buffer.erase(buffer.begin(), buffer.begin() + used);
    }
    buffer.insert(buffer.end(), stream.begin() + at, stream.end());
    decoder.Decode(buffer.data(), buffer.size(), true, sink);
    return {decoder.Counters(), sink.reports};
}

TEST(RelayDecoder, DecodesEveryFieldOfA20MhzReport) {
    // type 1, length 73, max_exp 2, 2442 MHz, rssi -7, noise -91,
    // max_magnitude 0x0304, max_index 33, bitmap_weight 5, tsf 0x0102..08.
    std::vector<uint8_t> record = {0x01, 0x00, 0x49, 0x02, 0x09, 0x8A, 0xF9, 0xA5, 0x03, 0x04,
                                   0x21, 0x05, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    for (int i = 0; i < 56; i++) {
        record.push_back(static_cast<uint8_t>(100 + i));
    }
    const Result r = DecodeAll(record);
    ASSERT_EQ(r.reports.size(), 1u);
    const relay::Ht20Report& rep = r.reports[0];
    EXPECT_EQ(rep.max_exp, 2);
    EXPECT_EQ(rep.freq, 2442);
    EXPECT_EQ(rep.rssi, -7);
    EXPECT_EQ(rep.noise, -91);
    EXPECT_EQ(rep.max_magnitude, 0x0304);
    EXPECT_EQ(rep.max_index, 33);
    EXPECT_EQ(rep.bitmap_weight, 5);
    EXPECT_EQ(rep.tsf, 0x0102030405060708ULL);
    EXPECT_EQ(rep.bins[0], 100);
    EXPECT_EQ(rep.bins[28], 128);
    EXPECT_EQ(rep.bins[55], 155);
    EXPECT_EQ(r.counters.records, 1u);
    EXPECT_EQ(r.counters.by_type[1], 1u);
    EXPECT_EQ(r.counters.SkippedTotal(), 0u);
}

TEST(RelayDecoder, OtherReportTypesAreCountedAndSkipped) {
    std::vector<uint8_t> stream;
    Append(stream, Record(relay::REPORT_HT20_40, 152));
    Append(stream, Record(relay::REPORT_VARIABLE_A, 300));
    Append(stream, Ht20Record({}));
    Append(stream, Record(relay::REPORT_VARIABLE_B, 40));
    // A type this decoder does not know, of sane length, between good records.
    Append(stream, Record(9, 20));
    Append(stream, Ht20Record({}));
    const Result r = DecodeAll(stream);
    EXPECT_EQ(r.reports.size(), 2u);
    EXPECT_EQ(r.counters.records, 6u);
    EXPECT_EQ(r.counters.by_type[2], 1u);
    EXPECT_EQ(r.counters.by_type[3], 1u);
    EXPECT_EQ(r.counters.by_type[4], 1u);
    EXPECT_EQ(r.counters.by_type[0], 1u);
    EXPECT_EQ(r.counters.Skipped(SkipReason::kHt2040), 1u);
    EXPECT_EQ(r.counters.Skipped(SkipReason::kVariableLength), 2u);
    EXPECT_EQ(r.counters.Skipped(SkipReason::kUnknownType), 1u);
    EXPECT_EQ(r.counters.garbage_bytes, 0u);
}

TEST(RelayDecoder, AcceptsTheLengthsTheDriverRepairsAndNoOthers) {
    std::vector<uint8_t> stream;
    Append(stream, Ht20Record({}, nullptr, 72));  // one byte short
    Append(stream, Ht20Record({}, nullptr, 74));
    Append(stream, Ht20Record({}, nullptr, 75));
    Append(stream, Ht20Record({}, nullptr, 71));  // too short to be a report
    Append(stream, Ht20Record({}));
    Append(stream, Ht20Record({}, nullptr, 76));  // too long
    Append(stream, Ht20Record({}));
    const Result r = DecodeAll(stream);
    ASSERT_EQ(r.reports.size(), 5u);
    EXPECT_EQ(r.counters.one_byte_short, 1u);
    EXPECT_EQ(r.counters.overlong, 2u);
    EXPECT_EQ(r.counters.Skipped(SkipReason::kBadLength), 2u);
    // Short by one: the 55 bytes present are the upper bins, the lowest
    // repeats its neighbour. Long: trailing bytes dropped.
    EXPECT_EQ(r.reports[0].bins[0], 10);
    EXPECT_EQ(r.reports[0].bins[1], 10);
    EXPECT_EQ(r.reports[0].bins[55], 64);
    for (size_t k = 1; k < 5; k++) {
        EXPECT_EQ(r.reports[k].bins[0], 10);
        EXPECT_EQ(r.reports[k].bins[55], 65);
    }
}

TEST(RelayDecoder, ReportsOutsideTheBandAreSkipped) {
    std::vector<uint8_t> stream;
    for (const uint16_t freq : {2412, 5180, 2399, 2400, 2484, 2501, 0, 65535}) {
        Ht20Fields f;
        f.freq = freq;
        Append(stream, Ht20Record(f));
    }
    const Result r = DecodeAll(stream);
    ASSERT_EQ(r.reports.size(), 3u);
    EXPECT_EQ(r.reports[0].freq, 2412);
    EXPECT_EQ(r.reports[1].freq, 2400);
    EXPECT_EQ(r.reports[2].freq, 2484);
    EXPECT_EQ(r.counters.Skipped(SkipReason::kOutOfBand), 5u);
}

TEST(RelayDecoder, TruncatedTailCostsNothingBeforeIt) {
    std::vector<uint8_t> stream;
    Append(stream, Ht20Record({}));
    std::vector<uint8_t> cut = Ht20Record({});
    cut.resize(40);
    Append(stream, cut);
    const Result r = DecodeAll(stream);
    EXPECT_EQ(r.reports.size(), 1u);
    EXPECT_EQ(r.counters.Skipped(SkipReason::kTruncated), 1u);
    // A lone header byte or two at the end are truncated too.
    const Result two = DecodeAll({0x01, 0x00});
    EXPECT_EQ(two.counters.Skipped(SkipReason::kTruncated), 1u);
}

TEST(RelayDecoder, ResynchronisesAfterGarbageWithoutLosingGoodRecords) {
    std::vector<uint8_t> stream;
    // Starts mid-record, as a dump cut from a running relay would.
    const std::vector<uint8_t> first = Ht20Record({});
    stream.assign(first.begin() + 30, first.end());
    Ht20Fields f;
    f.tsf = 1;
    Append(stream, Ht20Record(f));
    // Garbage holding what looks like a report header whose claimed payload
    // would swallow the start of the next good record.
    Append(stream, {0xFF, 0x00, 0x13, 0x01, 0x00, 0x49, 0x37, 0x00});
    f.tsf = 2;
    Append(stream, Ht20Record(f));
    // A header of a known type with an absurd length, then plain garbage.
    Append(stream, {0x02, 0xFF, 0xFF, 0xDE, 0xAD, 0xBE, 0xEF});
    f.tsf = 3;
    Append(stream, Ht20Record(f));
    const Result r = DecodeAll(stream);
    ASSERT_EQ(r.reports.size(), 3u);
    EXPECT_EQ(r.reports[0].tsf, 1u);
    EXPECT_EQ(r.reports[1].tsf, 2u);
    EXPECT_EQ(r.reports[2].tsf, 3u);
    EXPECT_EQ(r.counters.garbage_runs, 3u);
    EXPECT_EQ(r.counters.garbage_bytes, 73u - 27u + 8u + 7u);
}

TEST(RelayDecoder, ReadBoundariesDoNotChangeTheResult) {
    // A mixed stream with every kind of record and some garbage.
    std::vector<uint8_t> stream;
    std::mt19937 rng(7);
    for (int i = 0; i < 60; i++) {
        Ht20Fields f;
        f.tsf = static_cast<uint64_t>(i);
        f.freq = i % 7 == 0 ? 5200 : 2412 + 5 * (i % 11);
        switch (i % 9) {
            case 3:
                Append(stream, Record(relay::REPORT_HT20_40, 152));
                break;
            case 5:
                for (int k = 0; k < 11; k++) {
                    stream.push_back(static_cast<uint8_t>(rng()));
                }
                break;
            case 7:
                Append(stream, Ht20Record(f, nullptr, 72));
                break;
            default:
                break;
        }
        Append(stream, Ht20Record(f));
    }
    const Result whole = DecodeAll(stream);
    EXPECT_GE(whole.reports.size(), 60u - 9u);
    for (int trial = 0; trial < 20; trial++) {
        std::vector<size_t> pieces;
        for (size_t total = 0; total < stream.size();) {
            pieces.push_back(1 + rng() % (trial < 5 ? 3 : 200));
            total += pieces.back();
        }
        const Result split = DecodeInPieces(stream, pieces);
        ASSERT_EQ(split.reports.size(), whole.reports.size()) << "trial " << trial;
        for (size_t k = 0; k < whole.reports.size(); k++) {
            EXPECT_EQ(split.reports[k].tsf, whole.reports[k].tsf);
            EXPECT_EQ(split.reports[k].freq, whole.reports[k].freq);
        }
        EXPECT_EQ(split.counters.garbage_bytes, whole.counters.garbage_bytes);
        EXPECT_EQ(split.counters.SkippedTotal(), whole.counters.SkippedTotal());
    }
}

TEST(RelayDecoder, ArbitraryBytesNeverReadOutOfBounds) {
    // Random streams, decoded whole and in small pieces: everything is used
    // and every decoded report came from a plausible frequency.
    std::mt19937 rng(11);
    for (int trial = 0; trial < 200; trial++) {
        std::vector<uint8_t> stream(rng() % 600);
        for (uint8_t& b : stream) {
            b = static_cast<uint8_t>(rng() % 4 == 0 ? rng() % 5 : rng());
        }
        const Result r = DecodeAll(stream);
        for (const relay::Ht20Report& rep : r.reports) {
            EXPECT_GE(rep.freq, relay::BAND_24_LOW_MHZ);
            EXPECT_LE(rep.freq, relay::BAND_24_HIGH_MHZ);
        }
        const Result split = DecodeInPieces(stream, std::vector<size_t>(stream.size(), 1));
        EXPECT_EQ(split.reports.size(), r.reports.size());
    }
}

}  // namespace
