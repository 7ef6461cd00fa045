#include "fft_data.h"

#include <gtest/gtest.h>

#include <cstring>

// The decoder must read every field at its little-endian offset whatever the
// host's byte order and alignment rules.
TEST(FftDataWire, DecodesFieldsAtTheirOffsets) {
    uint8_t wire[FFT_DATA_WIRE_SIZE];
    memset(wire, 0xEE, sizeof(wire));             // padding must be ignored
    uint8_t* s1 = wire + SPECTRUM_FFT_WIRE_SIZE;  // second sample
    s1[0] = 0x6C;                                 // 2412 = 0x096C
    s1[1] = 0x09;
    const uint8_t ts[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    memcpy(s1 + 8, ts, 8);
    s1[20] = 0xF6;  // rssi -10
    s1[24] = 7;
    for (int i = 0; i < CONST_FFT_RAW_BINS; i++) {
        s1[28 + i] = static_cast<uint8_t>(i);
    }
    const uint8_t count[4] = {0x0E, 0, 0, 0};
    memcpy(wire + 1344, count, 4);
    const uint8_t seq[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0, 0, 0};
    memcpy(wire + 1352, seq, 8);

    fft_data d;
    DecodeFftData(wire, d);
    EXPECT_EQ(d.samples[1].freq, 2412);
    EXPECT_EQ(d.samples[1].ts, 0x0807060504030201ULL);
    EXPECT_EQ(d.samples[1].rssi, -10);
    EXPECT_EQ(d.samples[1].start_index, 7);
    EXPECT_EQ(d.samples[1].samples[66], 66);
    EXPECT_EQ(d.count, 14);
    EXPECT_EQ(d.seq_num, 0x1FFFFFFFFULL);
}

TEST(FftDataWire, EncodeDecodeRoundTripAndNegativeCount) {
    fft_data in;
    memset(&in, 0, sizeof(in));
    for (int i = 0; i < CONST_FFT_SAMPLES_PER_DATAGRAM; i++) {
        in.samples[i].freq = static_cast<uint16_t>(2412 + i);
        in.samples[i].ts = 0xFFFFFFF0ULL + static_cast<uint64_t>(i);
        in.samples[i].rssi = static_cast<int8_t>(-i);
        in.samples[i].samples[30] = static_cast<uint8_t>(200 + i);
    }
    in.count = -1;
    in.seq_num = 42;
    uint8_t wire[FFT_DATA_WIRE_SIZE];
    EncodeFftData(in, wire);
    fft_data out;
    DecodeFftData(wire, out);
    EXPECT_EQ(0, memcmp(&in, &out, sizeof(in)));
    EXPECT_EQ(out.count, -1);
}
