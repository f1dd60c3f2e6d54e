// Entry of the Linux build: load the simulated machine, then run the program.
#include <cstdlib>

#include "app/app.h"
#include "sys/sim_machine.h"

int main(int argc, char** argv) {
    // The machine file is a testing aid; without it the demo machine runs.
    if (!sim_load_machine(std::getenv("QUILLFEN_MACHINE"))) return 2;
    return app_main(argc, argv);
}
