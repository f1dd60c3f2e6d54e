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
const principal SY = PRINCIPAL_SYSTEM, BA = PRINCIPAL_ADMINS, TI = PRINCIPAL_INSTALLER, OTHER = PRINCIPAL_OTHER,
                CO = PRINCIPAL_CREATOR_OWNER;

struct Acl {
    principal owner;
    std::vector<sys_ace> aces;
    int safe(trust_role role) const { return trust_safe(owner, aces.data(), (int)aces.size(), role); }
};

// Users, Authenticated Users and app packages are all "other". A folder made
// under C:\Program Files: what it inherits, (OI)(CI)(IO) entries included.
const Acl PROGRAM_FILES_X{BA, {{TI, F, 0, 0}, {TI, GA, 1, 0}, {SY, F, 0, 0}, {SY, GA, 1, 1}, {BA, F, 0, 0},
                               {BA, GA, 1, 1}, {OTHER, RX, 0, 0}, {OTHER, GR_GE, 1, 1}, {CO, GA, 1, 1},
                               {OTHER, RX, 0, 0}, {OTHER, GR_GE, 1, 1}, {OTHER, RX, 0, 0}, {OTHER, GR_GE, 1, 1}}};
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

TEST(TrustRule, WhatFilesCreatedInTheFolderWillInheritCounts) {
    // Users:(OI)(IO)(M) lets them change a quillfen.exe or blacklist.tsv
    // that is copied in later, though it grants nothing on the folder.
    Acl users_files{BA, {{BA, F, 0, 0}, {OTHER, M, 1, 1}}};
    EXPECT_FALSE(users_files.safe(TRUST_OWN_FOLDER));
    EXPECT_TRUE(users_files.safe(TRUST_ABOVE)) << "files are created in the program's folder, not above it";
    Acl users_folders{BA, {{BA, F, 0, 0}, {OTHER, M, 1, 0}}};
    EXPECT_TRUE(users_folders.safe(TRUST_OWN_FOLDER)) << "(CI)(IO) reaches new folders only";
    EXPECT_FALSE((Acl{BA, {{OTHER, WD_AD_WEA_WA, 0, 1}}}.safe(TRUST_OWN_FOLDER))) << "(OI) and effective";
    EXPECT_TRUE((Acl{BA, {{OTHER, GR_GE, 1, 1}}}.safe(TRUST_OWN_FOLDER))) << "reading only";
    // CREATOR OWNER becomes whoever creates the file: here an administrator.
    EXPECT_TRUE((Acl{BA, {{CO, GA, 1, 1}}}.safe(TRUST_OWN_FOLDER)));
    EXPECT_FALSE((Acl{BA, {{CO, GA, 0, 0}}}.safe(TRUST_OWN_FOLDER))) << "only as an inheritable entry";
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

const std::string EXE = "/trust/Program Files/Quillfen/quillfen.exe";

std::string check(const std::string& lines, trust_verdict want, const std::string& exe = EXE) {
    qt::Machine m;
    m.exe = exe;
    m.lines = lines;
    m.load();
    char16_t where[1024];
    EXPECT_EQ(trust_check(where, 1024), want) << lines;
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
    EXPECT_EQ(check("", TRUST_PERCENT, "C:\\pct%OS%x\\quillfen.exe"), "");
}

TEST(TrustCheck, OnlyTheFinalPathOnAFixedDiskOfThisMachine) {
    // Through a link: the walk sees the real folders, which SYSTEM would run from.
    EXPECT_EQ(check("exe-final\t" + EXE + "\nperm\t/link\tother\nperm\t/trust\tadmins\tother:40\n", TRUST_UNSAFE,
                    "/link/quillfen.exe"),
              "/trust");
    EXPECT_EQ(check("exe-final\t\\\\?\\C:\\Q\\quillfen.exe\nperm\tC:\\Q\tadmins\tother:40\n", TRUST_UNSAFE,
                    "D:\\link\\quillfen.exe"),
              "C:\\Q");
    // A share, or no final path at all: the path as loaded is named.
    EXPECT_EQ(check("exe-final\t\\\\?\\UNC\\srv\\share\\Q\\quillfen.exe\n", TRUST_NOT_LOCAL, "Z:\\Q\\quillfen.exe"),
              "Z:\\Q\\quillfen.exe");
    EXPECT_EQ(check("exe-final\tfail\n", TRUST_NOT_LOCAL), EXE);
    // A removable or network volume, also one mounted below a fixed one.
    EXPECT_EQ(check("volume\t/trust/Program Files\tremovable\n", TRUST_NOT_LOCAL), "/trust/Program Files/Quillfen");
    EXPECT_EQ(check("volume\t/trust\tremote\nvolume\t/trust/Program Files/Quillfen\tfixed\n", TRUST_OK), "");
    EXPECT_EQ(check("volume\t/\tunknown\n", TRUST_NOT_LOCAL), "/trust/Program Files/Quillfen");
}

}  // namespace
