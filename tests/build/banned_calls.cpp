// Compiled once per banned call, with CALL_<name> defined, by banned.cmake:
// each must fail. With nothing defined it must compile, which shows that the
// failures come from the ban.
#include <ctime>

#include "base/text.h"

void use(char* d, const char* s, va_list ap, const time_t* t, const struct tm* tm) {
#ifdef CALL_strcpy
    strcpy(d, s);
#endif
#ifdef CALL_strcat
    strcat(d, s);
#endif
#ifdef CALL_strncpy
    strncpy(d, s, 4);
#endif
#ifdef CALL_sprintf
    sprintf(d, "%s", s);
#endif
#ifdef CALL_vsprintf
    vsprintf(d, s, ap);
#endif
#ifdef CALL_gets
    gets(d);
#endif
#ifdef CALL_strtok
    (void)strtok(d, s);
#endif
#ifdef CALL_localtime
    (void)localtime(t);
#endif
#ifdef CALL_gmtime
    (void)gmtime(t);
#endif
#ifdef CALL_ctime
    (void)ctime(t);
#endif
#ifdef CALL_asctime
    (void)asctime(tm);
#endif
    (void)d, (void)s, (void)ap, (void)t, (void)tm;
}
