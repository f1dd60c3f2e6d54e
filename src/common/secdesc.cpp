#include "common/secdesc.h"

#include <cstdint>

namespace {

constexpr uint16_t SE_DACL_PRESENT = 0x0004;
constexpr uint16_t SE_DACL_PROTECTED = 0x1000;  // nothing inherited from the folder
constexpr uint16_t SE_SELF_RELATIVE = 0x8000;
constexpr uint32_t FILE_ALL_ACCESS = 0x001F01FF;
constexpr unsigned char ACCESS_ALLOWED_ACE_TYPE = 0;

// S-1-5-18 (the system) and S-1-5-32-544 (the administrators).
const unsigned char SID_SYSTEM[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
const unsigned char SID_ADMINS[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0};

struct Out {
    unsigned char* p;
    size_t n;
    void u8(unsigned v) { p[n++] = (unsigned char)v; }
    void u16(unsigned v) { u8(v & 0xFF), u8(v >> 8); }
    void u32(uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); }
    void bytes(const unsigned char* b, size_t k) {
        for (size_t i = 0; i < k; i++) u8(b[i]);
    }
    void ace(const unsigned char* sid, size_t len) {
        u8(ACCESS_ALLOWED_ACE_TYPE);
        u8(0);  // no inheritance flags
        u16((unsigned)(8 + len));
        u32(FILE_ALL_ACCESS);
        bytes(sid, len);
    }
};

}  // namespace

size_t file_security(unsigned char* out, size_t size) {
    const size_t acl = 8 + (8 + sizeof SID_SYSTEM) + (8 + sizeof SID_ADMINS);
    const size_t total = 20 + acl;
    if (size < total) return 0;
    Out o{out, 0};
    o.u8(1);  // revision
    o.u8(0);
    o.u16(SE_DACL_PRESENT | SE_DACL_PROTECTED | SE_SELF_RELATIVE);
    o.u32(0);   // no owner: the creator's default owner applies
    o.u32(0);   // no group
    o.u32(0);   // no audit list
    o.u32(20);  // the permission list follows at once
    o.u8(2);    // list revision
    o.u8(0);
    o.u16((unsigned)acl);
    o.u16(2);  // two entries
    o.u16(0);
    o.ace(SID_SYSTEM, sizeof SID_SYSTEM);
    o.ace(SID_ADMINS, sizeof SID_ADMINS);
    return o.n;
}
