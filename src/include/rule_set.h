// The two rule sets the classifiers can run under, chosen once at start-up.
// "standard" is the long-standing behaviour, kept exactly. "refined" changes
// pulse detection thresholds and classifier and tracker decisions (never the
// datagram decoding or the power conversion), each change for a physical
// reason given beside its field. Every classifier consults ActiveRules();
// with the standard set every refined hook is a no-op.
#ifndef TESSARON_RULE_SET_H
#define TESSARON_RULE_SET_H

#include <array>
#include <string>

enum class RuleSetId { kStandard, kRefined };

// A peak weaker than the single-sample margin, believed once it has stood
// margin_db over the mean noise on overlapping bins in `samples` consecutive
// samples (0 samples: level unused).
struct PersistenceLevel {
    int samples;
    float margin_db;
};
inline constexpr int kPersistenceLevels = 4;

// A packet spread over `bins` adjacent bins, believed once the sum of their
// powers has stood margin_db over the mean noise power of one bin in
// `samples` consecutive samples on overlapping bins.
struct BandPersistenceLevel {
    int bins;
    int samples;
    float margin_db;
};
inline constexpr int kBandPersistenceLevels = 8;
inline constexpr int kWideBandPersistenceLevels = 8;

struct RuleSet {
    RuleSetId id;
    const char* name;

