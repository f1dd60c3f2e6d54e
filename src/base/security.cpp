// Security descriptors and identifiers, byte by byte.
#include "base/security.h"

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
// S-1-3-0 (CREATOR OWNER).
const unsigned char SID_CREATOR_OWNER[] = {1, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0};

// S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464.
const unsigned char SID_INSTALLER[] = {
    0x01, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x50, 0x00, 0x00, 0x00,
    0xB5, 0x89, 0xFB, 0x38, 0x19, 0x84, 0xC2, 0xCB, 0x5C, 0x6C, 0x23, 0x6D, 0x57, 0x00, 0x77, 0x6E, 0xC0, 0x02, 0x64, 0x87};

int same_sid(const unsigned char* sid, size_t size, const unsigned char* want, size_t len) {
    if (size < len) return 0;
    for (size_t i = 0; i < len; i++)
        if (sid[i] != want[i]) return 0;
    return 1;
}

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

size_t file_security(unsigned char* out, size_t size, int owner) {
    const size_t acl = 8 + (8 + sizeof SID_SYSTEM) + (8 + sizeof SID_ADMINS);
    const size_t total = 20 + acl + (owner ? sizeof SID_ADMINS : 0);
    if (size < total) return 0;
    Out o{out, 0};
    o.u8(1);  // revision
    o.u8(0);
    o.u16(SE_DACL_PRESENT | SE_DACL_PROTECTED | SE_SELF_RELATIVE);
    // Under the policy "Default owner for objects created by members of the
    // Administrators group: Object creator" the default is the user's account,
    // which the trust check rejects.
    o.u32(owner ? (uint32_t)(20 + acl) : 0);
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
    if (owner) o.bytes(SID_ADMINS, sizeof SID_ADMINS);
    return o.n;
}

principal sid_principal(const unsigned char* sid, size_t size) {
    // A SID's length follows from its count of sub-authorities, so equal
    // prefixes of equal length are equal SIDs.
    if (same_sid(sid, size, SID_SYSTEM, sizeof SID_SYSTEM)) return PRINCIPAL_SYSTEM;
    if (same_sid(sid, size, SID_ADMINS, sizeof SID_ADMINS)) return PRINCIPAL_ADMINS;
    if (same_sid(sid, size, SID_INSTALLER, sizeof SID_INSTALLER)) return PRINCIPAL_INSTALLER;
    if (same_sid(sid, size, SID_CREATOR_OWNER, sizeof SID_CREATOR_OWNER)) return PRINCIPAL_CREATOR_OWNER;
    return PRINCIPAL_OTHER;
}
