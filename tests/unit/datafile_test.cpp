// Where the data files go: beside the program's own path, or nowhere.
#include <gtest/gtest.h>

#include <string>

#include "files/datafile.h"
#include "support.h"

namespace {

std::u16string path_of(data_file file) {
    char16_t out[PATH_UNITS];
    if (!data_path(out, PATH_UNITS, file)) return u"<none>";
    return out;
}

TEST(DataPath, BesideTheExecutableOrNowhere) {
    qt::Machine m;
    m.exe = "C:\\Program Files\\Q/quillfen.exe";  // either separator ends the folder
    m.load();
    EXPECT_EQ(path_of(DATA_BLACKLIST), u"C:\\Program Files\\Q/blacklist.tsv");
    qt::Machine bare;
    bare.exe = "quillfen.exe";
    bare.load();
    EXPECT_EQ(path_of(DATA_LOG), u"device_cleanup_log.txt");
    qt::Machine deep;  // a path that does not fit is an error, never a cut
    deep.exe = "/" + std::string(PATH_UNITS - 12, 'd') + "/quillfen.exe";
    deep.load();
    EXPECT_EQ(path_of(DATA_BLACKLIST), u"<none>");
}

TEST(DataPath, BesideTheFinalPathOrTheLoadedOne) {
    qt::Machine link;
    link.exe = "/link/quillfen.exe";
    link.lines = "exe-final\t\\\\?\\C:\\Q\\quillfen.exe\n";
    link.load();
    EXPECT_EQ(path_of(DATA_BLACKLIST), u"C:\\Q\\blacklist.tsv");
    qt::Machine share;
    share.exe = "Z:\\Q\\quillfen.exe";
    share.lines = "exe-final\t\\\\?\\UNC\\srv\\share\\Q\\quillfen.exe\n";
    share.load();
    EXPECT_EQ(path_of(DATA_BLACKLIST), u"Z:\\Q\\blacklist.tsv");
}

}  // namespace
