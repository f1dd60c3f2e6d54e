// Entry of the Linux build: load the simulated machine, then run the
// program, or the self-test when built with QF_SELFTEST.
#include <cstdlib>

#include "sys/sim_machine.h"
#ifdef QF_SELFTEST
#include "selftest/selftest.h"
#define PROGRAM_MAIN selftest_main
#else
#include "app/app.h"
#define PROGRAM_MAIN app_main
#endif

int main(int argc, char** argv) {
    // The machine file is a testing aid; without it the demo machine runs.
    if (!sim_load_machine(std::getenv("QUILLFEN_MACHINE"))) return 2;
    return PROGRAM_MAIN(argc, argv);
}
