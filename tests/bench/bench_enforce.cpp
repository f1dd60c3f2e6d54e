// Costs of the two walks over a full device table: the keyword scan, and the
// enforcement walk in its worst case (64 live entries, 2000 present devices,
// no match), next to the per-pair conversion it replaced.
//
// Needs QUILLFEN_MACHINE naming a machine with at least 2000 devices whose
// executable sits beside a blacklist.tsv of 64 unexpired entries that match
// none of them; run.sh writes both.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

#include "blacklist/enforce.h"
#include "blacklist/store.h"
#include "common/shared.h"
#include "common/text.h"
#include "device/scan.h"
#include "device/syscmd.h"
#include "log/log.h"
#include "sys/sys.h"

int sim_load_machine(const char* path);

namespace {

// The walk as first written: every entry-device pair converts the device's
// texts afresh. Same matches, same calls, same order as enforce_walk.
void enforce_walk_per_pair(int64_t now) {
    static char inst[1200], name[1200];
    for (int b = 0; b < g_bn; b++) {
        const BlacklistEntry& e = g_bl[b];
        if (now >= e.until) continue;
        for (int d = 0; d < g_n; d++) {
            if (!g_dev[d].present) continue;
            utf8(g_dev[d].inst, inst, sizeof inst);
            lower_ascii(inst);
            utf8(g_dev[d].name, name, sizeof name);
            lower_ascii(name);
            if (!bl_matches(e, inst, name)) continue;
            logline("后台命中拉黑 | %s | %s", name, inst);
            if (remove_dev(g_dev[d].inst))
                logline("后台已删除 | %s", name);
            else
                logline("后台删除失败 | %s", name);
        }
    }
}

// Full table of present devices and a full, live blacklist.
bool worst_case(benchmark::State& state) {
    scan(1, 1);
    for (int i = 0; i < g_n; i++) g_dev[i].present = 1;
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
        scan(1, 0);
        benchmark::DoNotOptimize(g_n);
    }
    state.counters["kept"] = g_n;
}
BENCHMARK(BM_ScanKeyword)->Unit(benchmark::kMicrosecond);

void BM_ScanAll(benchmark::State& state) {
    for (auto _ : state) {
        scan(1, 1);
        benchmark::DoNotOptimize(g_n);
    }
    state.counters["kept"] = g_n;
}
BENCHMARK(BM_ScanAll)->Unit(benchmark::kMicrosecond);

void BM_EnforceWalk(benchmark::State& state) {
    if (!worst_case(state)) return;
    int64_t now = sys_now();
    for (auto _ : state) {
        enforce_walk(now);
        benchmark::ClobberMemory();
    }
    state.counters["pairs"] = (double)g_n * g_bn;
}
BENCHMARK(BM_EnforceWalk)->Unit(benchmark::kMillisecond);

void BM_EnforceWalkPerPair(benchmark::State& state) {
    if (!worst_case(state)) return;
    int64_t now = sys_now();
    for (auto _ : state) {
        enforce_walk_per_pair(now);
        benchmark::ClobberMemory();
    }
    state.counters["pairs"] = (double)g_n * g_bn;
}
BENCHMARK(BM_EnforceWalkPerPair)->Unit(benchmark::kMillisecond);

// The whole unattended run as the task starts it: load, prune (nothing
// expires), scan everything, walk.
void BM_EnforcePass(benchmark::State& state) {
    if (!worst_case(state)) return;
    for (auto _ : state) benchmark::DoNotOptimize(enforce_pass());
}
BENCHMARK(BM_EnforcePass)->Unit(benchmark::kMillisecond);

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
