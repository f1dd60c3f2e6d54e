/* Stand-in for schtasks: records its command line and exits with the chosen code. */
#include "standin.h"

int main(void) {
    standin_record("schtasks");
    return standin_exit_code("schtasks");
}
