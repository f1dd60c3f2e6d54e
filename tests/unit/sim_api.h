// The loader of the simulated seam (sys/sim.cpp). It adds to what an
// earlier call loaded, so each test loads one machine per process (ctest
// runs every test in a process of its own).
#pragma once

int sim_load_machine(const char* path);
inline int qt_sim_load(const char* path) { return sim_load_machine(path); }
