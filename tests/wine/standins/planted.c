/* A program planted where Quillfen must never look for system programs: its
 * folder and the current directory. Being run at all is the failure, so it
 * records that and exits 0, as a convincing impostor would. */
#include "standin.h"

int main(void) {
    standin_record("planted");
    return 0;
}