    // --- Pulse detection ---------------------------------------------------
    // Cut pulses against the noise floor measured on each channel instead of
    // the fixed -85 dBm: the card's floor sits near -95 dBm, so the fixed
    // floor throws away the 10 dB where a headset in the next room lives.
    bool floor_follows_noise;
    // A bin joins a pulse when it stands this far above the measured mean
    // noise power. Noise power per bin is exponential (Rayleigh amplitude):
    // a lone bin exceeds mean + 8 dB with probability exp(-6.3) = 1.8e-3, so
    // edges are found but nothing starts from this level alone.
    float join_margin_db;
    // A pulse needs one bin this far above the mean noise. Stored powers
    // are truncated to whole dB, so a noise bin reads mean + 13 dB once its
    // power passes mean + 12 dB: P = exp(-10^1.2) = 1.3e-7 per bin and
    // sample, 0.13 lone one-sample blips a second over 56 bins at 17,500
    // samples/s, and a pulse lasting two samples (~1e-13 per bin pair) never.
    float peak_margin_db;
    // A packet too weak for peak_margin_db is still believed when it
    // persists: a packet a few samples long cannot be averaged like a
    // carrier, but it stays on its bins while noise is drawn afresh every
    // sample. A bin reads N + m once its power passes N + m - 1 (whole dB,
    // truncated): p(m) = exp(-10^((m-1)/10)) per bin and sample. A noise run
    // is one bin wide and the next sample's run must lie on it or beside
    // it, so each further sample costs 3 p. Over 56 bins at 17,500
    // samples/s (the fastest card), noise persists into a pulse:
    //   2 samples at N + 11: p = 4.5e-5, 56 x 3 p^2   = 3.5e-7 a sample,
    //                        once in 3 minutes;
    //   3 samples at N + 10: p = 3.6e-4, 56 x 9 p^3   = 2.3e-8, once in 40 min;
    //   4 samples at N + 9:  p = 1.8e-3, 56 x 27 p^4  = 1.7e-8, once an hour;
    //   5 samples at N + 8:  p = 6.7e-3, 56 x 81 p^5  = 6.1e-8, once in 15 min;
    // far fewer than the 0.13 lone one-sample blips a second the peak
    // margin already lets through, each as short as the level's samples,
    // and only ever one or two bins wide. A run with other runs within 3
    // bins of it in the same sample is a piece of a wider noise-like
    // emission (an OFDM channel's skirt), whose floor stands above N, and
    // starts no persistence. A voice packet at -82 dBm over three bins sits
    // at N + 8..10 a bin, lasting 3 to 7 samples; Zigbee at -78 dBm over
    // 2 MHz at N + 9 a bin for a frame of hundreds of samples.
    std::array<PersistenceLevel, kPersistenceLevels> persistent_peak;
    // A 1 MHz hopper packet (GFSK) spreads its power over three 312.5 kHz
    // bins; landing between two bins it puts some 40 % in each, so a
    // -82 dBm packet stands only N + 8..10.5 in its best bin but about
    // N + 12.5..13 summed over 2-3 bins. The noise of a sum of k bins is no
    // longer exponential but Gamma(k): P(S > x N) = exp(-x) sum_{i<k} x^i/i!,
    // so each width has levels of its own. Stored values are truncated whole
    // dB, so a sum reading N + m has true power over N + m - 1 at least; a
    // chain of s samples on overlapping windows allows 2k + 1 window
    // positions a step. Over the 56 bins at 17,500 samples/s noise passes:
    //   2 bins: 2 at N + 12.5 (3.5e-8 a sample, once in 28 min),
    //           3 at N + 11.5 (6e-9), 4 at N + 10.5 (2.2e-8),
    //           5 at N + 10 (1.1e-8, once in 84 min);
    //   3 bins: 2 at N + 13.5 (4.4e-9), 3 at N + 12 (8.7e-8, once in 11 min),
    //           4 at N + 11.5 (2e-8), 5 at N + 11 (2.2e-8, once in 44 min);
    // together about once in 5 minutes, no more often than the one-bin
    // levels above. Only windows holding the strongest bin of a run above
    // the join level are summed, and the same guard against wide emissions
    // applies.
    std::array<BandPersistenceLevel, kBandPersistenceLevels> persistent_band;
    // --- Weak game-controller packets (summed power of 4-5 bins) ---------
    // The controller's packet is flat over about 1.05 MHz with rolled-off
    // edges, 1.4-1.75 MHz in all: four bins hold some 22 % of its power each
    // and one or two edge bins the rest. At -80 dBm each bin stands only
    // N + 8.5 (below the 4-sample one-bin level's N + 9 in half its
    // samples), and its run of 4-5 bins is wider than the 2-3-bin windows
    // above may hold, so it is judged by its strongest bin alone and lost.
    // Its 4 or 5 bins together hold N + 15 (30-36 times the noise of one
    // bin). Noise summed over k bins is Gamma(k); with the same counting as
    // above (truncated readings, 2k + 1 window positions a step) noise passes
    //   4 bins: 2 at N + 14 (5.6e-9 a sample), 3 at N + 13 (5.3e-9),
    //           4 at N + 12.5 (1.4e-9), 5 at N + 12 (2.4e-9);
    //   5 bins: 2 at N + 14.5 (3.5e-9), 3 at N + 13.5 (6.8e-9),
    //           4 at N + 13 (3.0e-9), 5 at N + 12.5 (9.9e-9);
    // 3.8e-8 a sample over the 56 bins together, against 2.1e-7 for the
    // 2-3-bin levels: all band levels together pass noise once in 3.9
    // minutes at 17,500 samples/s instead of once in 4.6. A belief by these
    // windows is evidence for the controller test only: a Zigbee frame near
    // the noise fills them too, and must not become a hop's packet. At
    // -85 dBm the controller's 5 bins hold N + 12 (15.5 times one bin's
    // noise): believing that over the 4-5 samples of its short packet would
    // need N + 11, where noise passes 1.8e-2 a sample (300 a second), so
    // the controller's sensitivity ends at -80 dBm.
    std::array<BandPersistenceLevel, kWideBandPersistenceLevels> persistent_wide_band;
    // Highest noise estimate believed (dBm per bin): a card's receiver
    // floor lies near -95 dBm; an estimate above -90 dBm is an emitter
    // covering the whole view, which must not blind the detector.
    float max_noise_dbm;
    // Hopper tests keep pulses whose peak stands this far above the noise
    // (standard: fixed -75 dBm). A headset at -75..-80 dBm spread over 3
    // bins peaks near -80 dBm, 15 dB above the floor. 2 dB above the
    // detector's margin: the noise-like skirts of a busy Wi-Fi channel next
    // door leave many fragments just past the detector's margin. A pulse
    // seen over at least a persistence level's samples is held to that
    // level's margin plus the same 2 dB instead: its persistence, not one
    // lucky sample, is the evidence.
    float hopper_peak_margin_db;

