// Closes a device set on every path out of the function that opened it.
#pragma once

#include "sys/sys.h"

struct DevSetGuard {
    sys_devset* s;
    ~DevSetGuard() {
        if (s) sys_dev_close(s);
    }
};
