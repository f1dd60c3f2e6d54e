// The permission list and owner of the files we create, byte by byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "base/security.h"

namespace {

// A SID in its string form, read from its bytes as Windows lays them out:
// revision, count, a 48-bit big-endian authority, little-endian sub-authorities.
std::string sid_string(const unsigned char* p, size_t room) {
    if (room < 8 || room < 8 + 4u * p[1]) return "<cut>";
    uint64_t authority = 0;
    for (int i = 2; i < 8; i++) authority = authority << 8 | p[i];
    std::string s = "S-" + std::to_string(p[0]) + "-" + std::to_string(authority);
    for (int k = 0; k < p[1]; k++) {
        const unsigned char* a = p + 8 + 4 * k;
        s += "-" + std::to_string((uint32_t)a[0] | a[1] << 8 | a[2] << 16 | (uint32_t)a[3] << 24);
    }
    return s;
}

struct Descriptor {
    unsigned char sd[128];
    size_t n;
    explicit Descriptor(int owner) : n(file_security(sd, sizeof sd, owner)) {}
    int u16(size_t at) const { return sd[at] | sd[at + 1] << 8; }
    uint32_t u32(size_t at) const { return (uint32_t)(u16(at) | u16(at + 2) << 16); }
};

TEST(FileSecurity, SystemAndAdministratorsOnlyNothingInherited) {
    unsigned char small[128];
    ASSERT_EQ(file_security(small, 71, 0), 0u);
    ASSERT_EQ(file_security(small, 87, 1), 0u);
    for (int owner : {0, 1}) {
        Descriptor d(owner);
        ASSERT_EQ(d.n, owner ? 88u : 72u);
        EXPECT_EQ(d.sd[0], 1);                                  // revision
        EXPECT_EQ(d.u16(2), 0x0004 | 0x1000 | 0x8000);          // list present, protected, self-relative
        EXPECT_EQ(d.u32(8) | d.u32(12), 0u);                    // no group or audit list
        EXPECT_EQ(d.u32(16), 20u);                              // the list
        EXPECT_EQ(d.sd[20], 2);                                 // list revision
        EXPECT_EQ(d.u16(22), 52);                               // list size
        EXPECT_EQ(d.u16(24), 2);                                // two entries
        size_t at = 28;
        for (const char* sid : {"S-1-5-18", "S-1-5-32-544"}) {
            EXPECT_EQ(d.sd[at], 0) << "an allow entry";
            EXPECT_EQ(d.sd[at + 1], 0) << "that nothing inherits";
            EXPECT_EQ(d.u32(at + 4), 0x001F01FFu) << "full control";
            EXPECT_EQ(sid_string(d.sd + at + 8, d.u16(at + 2) - 8), sid);
            at += d.u16(at + 2);
        }
        EXPECT_EQ(at, 72u);
    }
}

TEST(FileSecurity, OwnedByTheAdministratorsOrByDefault) {
    // The default owner may be the user's own account, which the trust check
    // would then reject for a file we wrote ourselves.
    Descriptor owned(1);
    uint32_t at = owned.u32(4);
    ASSERT_GE(at, 20u);
    ASSERT_LT(at, owned.n);
    EXPECT_EQ(sid_string(owned.sd + at, owned.n - at), "S-1-5-32-544");
    EXPECT_EQ(sid_principal(owned.sd + at, owned.n - at), PRINCIPAL_ADMINS);
    EXPECT_EQ(Descriptor(0).u32(4), 0u) << "the fallback for a token that may not name them";
}

}  // namespace
