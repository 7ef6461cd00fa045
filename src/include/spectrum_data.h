// The energy-log statistics now live with the channel-visit average.
#ifndef TESSARON_SPECTRUM_DATA_H
#define TESSARON_SPECTRUM_DATA_H

#include "channel_visit.h"

#endif
