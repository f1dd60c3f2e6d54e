// The exit codes of every mode. Scripts, detection rules and Task
// Scheduler's "Last Run Result" read them, so a number never changes its
// meaning.
#pragma once

enum exit_code {
    EXIT_OK = 0,          // done (for the driven modes: all that was asked, nothing to do included);
                          // --check: compliant
    EXIT_FAILED = 1,      // something failed or a value was refused; --check: not compliant
    EXIT_CANNOT_TELL = 2, // --check: the answer cannot be had
    EXIT_USAGE = 87,      // the command line is wrong; nothing ran (Windows' ERROR_INVALID_PARAMETER)
    EXIT_RESTART = 3010,  // --enforce, --remove: done, a removal finishes at the next restart
};
