// The soak judges the receive path by comparing its counters with what the
// stream says it sent; a miscount here would fail a sound daemon or pass a
// broken one.
#include "soak_stream.h"

#include <gtest/gtest.h>

#include <set>

#include "card_model.h"

namespace {

struct Seen {
    uint64_t datagrams = 0;
    uint64_t wrong_size = 0;
    uint64_t bad_count = 0;
    uint64_t backwards = 0;  // card time going back, wraps and resets included
    uint64_t last_elapsed = 0;
    bool elapsed_in_order = true;
    std::set<uint16_t> channels;
    uint64_t off_centre = 0;
};

bool IsChannelCentre(uint16_t freq) {
    for (const uint16_t centre : sim::CARD_CHANNEL_ORDER) {
        if (freq == centre) {
            return true;
        }
    }
    return false;
}

Seen Watch(SoakStream& stream) {
    Seen seen;
    uint64_t last_ts = 0;
    stream.Run([&](const uint8_t* wire, size_t len, uint64_t elapsed_us) {
        seen.datagrams++;
        seen.elapsed_in_order = seen.elapsed_in_order && elapsed_us >= seen.last_elapsed;
        seen.last_elapsed = elapsed_us;
        if (len != FFT_DATA_WIRE_SIZE) {
            seen.wrong_size++;
            return;
        }
        fft_data d;
        DecodeFftData(wire, d);
        if (d.count < 0 || d.count > CONST_FFT_SAMPLES_PER_DATAGRAM) {
            seen.bad_count++;
            return;
        }
        for (int i = 0; i < d.count; i++) {
            EXPECT_LE(d.samples[i].ts, 0xFFFFFFFFull);
            seen.backwards += d.samples[i].ts + 1000000 < last_ts ? 1 : 0;
            last_ts = d.samples[i].ts;
            if (IsChannelCentre(d.samples[i].freq)) {
                seen.channels.insert(d.samples[i].freq);
            } else {
                seen.off_centre++;
            }
        }
    });
    return seen;
}

}  // namespace

TEST(SoakStream, CountsWhatItSendsFaultsWrapsAndResets) {
    SoakStreamConfig config;
    config.card_wraps_after_us = 1500000;
    config.card_reset_every_us = 4000000;
    config.fault_every = 7;
    SoakStream stream(config, 10000000);
    const Seen seen = Watch(stream);
    const SoakStreamCounts& sent = stream.Counts();

    EXPECT_EQ(seen.datagrams, sent.datagrams);
    EXPECT_TRUE(seen.elapsed_in_order);
    EXPECT_GE(seen.last_elapsed, 9900000u);
    uint64_t faults = 0;
    for (const uint64_t n : sent.faults) {
        faults += n;
        EXPECT_GT(n, 0u);
    }
    EXPECT_EQ(faults, sent.datagrams / 7);
    EXPECT_EQ(seen.wrong_size, sent.faults[kWrongSize]);
    EXPECT_EQ(seen.bad_count, sent.BadCount());
    EXPECT_EQ(seen.off_centre, sent.faults[kOffCentre]);
    EXPECT_EQ(sent.Good(), sent.datagrams - seen.wrong_size - seen.bad_count);

    // One wrap 1.5 s in, resets at 4 s and 8 s; each sends the clock back.
    EXPECT_EQ(sent.card_wraps, 1u);
    EXPECT_EQ(sent.card_resets, 2u);
    EXPECT_EQ(seen.backwards, 3u);
    // The six channels in turn, about 440 ms each.
    EXPECT_EQ(seen.channels.size(), 6u);
    EXPECT_GE(sent.channel_changes, 20u);
    EXPECT_LE(sent.channel_changes, 24u);
}
