// Costs of the two walks over the device list: the keyword scan, and the
// enforcement pass in its worst case (64 live entries, every present device
// compared with each, no match), also with 64 model rules or the largest
// policy, against the floor of a walk; and the pass with nothing to do.
//
// Needs QUILLFEN_MACHINE naming a machine with at least 2000 devices whose
// executable sits beside a blacklist.tsv of 64 unexpired entries that match
// none of them; run.sh writes both.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/text.h"
#include "pass/enforce.h"
#include "policy/policyread.h"
#include "store/store.h"
#include "pass/sweep.h"
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
    const RuleBook& b = bl_book();
    if (g_n != DEV_MAX || b.nentries != BL_MAX) {
        char why[128];
        snprintf(why, sizeof why, "machine gives %d devices and %d entries, want %d and %d", g_n, b.nentries, DEV_MAX,
                 BL_MAX);
        state.SkipWithError(why);
        return false;
    }
    for (int i = 0; i < b.nentries; i++)
        if (b.entries[i].until <= sys_now()) {
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

// A pass as set up; one first, so that what a change of the rules costs
// once (the walk of absent records, the held policy rules) stays out.
void pass(benchmark::State& state) {
    enforce_pass();
    const int fn[3] = {SIM_DEV_OPEN, SIM_DEV_OPEN_ID, SIM_DEV_IDS};
    uint32_t was[3] = {g_sim.calls[fn[0]], g_sim.calls[fn[1]], g_sim.calls[fn[2]]};
    for (auto _ : state) benchmark::DoNotOptimize(enforce_pass());
    const char* name[3] = {"walks", "lookups", "id_lists"};  // per pass
    for (int k = 0; k < 3; k++)
        state.counters[name[k]] = benchmark::Counter(g_sim.calls[fn[k]] - was[k], benchmark::Counter::kAvgIterations);
}

// The whole unattended run as the task starts it: load, prune (nothing
// expires), walk every device.
void BM_EnforcePass(benchmark::State& state) {
    if (worst_case(state)) pass(state);
}
BENCHMARK(BM_EnforcePass)->Unit(benchmark::kMillisecond);

// The walk of every record for those left on the PC, which the pass makes
// after the entries changed and else hourly: 2,000 absent records beside
// the present ones, the 64 entries by name and by model, none reached.
void BM_SweepAbsent(benchmark::State& state) {
    if (!worst_case(state)) return;
    ReachList found;
    for (auto _ : state) benchmark::DoNotOptimize(sweep_absent(bl_book(), sys_now(), nullptr, 1, &found).ok);
}
BENCHMARK(BM_SweepAbsent)->Unit(benchmark::kMillisecond);

// The floor: floor.c's reads (name, class, id) over the devices the pass
// walks. The simulated reads cost next to nothing, so the pass less the
// floor is the pass's own work, which a real walk adds to its own.
void BM_Floor(benchmark::State& state) {
    static char16_t text[WHOLE_NAME_UNITS];
    uint32_t err;
    for (auto _ : state) {
        sys_devset* s = sys_dev_open(0, &err);
        for (uint32_t i = 0; s && sys_dev_next(s, i); i++) {
            if (!sys_dev_prop(s, SYS_PROP_FRIENDLYNAME, text, countof(text)))
                sys_dev_prop(s, SYS_PROP_DEVICEDESC, text, countof(text));
            sys_dev_prop(s, SYS_PROP_CLASS, text, countof(text));
            sys_dev_id(s, text, countof(text));
        }
        if (s) sys_dev_close(s);
    }
}
BENCHMARK(BM_Floor)->Unit(benchmark::kMillisecond);

// Moves a data file beside the simulated executable: run.sh's variants in
// and out of the pass's way.
void move(const char* from, const char* to) {
    std::string dir(g_sim.exe, strrchr(g_sim.exe, '/') + 1);
    rename((dir + from).c_str(), (dir + to).c_str());
}

// Every policy list full, in force until 2099, none of which reaches a
// device; each model with the bus, vendor and product of one.
void put_policy(void) {
    char16_t key[128], name[128];
    char text[128];
    for (int l = 0; l < POLICY_LISTS; l++) {
        key[0] = 0;
        wcat(key, countof(key), POLICY_KEY);
        wcat8(key, countof(key), "\\");
        wcat(key, countof(key), POLICY_LIST[l].key);
        for (int i = 0; i < POLICY_LIST_MAX; i++) {
            policy_rule_kind kind = POLICY_LIST[l].kind;
            if (kind == POLICY_MODEL) snprintf(text, sizeof text, "USB\\VID_%04X&PID_%04X&MI_00", (l * 128 + i) * 7, (l * 128 + i) * 13);
            else if (kind == POLICY_NAME) snprintf(text, sizeof text, "no such policy camera %d", i);
            else snprintf(text, sizeof text, "USB\\VID_FFFE&PID_%04d\\%d&BEEF&0&%d", l, i, i);
            utf16(text, name, countof(name));
            sys_reg_set_text(key, name, u"2099-12-31", SYS_REG_SZ);
        }
    }
}

void BM_EnforceModelRules(benchmark::State& state) {
    move("rules-64.tsv", "blacklist-rules.tsv");
    if (worst_case(state)) pass(state);
    move("blacklist-rules.tsv", "rules-64.tsv");
}
BENCHMARK(BM_EnforceModelRules)->Unit(benchmark::kMillisecond);

void BM_EnforcePolicyFull(benchmark::State& state) {
    put_policy();
    PolicyRead read = policy_load(sys_now());
    if (read.outcome != POLICY_READ || read.n != POLICY_RULES_MAX)
        state.SkipWithError("policy not read whole");
    else if (worst_case(state)) pass(state);
    sim_load_machine(getenv("QUILLFEN_MACHINE"));  // the registry as it was: empty
}
BENCHMARK(BM_EnforcePolicyFull)->Unit(benchmark::kMillisecond);

// No blacklist, no rules, no policy key: the pass as most machines run it.
void BM_EnforceIdle(benchmark::State& state) {
    move("blacklist.tsv", "blacklist.tsv.away");
    pass(state);
    move("blacklist.tsv.away", "blacklist.tsv");
}
BENCHMARK(BM_EnforceIdle)->Unit(benchmark::kMicrosecond);

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
