// Geometry of the monitored band, as the card's samples lay it out: each
// sample covers one 20 MHz subband in 56 bins of 312.5 kHz (3.2 bins per
// MHz), centred on one of six Wi-Fi channel centres. In the raw sample the
// subband starts at index 2 and index 30 is the DC bin.
#ifndef TESSARON_BAND_GEOMETRY_H
#define TESSARON_BAND_GEOMETRY_H

inline constexpr int CONST_SUBBAND_NUM_BINS = 56;
inline constexpr int CONST_SUBBAND_LAST_BIN = CONST_SUBBAND_NUM_BINS - 1;
inline constexpr int CONST_SUBBAND_CENTER_BIN =
    CONST_SUBBAND_NUM_BINS / 2;            // at the centre frequency
inline constexpr int CONST_FIRST_BIN = 2;  // raw sample index of subband bin 0
inline constexpr int CONST_DC_BIN = 30;    // raw sample index of the DC bin
inline constexpr double CONST_BINS_PER_MHZ = 3.2;

// Centre frequencies (MHz) of Wi-Fi channels 1, 3, 6, 7, 9 and 11; the
// position in the array is the subband index.
inline constexpr int CONST_NUM_SUBBAND_FREQS = 6;
inline constexpr float CONST_CENTER_FREQUENCIES[CONST_NUM_SUBBAND_FREQS] = {2412, 2422, 2437,
                                                                            2442, 2452, 2462};

// Bins to add to move a bin number from the from_mhz subband's frame into the
// to_mhz subband's frame.
inline int BinFrameOffset(float from_mhz, float to_mhz) {
    return static_cast<int>(static_cast<double>(from_mhz - to_mhz) * CONST_BINS_PER_MHZ);
}

#endif
