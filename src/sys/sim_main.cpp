// Entry of the Linux build: load the simulated machine, then run the program.
#include <cstdlib>

#include "app/app.h"

// Defined in sim.cpp: the machine file at path, or the demo machine for null.
int sim_load_machine(const char* path);

int main(int argc, char** argv) {
    // The machine file is a testing aid; without it the demo machine runs.
    if (!sim_load_machine(std::getenv("QUILLFEN_MACHINE"))) return 2;
    return app_main(argc, argv);
}
