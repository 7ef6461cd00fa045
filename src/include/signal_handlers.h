#pragma once

#include <csignal>
#include <cstring>

// Points both signals at one handler. Without SA_RESTART a blocking receive,
// read or poll returns at once, so the loop sees the request without waiting
// for the next datagram.
inline void InstallSignalPair(int first, int second, void (*handler)(int)) {
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(first, &action, nullptr);
    sigaction(second, &action, nullptr);
}
