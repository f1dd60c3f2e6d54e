// The unattended pass the scheduled task runs: remove every present device
// that an entry in force reaches.
#pragma once

enum enforce_result {
    ENFORCE_OK,       // nothing failed
    ENFORCE_FAILED,   // a removal, the device list, the blacklist's read or
                      // the drop of expired entries failed
    ENFORCE_RESTART,  // nothing failed, and a removal waits for a restart
};

enforce_result enforce_pass(void);
