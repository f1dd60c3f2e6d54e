// Costs of the two walks over the device list: the keyword scan, and the
// enforcement pass in its worst case (64 live entries, every present device
// compared with each, no match).
//
// Needs QUILLFEN_MACHINE naming a machine with at least 2000 devices whose
// executable sits beside a blacklist.tsv of 64 unexpired entries that match
// none of them; run.sh writes both.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

#include "blacklist/enforce.h"
#include "blacklist/store.h"
#include "blacklist/sweep.h"
#include "device/scan.h"
#include "sys/sim_machine.h"
#include "sys/sys.h"


namespace {

uint32_t g_err;

// A full table of present devices and a full, live blacklist.
bool worst_case(benchmark::State& state) {
    scan(SCAN_ALL | SCAN_MATCH_ALL, &g_err);
    int dropped;
    bl_prune(&dropped);
    if (g_n != DEV_MAX || g_bn != BL_MAX) {
        char why[128];
        snprintf(why, sizeof why, "machine gives %d devices and %d entries, want %d and %d", g_n, g_bn, DEV_MAX,
                 BL_MAX);
        state.SkipWithError(why);
        return false;
    }
    for (int i = 0; i < g_bn; i++)
        if (g_bl[i].until <= sys_now()) {
            state.SkipWithError("blacklist entry already expired");
            return false;
        }
    return true;
}

void BM_ScanKeyword(benchmark::State& state) {
    g_key[0] = 0;
    for (auto _ : state) {
        scan(SCAN_ALL, &g_err);
        benchmark::DoNotOptimize(g_n);
    }
    state.counters["kept"] = g_n;
}
BENCHMARK(BM_ScanKeyword)->Unit(benchmark::kMicrosecond);

void BM_ScanAll(benchmark::State& state) {
    for (auto _ : state) {
        scan(SCAN_ALL | SCAN_MATCH_ALL, &g_err);
        benchmark::DoNotOptimize(g_n);
    }
    state.counters["kept"] = g_n;
}
BENCHMARK(BM_ScanAll)->Unit(benchmark::kMicrosecond);

// The whole unattended run as the task starts it: load, prune (nothing
// expires), walk every device.
void BM_EnforcePass(benchmark::State& state) {
    if (!worst_case(state)) return;
    for (auto _ : state) benchmark::DoNotOptimize(enforce_pass());
}
BENCHMARK(BM_EnforcePass)->Unit(benchmark::kMillisecond);

// The walk of every record for those left on the PC, which the pass makes
// after the entries changed and else hourly: 2,000 absent records beside
// the present ones, the 64 entries by name and by model, none reached.
void BM_SweepAbsent(benchmark::State& state) {
    if (!worst_case(state)) return;
    for (auto _ : state) benchmark::DoNotOptimize(sweep_absent(sys_now(), -1, 0, 1).ok);
}
BENCHMARK(BM_SweepAbsent)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    const char* machine = getenv("QUILLFEN_MACHINE");
    if (!machine || !sim_load_machine(machine)) {
        fprintf(stderr, "set QUILLFEN_MACHINE to a machine file (see tests/bench/run.sh)\n");
        return 2;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
