// Entry of the Linux build: load the simulated machine, then run the
// program, or the self-test when built with QF_SELFTEST.
#include <cstdlib>

#include "sys/sim_machine.h"
#ifdef QF_SELFTEST
#include "selftest/selftest.h"
#define PROGRAM_MAIN selftest_main
#else
#include "app/app.h"
#include "app/console.h"
#define PROGRAM_MAIN app_main
#endif

int main(int argc, char** argv) {
    // The machine file is a testing aid; without it the demo machine runs.
    const char* machine = std::getenv("QUILLFEN_MACHINE");
    if (!sim_load_machine(machine)) return 2;
#ifndef QF_SELFTEST
    // Someone trying the demo must not take its devices for their own: said
    // first, on standard error, so that a JSON document stays whole.
    if (!machine)
        err("[演示] 这是 Linux 版的演示：设备、注册表和系统程序都是模拟的（一台已提权的 Windows 10 专业版），"
            "不会改动这台电脑；拉黑名单和日志写在程序所在的目录。\n");
#endif
    return PROGRAM_MAIN(argc, argv);
}
