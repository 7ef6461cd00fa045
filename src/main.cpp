// The tessaron daemon: see TessaronMain for the start-up sequence.
#include "tessaron_main.h"

int main(int argc, char** argv) {
    return TessaronMain(argc, argv);
}
