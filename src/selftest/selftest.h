// quillfen-selftest: shows on a real PC, with software devices in place of
// a camera, that Windows refuses what Quillfen blocks and installs it
// again once lifted. Its exit codes, one table.
#pragma once

enum selftest_exit {
    SELFTEST_PASSED = 0,    // every step passed, and everything was put back
    SELFTEST_FAILED = 1,    // a step failed, the run was interrupted, or something could not be put back (said which)
    SELFTEST_CANNOT = 2,    // this environment cannot demonstrate the block, or a step of it; nothing failed
    SELFTEST_REFUSED = 3,   // refused before any change: not elevated, or settings that are not Quillfen's alone
    SELFTEST_USAGE = 87,    // the command line is wrong; nothing ran
};

int selftest_main(int argc, char** argv);
