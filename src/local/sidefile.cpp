// What a step knows of a file beside the blacklist.
#include "local/sidefile.h"

#include "files/wholefile.h"

void side_begin(SideFile* f, const char16_t* path, const char16_t* tmp) {
    *f = SideFile{SideFile::UNREAD, 0, 0, 0, path, tmp};
}

int side_read(SideFile* f, char* buf, size_t size, size_t* n) {
    f->state = SideFile::UNREADABLE;
    f->bad = f->first_bad = f->changed = 0;
    *n = 0;
    sys_read r = whole_file_read(f->path, buf, size, n);
    if (r == SYS_READ_MISSING) f->state = SideFile::READ;  // a missing file holds none
    return r == SYS_READ_OK;
}

void side_parsed(SideFile* f, int bad, int first_bad, int overfull) {
    f->bad = bad;
    f->first_bad = first_bad;
    f->state = bad ? SideFile::BAD_LINES : overfull ? SideFile::OVERFULL : SideFile::READ;
}

int side_may_write(const SideFile* f) { return f->state == SideFile::READ; }

int side_write(SideFile* f, const char* bytes, size_t n) {
    if (!side_may_write(f) || !f->changed) return 1;
    if (!whole_file_write(f->path, f->tmp, bytes, n)) return 0;
    f->changed = 0;
    return 1;
}

SourceRead side_source(const SideFile* f) {
    source_state s = f->state == SideFile::UNREADABLE ? SOURCE_UNREADABLE
                   : f->state == SideFile::BAD_LINES  ? SOURCE_BAD_LINES
                   : f->state == SideFile::OVERFULL   ? SOURCE_OVERFULL
                                                      : SOURCE_OK;
    return SourceRead{s, f->bad, f->first_bad, f->state == SideFile::OVERFULL};
}
