// The live receive loop's socket settings. The loop itself is
// SubBandAnalyser::ReadDataFromNetwork (with RequestStop, StopRequested and
// ClearStop), defined in receive_loop.cpp.
#ifndef TESSARON_RECEIVE_LOOP_H
#define TESSARON_RECEIVE_LOOP_H

#include <cstddef>
#include <cstdint>

inline constexpr size_t CONST_RECEIVE_BUFFER_SIZE = 1400;
inline constexpr uint16_t CONST_SPECTRUM_PORT = 10000;
inline constexpr int CONST_RECEIVE_SOCKET_BUFFER = 8 << 20;  // bytes asked of the kernel

// Asks for a receive buffer of CONST_RECEIVE_SOCKET_BUFFER bytes (forcing it
// past the system limit when privileged); warns when less is granted.
void SizeReceiveBuffer(int sock);

#endif