    // A strong emitter's skirts in one sample (see emitter_skirts.h): runs
    // lying wholly this far under the sample's strongest bin, joined to a
    // strong run by short gaps, are neither peaks of their own nor breadth
    // of a wide burst (standard: 0, every run counts). A Zigbee O-QPSK
    // signal's first sidelobe lies 23 dB under its main lobe, the FFT
    // window's leakage 31 dB under its peak. An OFDM frame's 52 subcarriers
    // fade like noise from bin to bin: its strongest bin stands near
    // ln 52 = 4, 6 dB, over their mean, and a bin falls 14 dB under the
    // mean with probability 1 - exp(-10^-1.4) = 4 %, so it keeps nearly
    // all its bins within 20 dB and stays one wide burst.
    float skirt_depth_db;
    // Quiet bins a skirt may skip and still belong to its emitter: where a
    // skirt is strong enough to raise a pulse peak (5 dB over the join
    // floor) a bin fades under the join floor with probability
    // 1 - exp(-10^-0.5) = 27 %, four in a row 0.5 %; a packet of its own
    // further off is not the emitter's.
    int skirt_gap_bins;

    // --- Timing ------------------------------------------------------------
    // Pulse durations are judged in units of the card's measured sample
    // interval: a burst of length L sampled every T us shows a duration
    // between L - T and L, give or take the timestamp jitter.
    bool durations_in_sample_intervals;

    // --- Hoppers ------------------------------------------------------------
    // Voice, data and FHSS-phone timing found in one window are announced
    // each as its own device, never merged into one unknown hopper and
    // never a data link hidden behind a voice link.
    bool hoppers_announced_separately;
    // A hopper's next channel is pseudo-random: the second packet of an
    // exchange may sit above or below the first. (Standard: a partner may
    // not be more than 2 bins higher.)
    bool hop_order_free;
    // A hopper's packet sits on one channel while it lasts; a pulse whose
    // bins spread by drifting is a swept carrier (an oven near the noise,
    // its on-phases 20 ms apart on 50 Hz mains, i.e. on a data link's slot
    // grid), not a packet.
    bool hops_stay_on_channel;
    // Voice pairs a window needs (0: the standard MIN_BTSCO_PULSES, 27).
    // Once both packets must last as long as a voice packet, a data link
    // gives 0-1 chance pairs per window, while a voice link half hidden by a
    // wide emitter (a video sender over half the views) still gives 20-25.
    int min_voice_pairs;
    // Zigbee is judged by its share of the time the card spent on its
    // channel, not by a fixed number of ms per window.
    bool zigbee_airtime_share;
    // A Zigbee frame shows its 2 MHz in one sample; a pulse that grew to
    // that width only by drifting (an oven's carrier sweeping, picked up
    // near the noise) is no frame.
    bool zigbee_needs_width_at_once;
    // A frame's main lobe is measured under its own top (RssiPulse's lobe:
    // the bins within this many dB of the strongest of its strongest-value
    // profile; standard: 0, not measured), not where it meets a fixed floor.
    // Zigbee at -78 dBm over 2 MHz stands about N + 9 dB a bin: it meets
    // N + 8 where a strong frame is still 1 dB under its top, so its band
    // measured 5 bins against a strong frame's 8. The O-QPSK half-sine
    // spectrum falls 6 dB at +-0.78 MHz, 5 bins, which the card's window
    // widens to 5-6; a 1 MHz Bluetooth packet spans 2-3 bins at that depth.
    float lobe_depth_db;
    // A Zigbee frame's lobe centre (its power-weighted mean bin) must lie
    // this close to a true IEEE 802.15.4 channel, 2405 + 5 (k - 11) MHz
    // (standard: 0, the strongest bin within one bin of the fixed bins 7,
    // 22, 37, 52, which lie up to 1.6 bins off the channels at 5.6, 21.6,
    // 37.6 and 53.6). Near the noise the strongest bin is any of the flat
    // top's three, but the centre of the lobe scatters by about half a bin
    // (0.16 MHz); the transmitter's crystal may be 40 ppm off (0.1 MHz at
    // 2.48 GHz) and the card's some 20 ppm (0.05 MHz): one bin in all. A
    // Bluetooth channel beside a Zigbee one lies 1 MHz (3.2 bins) away.
    float zigbee_centre_tolerance_mhz;
    // The game controller's packet count is scaled to the share of the
    // window's spectrum (bins x dwell time) a continuous emitter leaves
    // clear: a packet hopping onto bins a video sender or a carrier holds is
    // never cut out as a pulse of its own, so a fixed count per window
    // measures the neighbours, not the controller. Never scaled by more than
    // 2: from less than half the view the clear part is too small a sample.
    bool xbox_count_per_clear_view;
    // The controller's packets are spread like a hopper's when no view holds
    // more than halfway between the share its clear spectrum (bins x dwell
    // time no continuous emitter holds) would give a hopper and all of them
    // (standard: no view more than half). A hopper lands in each view in
    // proportion to its clear spectrum; an emitter confined to one view (a
    // Wi-Fi channel's fragments) puts nearly all its packets there. With six
    // clear views the limit is 7/12; beside a video sender and an oven that
    // leave three views clear, a controller's busiest view holds about 0.4
    // and a fixed half would sit three binomial spreads above it, whereas
    // (1 + 0.4) / 2 sits five above.
    bool xbox_spread_per_clear_view;
    // A voice link transmits a master packet and the slave's answer one
    // 625 us slot later, repeating every reserved interval (2, 4 or 6
    // slots). Most of its packets hop out of the view alone and look like
    // the controller's long packets, but they keep the link's slot phase:
    // a controller candidate that starts within one sample interval of the
    // link's pattern, measured against the nearest voice pair in time (the
    // two clocks drift apart by up to 40 ppm), is the link's packet. A
    // controller's packets, at arbitrary phase, lose only 4T over the
    // link's interval of them (9-18 %).
    bool voice_link_keeps_its_slots;

