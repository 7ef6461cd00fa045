// The time each bin of the channel view lay open to a hopper's packets over
// a window of visits. A hopper lands on every channel alike, so what it can
// show in a bin is in proportion to the time a packet there would have
// stood as a pulse of its own: not while a fixed emitter held the bin (the
// packet merges with the carrier, or is claimed with the carrier's pulses),
// nor while an oven on-phase swept over it (its pulses are set aside with
// the sweep's fragments).
#ifndef TESSARON_HOP_CLEAR_TIME_H
#define TESSARON_HOP_CLEAR_TIME_H

#include <array>
#include <list>

#include "band_geometry.h"

class SubBand;

// Microseconds per bin of the view.
using BinClearTime = std::array<double, CONST_SUBBAND_NUM_BINS>;

// Adds one visit's clear time per bin to clear_us: its dwell, less the time
// a packet centred on the bin would have touched a bin held by a fixed
// emitter (claimed for a device by the high-duty pass, or busy for nearly
// the whole visit) or an oven on-phase.
void AddVisitClearTime(const SubBand& visit, BinClearTime& clear_us);

// The clear time per bin, summed over the visits from begin on.
BinClearTime HopClearTimePerBin(const std::list<SubBand>& visits,
                                std::list<SubBand>::const_iterator begin);

#endif
