// The trust rule for the scheduled task's location, on the permission lists
// Windows gives typical folders by default, and the walk up the path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.h"
#include "task/trust.h"

namespace {

constexpr uint32_t F = 0x001F01FF, M = 0x001301BF, RX = 0x001200A9, GA = 0x10000000, GR_GE = 0xA0000000;
constexpr uint32_t AD = 0x4, WD_AD_WEA_WA = 0x116;
const principal SY = PRINCIPAL_SYSTEM, BA = PRINCIPAL_ADMINS, TI = PRINCIPAL_INSTALLER, OTHER = PRINCIPAL_OTHER;

struct Acl {
    principal owner;
    std::vector<sys_ace> aces;
    int safe(trust_role role) const { return trust_safe(owner, aces.data(), (int)aces.size(), role); }
};

// Users, Authenticated Users, CREATOR OWNER and app packages are all "other".
const Acl PROGRAM_FILES_X{BA, {{TI, F, 0}, {TI, GA, 1}, {SY, F, 0}, {SY, GA, 1}, {BA, F, 0}, {BA, GA, 1},
                               {OTHER, RX, 0}, {OTHER, GR_GE, 1}, {OTHER, GA, 1}, {OTHER, RX, 0}}};
const Acl DRIVE_ROOT{TI, {{BA, F, 0}, {SY, F, 0}, {OTHER, RX, 0}, {OTHER, M, 1}, {OTHER, AD, 0}, {OTHER, GA, 1}}};
const Acl ROOT_X{BA, {{BA, F, 0}, {SY, F, 0}, {OTHER, RX, 0}, {OTHER, M, 0}, {OTHER, M, 1}}};
const Acl PROFILE{SY, {{SY, F, 0}, {BA, F, 0}, {OTHER, F, 0}}};
const Acl PROGRAMDATA_X{BA, {{SY, F, 0}, {BA, F, 0}, {OTHER, GA, 1}, {OTHER, RX, 0}, {OTHER, WD_AD_WEA_WA, 0}}};

TEST(TrustRule, DefaultFolders) {
    EXPECT_TRUE(PROGRAM_FILES_X.safe(TRUST_OWN_FOLDER));
    EXPECT_FALSE(ROOT_X.safe(TRUST_OWN_FOLDER)) << "Authenticated Users may modify C:\\X";
    EXPECT_FALSE(PROFILE.safe(TRUST_OWN_FOLDER)) << "the user's own account";
    EXPECT_FALSE(PROGRAMDATA_X.safe(TRUST_OWN_FOLDER)) << "Users may create files";
    // Above the executable's folder creating entries is allowed, as in C:\.
    EXPECT_TRUE(DRIVE_ROOT.safe(TRUST_ABOVE));
    EXPECT_FALSE(DRIVE_ROOT.safe(TRUST_OWN_FOLDER));
    EXPECT_FALSE(ROOT_X.safe(TRUST_ABOVE));
}

TEST(TrustRule, EachRightThatChangesAnObject) {
    for (uint32_t right : {0x2u, 0x4u, 0x10000u, 0x40000u, 0x80000u, 0x10000000u, 0x40000000u}) {
        Acl a{BA, {{OTHER, right, 0}}};
        EXPECT_FALSE(a.safe(TRUST_FILE)) << std::hex << right;
        EXPECT_FALSE(a.safe(TRUST_OWN_FOLDER)) << std::hex << right;
        EXPECT_EQ(a.safe(TRUST_ABOVE), right == 0x2 || right == 0x4) << std::hex << right;
    }
    Acl delete_child{BA, {{OTHER, 0x40, 0}}};
    EXPECT_FALSE(delete_child.safe(TRUST_OWN_FOLDER));
    EXPECT_FALSE(delete_child.safe(TRUST_ABOVE));
    Acl read_only{BA, {{OTHER, RX | GR_GE, 0}}};
    EXPECT_TRUE(read_only.safe(TRUST_FILE));
    // Whoever an inherit-only entry names, it grants nothing here; an owner
    // other than the three trusted ones can always change the permissions.
    EXPECT_TRUE((Acl{SY, {{OTHER, F, 1}}}.safe(TRUST_FILE)));
    EXPECT_FALSE((Acl{OTHER, {{BA, F, 0}}}.safe(TRUST_FILE)));
    EXPECT_TRUE((Acl{TI, {{TI, F, 0}}}.safe(TRUST_FILE)));
}

std::string check(const std::string& perms, trust_verdict want,
                  const std::string& exe = "/trust/Program Files/Quillfen/quillfen.exe") {
    qt::Machine m;
    m.exe = exe;
    m.lines = perms;
    m.load();
    char16_t where[1024];
    EXPECT_EQ(trust_check(where, 1024), want) << perms;
    std::string s;
    for (const char16_t* p = where; *p; p++) s += (char)*p;
    return s;
}

TEST(TrustCheck, TheFirstUnsafeObjectOnTheWayUpIsNamed) {
    EXPECT_EQ(check("", TRUST_OK), "");
    EXPECT_EQ(check("perm\t/trust\tadmins\tother:1301bf\n", TRUST_UNSAFE), "/trust");
    EXPECT_EQ(check("perm\t/\tadmins\tother:10000000\nperm\t/trust/Program Files\tother\n", TRUST_UNSAFE),
              "/trust/Program Files");
    EXPECT_EQ(check("perm\t/\tadmins\tother:40\n", TRUST_UNSAFE), "/");
    EXPECT_EQ(check("perm\t/trust/Program Files/Quillfen/quillfen.exe\tunreadable\n", TRUST_UNSAFE),
              "/trust/Program Files/Quillfen/quillfen.exe");
    EXPECT_EQ(check("perm\t/trust\tadmins\tother:4\tother:1f01ff:io\n", TRUST_OK), "");
    // Windows roots keep their separator; a share's root is the share.
    EXPECT_EQ(check("perm\tC:\\\tadmins\tother:40\n", TRUST_UNSAFE, "C:\\Q\\quillfen.exe"), "C:\\");
    EXPECT_EQ(check("perm\tC:\\Q\tadmins\tother:40\n", TRUST_UNSAFE, "C:\\Q\\quillfen.exe"), "C:\\Q");
    EXPECT_EQ(check("perm\t\\\\srv\\share\\\tadmins\tother:40\n", TRUST_UNSAFE, "\\\\srv\\share\\q.exe"),
              "\\\\srv\\share\\");
    EXPECT_EQ(check("", TRUST_PERCENT, "C:\\pct%OS%x\\quillfen.exe"), "");
}

}  // namespace