    // --- Microwave oven ----------------------------------------------------
    // An oven is an on-phase of several ms gated at the mains frequency
    // whose peak sweeps continuously over several MHz, not any pair of
    // packets whose peak bins differ.
    bool oven_needs_on_phases;
    // A row of the oven's drift record needs its strongest bin this far
    // above the measured noise (standard: fixed -75 dBm). The strongest of
    // 56 noise bins passes N + 10 dB with probability 56 exp(-10) = 2.5e-3
    // per row, and an on-phase needs a steady sweep over several ms of
    // consecutive rows, so noise never makes one; an oven a room away,
    // -80 dBm at its peak, 15 dB over the noise, keeps nearly every row.
    float oven_row_margin_db;

    // --- Tracker -----------------------------------------------------------
    // A fixed-frequency device seen from two channel views (two tunings of
    // the receiver, one visit each) is confirmed and shown at once. Standard
    // waits for the record to have lasted 2 host seconds, i.e. for a later
    // pass, which puts the first announcement two high-duty periods after
    // switch-on, or three for a device the first period's views miss. One
    // view's visit alone is not enough: a burst of traffic during one visit,
    // or a wide carrier cut by the view's edge, looks like a device there.
    bool fixed_confirmed_in_one_pass;

    // --- High-duty devices -------------------------------------------------
    // A continuous carrier is judged by its occupied bandwidth first: wider
    // than 10 MHz is an FM video sender, narrower than 1 MHz an analog phone,
    // whatever ripple its shape carries.
    bool carrier_width_decides;
    // The high-duty analysis reads each subband's spectrum averaged in dB
    // over all its samples (at least 50). Noise of mean power N averages to
    // N - 2.5 dB there, with a spread of 5.6 dB / sqrt(samples), under
    // 0.8 dB. A band is looked at when its peak stands this far above N
    // (standard: fixed -80 dBm, N + 15 dB): 7.5 dB, nine spreads, above
    // where noise averages, so noise never makes one, while a continuous
    // carrier 6 dB above the noise per bin does; averaging over the whole
    // dwell is what lets a carrier be found nearer the floor than a pulse.
    float highduty_peak_margin_db;
    // A band grows while its averaged bins stand this far above N
    // (standard: fixed -90 dBm): 3.5 dB, four spreads, over the noise's
    // own average, so the band ends where the carrier meets the noise, and
    // its widths are not measured in the noise beyond.
    float highduty_edge_margin_db;
    // A band whose peak is the first or last bin of the view, where another
    // channel's view goes on, is the skirt of an emitter centred in that
    // neighbour, which names it with its whole band. Near the noise such
    // skirts pass the floor above; named here they would be a second,
    // narrow device. (The channel views overlap, so every frequency between
    // the lowest and highest view edges lies inside some view.)
    bool skirts_left_to_neighbour;
    // Such a skirt, on the air throughout its visit, is still the emitter
    // seen from a second tuning of the receiver, at another time: it counts
    // as a view of the device it overlaps (fixed_confirmed_in_one_pass),
    // never as a device of its own. A wide carrier centred between two view
    // centres (a video sender at 2432 MHz, whole only in the 2437 MHz view)
    // is otherwise named from one view alone and waits for a second pass.
    bool skirts_count_as_views;
    // The sightings of one high-duty pass that overlap, directly or through
    // another, are one device (standard: each sighting is compared only
    // with the band a device keeps, that of its strongest sighting). A video
    // sender at 2432 MHz is seen from the 2422, 2437 and 2442 MHz views;
    // the outer two show its two halves, which share no bin and lie 20 MHz
    // apart, and only the 2437 MHz sighting overlaps both. Compared with the
    // kept band alone, the sender splits into two devices.
    bool highduty_sightings_chained;

