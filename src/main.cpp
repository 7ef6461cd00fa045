// The tessaron daemon: see TessaronMain for the start-up sequence.
#include "tessaron_main.h"
#ifdef TESSARON_HAVE_OUTPUTS
#include "output_options.h"
#endif

int main(int argc, char** argv) {
#ifdef TESSARON_HAVE_OUTPUTS
    return TessaronMainWithOutputs(argc, argv, TessaronMain);
#else
    return TessaronMain(argc, argv);
#endif
}
