// Signals of a daemon run as a service: SIGHUP reads the signature file
// again, SIGUSR1 prints a one-line status on stderr. The handlers only raise
// flags; the receive thread acts on them between datagrams.
#ifndef TESSARON_SERVICE_SIGNALS_H
#define TESSARON_SERVICE_SIGNALS_H

#include <string>

#include "subband_analyser_class.h"

// "Status: up <s> s, <n> samples, <n> datagrams, active devices: <n> <class>,
// ... (or none), dropped: <n> wrong-sized, <n> bad sample count, <n> off-centre
// samples" for the devices the tracker holds now.
std::string FormatStatusLine(long uptime_seconds, const DatagramCounters& counters);

// Installs the SIGHUP and SIGUSR1 handlers (without SA_RESTART, so a
// blocking receive returns at once) and hooks the receive loop of analyser.
void InstallServiceSignals(SubBandAnalyser& analyser, const std::string& spec_file);

// Acts on the flags the handlers raised; what the receive-loop hook runs.
void ServicePendingSignals(const SubBandAnalyser& analyser, const std::string& spec_file);

#endif