    // --- Generalisation to other emitter models -----------------------
    // Channel 24 (2470 MHz) is the highest 802.15.4 channel the scan
    // reaches, and no view holds its 1.56 MHz lobe whole: the top view's
    // last bin ends at 2470.6 MHz. Its frames are cut by that edge in every
    // sighting (standard, and refined before: a cut lobe is no frame, since
    // another view shows it whole). Where no view can, a lobe whose centre lies a
    // bin inside the view is measured from the part the view shows; only its
    // outer flank is missing, which moves its centre by under half a bin.
    bool zigbee_edge_channel_cut;
    // A data link's multi-slot packets hop like its other packets: they
    // must spread over the band's frequencies (hops_spread_over_band).
    // Frames of 1-4 ms on one fixed channel (a Zigbee network at high
    // airtime) are no data link.
    bool data_packets_hop;
    // A hopper's pairs spread over the band's frequencies, counted in
    // absolute frequency, not in bins of the view that saw them. The
    // views overlap: one channel (Zigbee channel 13, 2415 MHz) lies at bin
    // 37.6 of the 2412 MHz view and 15.6 of the 2422 MHz view, so in the
    // view frame a fixed channel's pulses fall in two clusters 22 bins
    // apart, each half of the total, and pass a test of "no 14 bins hold
    // more than half". In the band they are one cluster.
    bool hops_spread_over_band;
    // A voice link may retransmit: an eSCO link repeats an unacknowledged
    // pair in the two slots after its reserved ones, on fresh hops, on the
    // same slot grid (EV3: 382 us packets, a 6-slot interval). Its pairs
    // then lie 6k or 6k +- 2 slots apart, which no single interval fits
    // (with one pair in five retransmitted, under three quarters fit 6k),
    // (and a slave's packet pairs with the master's retransmission one
    // slot later), so voice_link_keeps_its_slots credited none of its
    // packets and the link's lone 382 us packets passed for a
    // controller's long ones. A voice link whose pairs lie on the 625 us
    // slot grid at no single interval uses any slot of its grid: every
    // candidate on that grid is its own. A controller beside it loses the
    // share of its packets that happens to start there (2T / 625).
    bool voice_retransmission_window;
    // A magnetron supplied through a full-wave rectifier (no voltage
    // doubler) conducts on both halves of the mains cycle: its on-phases
    // repeat at half the mains period (8.3 or 10 ms), each still a
    // continuous sweep of several ms.
    bool oven_half_mains_period;
    // Narrowband FM voice (+-50 kHz) is a single line: seen through the
    // card's window it is at most the window's main lobe, 4 bins
    // (1.25 MHz), at 15 dB under its peak. A carrier wider than that is
    // no analog phone, whatever its shape resembles.
    bool analog_needs_narrow_line;
    // A TDD cordless phone's handset answers on the base's channel half a
    // frame later; the bursts its pair search tagged are the phone's. A
    // phone with short bursts (400 us, a 417 us slot) on a 1.7 MHz grid
    // looks like a controller's long packet in width and length, but a
    // controller never has a partner on its channel half a frame away:
    // it hops on every packet.
    bool phone_bursts_are_the_phones;
    // The skirt of an emitter centred beyond the view's edge need not peak
    // in the very edge bin: the falling edge of a 1.5 MHz link centred
    // 0.6 MHz outside the view, averaged, peaks in bin 1 as often as in
    // bin 0. A band that runs into the edge with its peak within one bin of
    // it is the neighbour view's emitter too (skirts_left_to_neighbour);
    // judged here, its mirrored half measured under 1 MHz and the link's
    // edge was named an analog phone.
    bool skirt_peak_beside_edge;
    // --- Hop spread of the FHSS phone --------------------------------------
    // A hopper lands on every channel alike, so what it shows in a bin of
    // the view is in proportion to the time the bin lay open to it: not held
    // by a fixed emitter (claimed for a device, or busy nearly the whole
    // visit) and not under an oven on-phase. Beside a video sender, an oven
    // and a carrier that hold much of the band, a phone's packets crowd into
    // the open bins. Each bin's count is weighed by the view's mean open
    // time over its own (by at most 2, a bin seen briefly being a small
    // sample) before no quarter of the view may hold more than half. With
    // every bin open this is the plain test. Fragments crowded into one
    // quarter still fail: weighing lifts what lies outside it by at most 2,
    // so the plain share they may reach rises from 1/2 to 2/3 at most, and
    // only where the rest of the view was half hidden.
    bool hop_spread_per_clear_time;

