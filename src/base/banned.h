// Calls that write without a bound, keep hidden state between calls or hand
// out a shared static buffer: using one is a compile error. Included last by
// base/text.h, after the system headers that declare them.
#pragma once

#define QF_BANNED(func) sorry_##func##_is_banned_use_a_bounded_call
#undef strcpy
#define strcpy(...) QF_BANNED(strcpy)
#undef strcat
#define strcat(...) QF_BANNED(strcat)
#undef strncpy
#define strncpy(...) QF_BANNED(strncpy)
#undef sprintf
#define sprintf(...) QF_BANNED(sprintf)
#undef vsprintf
#define vsprintf(...) QF_BANNED(vsprintf)
#undef gets
#define gets(...) QF_BANNED(gets)
#undef strtok
#define strtok(...) QF_BANNED(strtok)
#undef localtime
#define localtime(...) QF_BANNED(localtime)
#undef gmtime
#define gmtime(...) QF_BANNED(gmtime)
#undef ctime
#define ctime(...) QF_BANNED(ctime)
#undef asctime
#define asctime(...) QF_BANNED(asctime)