    // --- High-duty devices near the noise ----------------------------------
    // A band whose averaged peak stands only this far above N (less than
    // highduty_peak_margin_db) is still looked at, but only when it is shown
    // to be continuous (highduty_continuity_from_level). Noise averages to
    // N - 2 dB (2.5 dB for exponential power, 0.5 dB back for the whole-dB
    // truncation of stored values) with a spread of 5.6 dB / sqrt(rows):
    // 0.13 dB over a 110 ms dwell at 57 us, 0.18 dB at 114 us, so N + 1 dB
    // stands 16 spreads above it; a 4 MHz emitter at -80 dBm (N + 4 a bin)
    // averages N + 3.5, a video sender at -80 dBm over 18 MHz N + 1.6.
    float highduty_weak_peak_margin_db;
    // Whether a band is on the air all the time is judged from its duty (the
    // share of samples over the duty counter's level) together with its
    // averaged level, not from the duty alone. A continuous noise-like
    // emitter of mean power P passes a level T in exp(-T / P) of its
    // samples, so near the noise even an emitter that never stops passes it
    // well under 95 % of the time; an emitter on a share a of the time mixes
    // that with the noise's exp(-T / N). Both the dB average and the duty are
    // such mixtures, so the two together give the share a (0 to 1). Believed
    // only where they can tell (a continuous emitter would pass T at least
    // 0.1 more often than the noise does); elsewhere the duty must pass 95 %
    // as before.
    bool highduty_continuity_from_level;
    // Share of the time a band must be on the air to be a continuous
    // emitter: a burst of Wi-Fi traffic at 40 % airtime, an oven at 50 %,
    // hoppers at a few % fall far below.
    float highduty_min_on_share;
    // A carrier's widths are measured on its power over the noise (the
    // averaged level less the noise's own share), down to as deep as that
    // power can be told from the noise (1 dB over where noise averages),
    // at most 15 dB under the peak. A bell-shaped FM spectrum's width grows
    // as the square root of the depth it is measured at, so at a depth D
    // under 15 dB a video sender is wider than 10 MHz x sqrt(D / 15) and
    // its top is measured at D / 5 (3 dB at 15). Measured where the averaged
    // level meets a fixed floor, the width of a weak video sender shrank
    // under the limit.
    bool carrier_width_over_noise;
    // --- Band of an analog phone -------------------------------------------
    // An analog phone occupies its line alone: the bins within 15 dB of its
    // peak (above the noise), at most the window's 4-bin main lobe. The
    // band it was found in may run on, still over the noise, into the skirt
    // of a stronger emitter beside it (a video sender's upper flank 2 to 6
    // MHz below the line); kept whole, that band overlaps the other
    // emitter's sightings, and one pass's chain joins the two into one
    // device named by whichever class was seen more often. The phone's
    // sighting is its line's bins.
    bool analog_band_is_its_line;

    // --- Oven line in each row ---------------------------------------------
    // A magnetron's emission is one narrow line (about 0.6 MHz, 2 bins): in
    // each row of its on-phase its strongest bin stands clear of the bins
    // 1.25 to 2.2 MHz (4 to 7 bins) beside it, every one of them at least
    // this far weaker. An OFDM frame is flat over 16 MHz: its strongest
    // subcarrier has such flat neighbours on at least one side, so its rows
    // give the drift record no peak, and frames at a channel's edge no longer
    // join a link's packets into sweeping on-phases. Noise beside a weak
    // oven (-80 dBm, 15 dB over the noise) passes peak - 6 dB once in 3e3
    // bins. 0 keeps every row.
    float oven_line_clear_db;
};

const RuleSet& StandardRules();
const RuleSet& RefinedRules();
// The rule set in force; standard until SelectRules is called.
const RuleSet& ActiveRules();
void SelectRules(RuleSetId id);
// "standard" or "refined"; false for any other name.
bool ParseRuleSetName(const std::string& name, RuleSetId* id);

#endif
