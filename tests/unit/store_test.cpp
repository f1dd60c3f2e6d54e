// The blacklist store: the reader's tolerance of odd files, exact file bytes
// on save, safe replacement of the old file, pruning, and files it must
// never write over.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "local/tsv.h"
#include "rules/wanted.h"
#include "store/step.h"
#include "store/store.h"
#include "support.h"
#include "sys/sys.h"

namespace {

using qt::HEADER;

// The table the reader's tests read into.
BlacklistEntry g_t[BL_MAX];
int g_nt;

// ---- reading -----------------------------------------------------------------------

void read_bytes(const std::string& bytes) { g_nt = bl_parse(bytes.data(), bytes.size(), g_t); }

std::string row_text(int i) { return std::to_string(1800000000 + i) + "\t1\tdev" + std::to_string(i) + "\ti\tc\r\n"; }

using qt::rep;

// The reader's verdict on a file: its entries in g_t, and its bad lines.
struct Verdict {
    int bad;
    int first_bad;
};

Verdict read_lines(const std::string& bytes) {
    static bl_reader r;
    bl_read_start(&r, g_t);
    bl_read_bytes(&r, bytes.data(), bytes.size());
    bl_read_end(&r);
    g_nt = r.n;
    return {r.bad, r.first_bad};
}

// A hand-written line that is no entry must never vanish in silence, nor
// load as something else: only five fields with numbers make an entry.
TEST(BlParse, ALineIsAnEntryOnlyWithFiveFieldsAndNumbers) {
    g_nt = 7;  // whatever was there goes
    Verdict v = read_lines(HEADER + "\r\n \t \r\n# 1\t1\ta\tb\tc\n1\t1\tthree\ttabs\n" +
                           "1800000000\t1\tName\tInst\tcls\n1800000000\t1\tsix\tfields\tcls\tmore\r\n");
    ASSERT_EQ(g_nt, 1);
    EXPECT_EQ(g_t[0].until, 1800000000);
    EXPECT_STREQ(g_t[0].name, "name");
    EXPECT_STREQ(g_t[0].cls, "cls");
    EXPECT_EQ(v.bad, 2);
    EXPECT_EQ(v.first_bad, 5);  // CR LF is one line end; the header is line 1
    v = read_lines("");
    EXPECT_EQ(g_nt, 0);
    EXPECT_EQ(v.bad, 0);
}

TEST(BlParse, NumbersAreDigitsAsASaveWritesThem) {
    // What a save can write reads back: digits, a minus sign for a negative
    // number; beyond the range it holds at the ends.
    Verdict v = read_lines("-5\t-1\tb\tc\td\n99999999999999999999999\t99999999999\tb\tc\td\n");
    ASSERT_EQ(g_nt, 2);
    EXPECT_EQ(v.bad, 0);
    EXPECT_EQ(g_t[0].until, -5);
    EXPECT_EQ(g_t[0].byname, -1);
    EXPECT_EQ(g_t[1].until, INT64_MAX);
    EXPECT_EQ(g_t[1].byname, INT32_MAX);  // beyond 32 bits: must stay "matches by name"
    // A date, an exponent, blanks, a sign a save never writes, trailing
    // letters or nothing at all: none of them is read as a number.
    for (const char* line : {"2026-12-31\t1\ta\tb\tc", "1e10\t1\ta\tb\tc", "  42\t1\ta\tb\tc", "+42\t1\ta\tb\tc",
                             "12abc\t1\ta\tb\tc", "42\t1x\ta\tb\tc", "\t1\ta\tb\tc", "42\t\ta\tb\tc", "-\t1\ta\tb\tc"}) {
        v = read_lines(std::string(line) + "\n");
        EXPECT_EQ(g_nt, 0) << line;
        EXPECT_EQ(v.bad, 1) << line;
    }
    // A NUL hides nothing: the line is no entry, and said so.
    v = read_lines(std::string("\0\t1\tp\tq\tr\n", 10));
    EXPECT_EQ(v.bad, 1);
}

// Windows PowerShell 5.1 writes one before the first line.
TEST(BlParse, AByteOrderMarkIsSkipped) {
    const std::string bom = "\xEF\xBB\xBF";
    Verdict v = read_lines(bom + "1800000000\t1\tcam\tUSB\\1\tImage\n");
    ASSERT_EQ(g_nt, 1);
    EXPECT_EQ(g_t[0].until, 1800000000);
    EXPECT_EQ(v.bad, 0);
    // Only at the start, and only whole.
    v = read_lines("5\t1\ta\tb\tc\n" + bom + "6\t1\ta\tb\tc\n\xEF\xBB");
    EXPECT_EQ(g_nt, 1);
    EXPECT_EQ(v.bad, 2);
}

TEST(BlParse, LineEndsAndTheLastLine) {
    read_bytes("5\t1\ta\tb\tCamera\r\n6\t0\tc\td\tCamera\n7\t1\te\tf\tCamera");
    ASSERT_EQ(g_nt, 3);
    for (int i = 0; i < 3; i++) {
        EXPECT_STREQ(g_t[i].cls, "Camera") << i;
        EXPECT_EQ(g_t[i].until, 5 + i);
    }
    // A lone CR ends a line too: a file written with CR alone keeps every entry.
    read_bytes("1\t1\tn\ti\tab\r3\t1\tm\tj\tk\r\r2\t0\to\tp\tq");
    ASSERT_EQ(g_nt, 3);
    EXPECT_STREQ(g_t[0].cls, "ab");
    EXPECT_STREQ(g_t[1].cls, "k");
    EXPECT_STREQ(g_t[2].cls, "q");
    read_bytes("1\t1\tn\ti\t");  // four tabs and nothing after
    ASSERT_EQ(g_nt, 1);
    EXPECT_STREQ(g_t[0].cls, "");
}

TEST(BlParse, NameIsAsciiLowerCasedOthersKeepTheirCase) {
    read_bytes("1\t1\tHD Cam 智能ÄB\tUSB\\VID_ABCD\tCamera\n");
    ASSERT_EQ(g_nt, 1);
    EXPECT_STREQ(g_t[0].name, "hd cam 智能Äb");
    EXPECT_STREQ(g_t[0].inst, "USB\\VID_ABCD");
    EXPECT_STREQ(g_t[0].cls, "Camera");
}

// A field longer than a save writes makes the line no entry: cut to fit, a
// name matching by name would reach more devices than it was written for.
TEST(BlParse, AFieldLongerThanASaveWritesMakesNoEntry) {
    const std::string name(599, 'N'), inst(1199, 'I'), cls(127, 'C');
    read_bytes("1\t1\t" + name + "\t" + inst + "\t" + cls + "\r\n");
    ASSERT_EQ(g_nt, 1);
    EXPECT_EQ(std::string(g_t[0].name), std::string(599, 'n'));
    EXPECT_EQ(std::string(g_t[0].inst), inst);
    EXPECT_EQ(std::string(g_t[0].cls), cls);
    for (const std::string& line : {"1\t1\t" + name + "N\t" + inst + "\t" + cls, "1\t1\t" + name + "\t" + inst + "I\tc",
                                    "1\t1\tn\ti\t" + cls + "C"}) {
        read_bytes(line + "\r\n5\t0\tnext\tX\tc\r\n");
        ASSERT_EQ(g_nt, 1);
        EXPECT_STREQ(g_t[0].name, "next");
    }
}

// A line longer than any a save writes was not written by us: its tail must
// not become an entry of its own, here one in force that matches by name.
TEST(BlParse, ALineLongerThanASaveWritesIsNoEntryAtAll) {
    std::string crafted = "5\t1\tx\ty\t" + std::string(2991, 'c') + "9999999999\t1\tcam\tUSB\\1\tCamera";
    read_bytes(crafted + "\n7\t0\tn\ti\tk\n");
    ASSERT_EQ(g_nt, 1);
    EXPECT_EQ(g_t[0].until, 7);
    // The longest line a save can write still reads.
    std::string longest = std::to_string(INT64_MIN) + "\t" + std::to_string(INT32_MIN) + "\t" + std::string(599, 'n') +
                          "\t" + std::string(1199, 'i') + "\t" + std::string(127, 'c');
    ASSERT_LE(longest.size(), BL_LINE_MAX);
    read_bytes(longest + "\r\n");
    EXPECT_EQ(g_nt, 1);
}

TEST(BlParse, StopsAt64Entries) {
    std::string file = HEADER;
    for (int i = 0; i < 70; i++) file += std::to_string(1800000000 + i) + "\t1\tdev" + std::to_string(i) + "\ti\tc\n";
    read_bytes(file);
    ASSERT_EQ(g_nt, BL_MAX);
    EXPECT_STREQ(g_t[63].name, "dev63");
    EXPECT_EQ(g_t[63].until, 1800000063);
}

// ---- changes through the data directory -----------------------------------------------------

using qt::entry;

// The book's entries as this process shows them, to change as a stale
// window would: a count it still believes, an entry it would name.
void forget_entries(int n = 0) {
    int* count;
    (void)book_entries(&count);
    *count = n;
}

BlacklistEntry* shown_entries(void) {
    int* count;
    return book_entries(&count);
}

// The model the book keeps for its entry i, or null.
const char* model_id_of(int i) {
    const BlacklistModel* m = book_model_of(bl_book(), bl_book().entries[i]);
    return m ? m->model : nullptr;
}

std::string row(int64_t until, int byname, const std::string& name, const std::string& inst, const std::string& cls) {
    return std::to_string(until) + "\t" + std::to_string(byname) + "\t" + name + "\t" + inst + "\t" + cls + "\r\n";
}

class Store : public ::testing::Test {
protected:
    qt::Machine m;
    std::string file;
    void SetUp() override {
        m.load();
        file = m.path("blacklist.tsv");
    }
    std::vector<std::string> others() const {
        std::vector<std::string> names;
        for (const auto& n : qt::list_dir(m.dir))
            if (n != "blacklist.tsv" && n != "blacklist.tsv.lock") names.push_back(n);
        return names;
    }
};

TEST_F(Store, AddsWriteExactBytesAndLeaveNoTemporary) {
    EXPECT_EQ(bl_add(entry(1800000000, 1, "usb camera", "USB\\VID_0000&PID_0000\\1", "Camera")), BL_OK);
    EXPECT_EQ(bl_add(entry(-42, 7, "", "ROOT\\X", "")), BL_OK);
    EXPECT_EQ(bl_add(entry(INT64_MIN, INT32_MIN, "智能摄像头", "usb\\vid_1", "Image")), BL_OK);
    EXPECT_EQ(qt::slurp(file), HEADER + "1800000000\t1\tusb camera\tUSB\\VID_0000&PID_0000\\1\tCamera\r\n" +
                                   "-42\t7\t\tROOT\\X\t\r\n" +
                                   "-9223372036854775808\t-2147483648\t智能摄像头\tusb\\vid_1\tImage\r\n");
    EXPECT_EQ(bl_book().nentries, 3);
    EXPECT_TRUE(others().empty()) << "no temporary may be left";
}

TEST_F(Store, EachChangeAppliesToTheFileAsItIsNow) {
    // Another process wrote the file after ours read it: nothing of either is lost.
    EXPECT_EQ(bl_add(entry(qt::T0 + 60, 1, "mine", "M\\1", "c")), BL_OK);
    qt::spit(file, HEADER + row(qt::T0 + 60, 1, "mine", "M\\1", "c") + row(qt::T0 + 90, 0, "theirs", "T\\1", "c"));
    EXPECT_EQ(bl_add(entry(qt::T0 + 120, 1, "second", "M\\2", "c")), BL_OK);
    ASSERT_EQ(bl_book().nentries, 3);
    EXPECT_STREQ(bl_book().entries[1].name, "theirs");
    // A removal finds its entry by its fields wherever it now stands...
    qt::spit(file, HEADER + row(qt::T0 + 90, 0, "theirs", "T\\1", "c") + row(qt::T0 + 120, 1, "second", "M\\2", "c") +
                       row(qt::T0 + 60, 1, "mine", "M\\1", "c"));
    EXPECT_EQ(bl_remove(entry(qt::T0 + 60, 1, "mine", "M\\1", "c")), BL_OK);
    EXPECT_EQ(qt::slurp(file), HEADER + row(qt::T0 + 90, 0, "theirs", "T\\1", "c") + row(qt::T0 + 120, 1, "second", "M\\2", "c"));
    // ...and one that is gone changes nothing.
    EXPECT_EQ(bl_remove(entry(qt::T0 + 60, 1, "mine", "M\\1", "c")), BL_GONE);
    EXPECT_EQ(bl_book().nentries, 2);
    EXPECT_EQ(bl_remove_each(bl_book().entries, bl_book().nentries), BL_OK);
    EXPECT_EQ(qt::slurp(file), HEADER);
    EXPECT_EQ(bl_book().nentries, 0);
}

TEST_F(Store, AnAddFindingAFullFileAddsNothing) {
    std::string full = HEADER;
    for (int i = 0; i < BL_MAX; i++) full += row(qt::T0 + 60, 1, "d" + std::to_string(i), "I\\" + std::to_string(i), "c");
    qt::spit(file, full);
    forget_entries();  // this process still thinks the list is empty
    EXPECT_EQ(bl_add(entry(qt::T0 + 60, 1, "one more", "X", "c")), BL_FULL);
    EXPECT_EQ(qt::slurp(file), full);
    EXPECT_EQ(bl_book().nentries, BL_MAX);
}

TEST_F(Store, FieldSeparatorsInsideFieldsAreWrittenAsBlanks) {
    ASSERT_EQ(bl_add(entry(1800000000, 1, "a\tb\rc\nd", "i\td", "c\r\nx")), BL_OK);
    EXPECT_EQ(qt::slurp(file), HEADER + "1800000000\t1\ta b c d\ti d\tc  x\r\n");
}

TEST(BlFormat, RoundTripOfFullSizedEntries) {
    static BlacklistEntry t[BL_MAX], back[BL_MAX];
    for (int i = 0; i < BL_MAX; i++) {
        std::string name = rep("摄", 199) + "ab";  // 599 bytes
        std::string inst = "USB\\" + std::string(1195 - std::to_string(i).size(), 'Q') + std::to_string(i);
        t[i] = entry(qt::T0 + i, i % 3, name.c_str(), inst.c_str(), std::string(127, 'K').c_str());
        ASSERT_EQ(strlen(t[i].inst), 1199u);
    }
    static char bytes[BL_MAX * 2100];
    size_t n = bl_format(t, BL_MAX, bytes, sizeof bytes);
    ASSERT_GT(n, 0u);
    ASSERT_EQ(bl_parse(bytes, n, back), BL_MAX);
    for (int i = 0; i < BL_MAX; i++) {
        EXPECT_EQ(back[i].until, t[i].until);
        EXPECT_EQ(back[i].byname, t[i].byname);
        EXPECT_STREQ(back[i].name, t[i].name);
        EXPECT_STREQ(back[i].inst, t[i].inst);
        EXPECT_STREQ(back[i].cls, t[i].cls);
    }
}

TEST_F(Store, AMissingFileReadsEmptyAndIsNotCreated) {
    forget_entries(5);
    int dropped = -1;
    EXPECT_EQ(bl_prune(&dropped), BL_OK);
    EXPECT_EQ(dropped, 0);
    EXPECT_EQ(bl_book().nentries, 0);
    EXPECT_FALSE(qt::exists(file));
}

TEST_F(Store, AFailedSaveChangesNeitherTheFileNorTheTable) {
    const std::string old = HEADER + row(1800000000, 1, "old", "OLD\\1", "X");
    qt::spit(file, old);
    int dropped;
    ASSERT_EQ(bl_prune(&dropped), BL_OK);
    m.lines += "fail\tsys_file_create\t1+\n";  // no temporary can be made
    m.load();
    EXPECT_EQ(bl_add(entry(1900000000, 1, "new", "NEW\\1", "Y")), BL_FAILED);
    EXPECT_EQ(bl_remove_each(bl_book().entries, bl_book().nentries), BL_FAILED);
    EXPECT_EQ(qt::slurp(file), old);
    ASSERT_EQ(bl_book().nentries, 1);
    EXPECT_STREQ(bl_book().entries[0].name, "old");
}

TEST_F(Store, AFileThatCannotBeReadIsNeverOverwritten) {
    const std::string old = HEADER + row(1800000000, 1, "old", "OLD\\1", "X");
    qt::spit(file, old);
    m.lines += "fail\tsys_file_open\t1+\n";
    m.load();
    int dropped = -1;
    EXPECT_EQ(bl_prune(&dropped), BL_UNREADABLE);
    EXPECT_EQ(bl_read_status(bl_book()), BL_UNREADABLE);
    EXPECT_EQ(bl_book().nentries, 0);
    EXPECT_EQ(bl_add(entry(1900000000, 1, "new", "NEW\\1", "Y")), BL_UNREADABLE);
    EXPECT_EQ(bl_remove(entry(1900000000, 1, "new", "NEW\\1", "Y")), BL_UNREADABLE);
    EXPECT_EQ(bl_remove_each(bl_book().entries, bl_book().nentries), BL_UNREADABLE);
    EXPECT_EQ(qt::slurp(file), old);
    EXPECT_TRUE(others().empty());
}

// Padding past any fixed read buffer used to cut the file, and the next save
// kept only the new entry.
TEST_F(Store, APaddedFileKeepsEveryEntryThroughAnAdd) {
    std::string pad;
    for (int i = 0; i < 150000; i++) pad += "\r\n";
    qt::spit(file, HEADER + pad + row(qt::T0 + 60, 1, "a", "A", "c") + row(qt::T0 + 60, 1, "b", "B", "c") +
                       row(qt::T0 + 60, 0, "c", "C", "c"));
    ASSERT_GT(qt::slurp(file).size(), 300000u);
    int dropped;
    ASSERT_EQ(bl_prune(&dropped), BL_OK);
    EXPECT_EQ(bl_book().nentries, 3);
    ASSERT_EQ(bl_add(entry(qt::T0 + 60, 1, "d", "D", "c")), BL_OK);
    EXPECT_EQ(qt::slurp(file), HEADER + row(qt::T0 + 60, 1, "a", "A", "c") + row(qt::T0 + 60, 1, "b", "B", "c") +
                                   row(qt::T0 + 60, 0, "c", "C", "c") + row(qt::T0 + 60, 1, "d", "D", "c"));
}

TEST_F(Store, AnOverfullFileIsReadButNeverWrittenOver) {
    std::string old = HEADER + row(qt::T0 - 1, 1, "expired", "E", "c");
    for (int i = 0; i < 69; i++) old += row_text(i);
    qt::spit(file, old);
    int dropped = -1;
    EXPECT_EQ(bl_prune(&dropped), BL_OVERFULL);  // not even the expired entry is dropped
    EXPECT_EQ(dropped, 0);
    EXPECT_EQ(bl_book().nentries, BL_MAX);
    EXPECT_EQ(book_entries_in_force(bl_book(), qt::T0), BL_MAX - 1);
    shown_entries()[5] = entry(1, 1, "x", "y", "z");  // what a d<n> would name
    EXPECT_EQ(bl_add(entry(qt::T0 + 60, 1, "new", "N", "c")), BL_OVERFULL);
    EXPECT_EQ(bl_remove(bl_book().entries[1]), BL_OVERFULL);
    EXPECT_EQ(bl_remove_each(bl_book().entries, bl_book().nentries), BL_OVERFULL);
    EXPECT_EQ(qt::slurp(file), old);
    EXPECT_STREQ(bl_book().entries[5].name, "dev4");  // the table shows the file's first 64
}

TEST_F(Store, ASaveThatFailsAfterItsTemporaryLeavesTheOldFileByteForByte) {
    std::string old = HEADER;
    for (int i = 0; i < 5; i++) old += row(1800000000, 1, "old" + std::to_string(i), "OLD\\" + std::to_string(i), "X");
    qt::spit(file, old);
    BlacklistEntry big = entry(1900000000, 1, std::string(500, 'n').c_str(), std::string(1000, 'I').c_str(), "C");
    for (int i = 0; i < 3; i++) ASSERT_EQ(bl_add(big), BL_OK);
    old = qt::slurp(file);
    m.lines += "fail\tsys_file_replace\t1\n";  // the temporary is written whole, then cannot replace the file
    m.load();
    EXPECT_EQ(bl_add(big), BL_FAILED);
    EXPECT_EQ(qt::slurp(file), old);
    EXPECT_TRUE(others().empty()) << "the torn temporary must go";
}

// A temporary name planted as a link to another file: that file must stay
// as it is, and the save fails rather than write through the link.
TEST_F(Store, AStaleTemporaryThatIsALinkIsNeverFollowed) {
    std::string target = m.dir + "elsewhere";
    qt::spit(target, "precious");
    ASSERT_EQ(symlink(target.c_str(), m.path("blacklist.tsv.tmp").c_str()), 0);
    EXPECT_EQ(bl_add(entry(qt::T0 + 60, 1, "a", "b", "c")), BL_FAILED);
    EXPECT_EQ(qt::slurp(target), "precious");
    EXPECT_FALSE(qt::exists(file));
}

TEST_F(Store, StaleTemporariesAreDeletedBeforeASave) {
    for (const char* n : {"blacklist.tsv.tmp", "blacklist.tsv.4242.tmp", "blacklist.tsv.7.TMP"}) qt::spit(m.path(n), "x");
    qt::spit(m.path("blacklist.tsv.12a.tmp"), "not ours");
    ASSERT_EQ(bl_add(entry(qt::T0 + 1, 1, "a", "b", "c")), BL_OK);
    EXPECT_EQ(others(), std::vector<std::string>{"blacklist.tsv.12a.tmp"});
}

// ---- pruning -------------------------------------------------------------------------------

TEST_F(Store, PruneDropsExpiredKeepsOrderAndSaves) {
    const int64_t now = qt::T0;
    qt::spit(file, HEADER + row(now + 1, 1, "one", "1", "c") + row(now, 1, "two", "2", "c") +  // expired at `until`
                       row(now + 3600, 1, "three", "3", "c") + row(INT64_MIN, 1, "four", "4", "c") +
                       row(INT64_MAX, 0, "five", "5", "c"));
    int dropped = 0;
    EXPECT_EQ(bl_prune(&dropped), BL_OK);
    EXPECT_EQ(dropped, 2);
    ASSERT_EQ(bl_book().nentries, 3);
    EXPECT_STREQ(bl_book().entries[1].name, "three");
    EXPECT_EQ(qt::slurp(file), HEADER + row(now + 1, 1, "one", "1", "c") + row(now + 3600, 1, "three", "3", "c") +
                                   row(INT64_MAX, 0, "five", "5", "c"));
}

TEST_F(Store, PruneWithNothingToDropLeavesTheFileAlone) {
    const std::string keep = "# mine\n" + std::to_string(qt::T0 + 1) + "\t1\ta\tb\tc\n";
    qt::spit(file, keep);
    int dropped = -1;
    EXPECT_EQ(bl_prune(&dropped), BL_OK);
    EXPECT_EQ(dropped, 0);
    EXPECT_EQ(bl_book().nentries, 1);
    EXPECT_EQ(qt::slurp(file), keep);
}

// A rewrite would lose what the administrator wrote on a line nobody can
// read: the file is never written over while it holds one.
TEST_F(Store, AFileWithALineNobodyCanReadIsNeverWrittenOver) {
    const std::string old = HEADER + "junk\t1\ta\tb\tc\r\n" + row(qt::T0 - 60, 1, "expired", "E", "c") +
                            row(qt::T0 + 60, 1, "HD Cam", "USB\\1", "Camera");
    qt::spit(file, old);
    int dropped = 0;
    EXPECT_EQ(bl_prune(&dropped), BL_BAD_LINES);
    EXPECT_EQ(dropped, 0);
    EXPECT_EQ(bl_book().nentries, 2);  // the entries count, the expired one too until it can go
    EXPECT_EQ(bl_add(entry(qt::T0 + 60, 1, "new", "N", "c")), BL_BAD_LINES);
    EXPECT_EQ(qt::slurp(file), old);
}

TEST_F(Store, APruneThatCannotSaveShowsTheFileAsItIs) {
    const std::string old = HEADER + row(qt::T0 - 1, 1, "gone", "G", "c") + row(qt::T0 + 60, 1, "kept", "K", "c");
    qt::spit(file, old);
    m.lines += "fail\tsys_file_create\t1+\n";
    m.load();
    int dropped = -1;
    EXPECT_EQ(bl_prune(&dropped), BL_FAILED);
    EXPECT_EQ(dropped, 0);
    EXPECT_EQ(bl_book().nentries, 2);
    EXPECT_EQ(qt::slurp(file), old);
}

}  // namespace

// A by-name entry's model is kept beside the blacklist for its instance id,
// and lasts while any entry of that id stands, whichever of them brought it.
TEST_F(Store, AModelLastsWhileAnEntryOfItsInstanceIdStands) {
    const std::string models = m.path("blacklist-models.tsv");
    const std::string head = "# Quillfen 型号  (inst\\tmodel\\tok|shared|builtin|unknown)\r\n";
    BlacklistModel model{};
    strcpy(model.inst, "USB\\VID_1&PID_2\\1");
    strcpy(model.model, "USB\\VID_1&PID_2");
    model.verdict = MODEL_OK;
    BlacklistEntry first = qt::entry(qt::T0 + 60, 1, "cam", "USB\\VID_1&PID_2\\1", "c");
    BlacklistEntry again = qt::entry(qt::T0 + 120, 1, "cam", "usb\\vid_1&pid_2\\1", "c");
    ASSERT_EQ(bl_add(first, &model), BL_OK);
    ASSERT_EQ(bl_add(again), BL_OK);  // the dialogue's duplicate, which brings none
    EXPECT_STREQ(model_id_of(1), "USB\\VID_1&PID_2");
    ASSERT_EQ(bl_remove(first), BL_OK);
    EXPECT_EQ(qt::slurp(models), head + "USB\\VID_1&PID_2\\1\tUSB\\VID_1&PID_2\tok\r\n");
    ASSERT_EQ(bl_remove(again), BL_OK);
    EXPECT_EQ(qt::slurp(models), head);
    // An entry by id alone has no model, even for the same instance id.
    BlacklistEntry by_id = qt::entry(qt::T0 + 60, 0, "cam", "USB\\VID_1&PID_2\\1", "c");
    ASSERT_EQ(bl_add(by_id, &model), BL_OK);
    EXPECT_EQ(model_id_of(0), nullptr);
}

// Padding past the read buffer once cut the models file, and the model after
// it was lost in silence; a file nobody can read whole changes nothing.
TEST_F(Store, AModelsFileThatCannotBeReadWholeIsNeverCutNorWrittenOver) {
    const std::string models = m.path("blacklist-models.tsv");
    const std::string text = "# pad\r\n" + qt::rep("#" + qt::rep("x", 1000) + "\r\n", 300) +
                             "USB\\VID_1&PID_2\\1\tUSB\\VID_1&PID_2\tok\r\n";
    qt::spit(models, text);
    qt::spit(file, HEADER + row(qt::T0 + 60, 1, "cam", "USB\\VID_1&PID_2\\1", "c"));
    ASSERT_EQ(bl_read(), BL_OK);
    EXPECT_EQ(bl_book().models_file.state, SOURCE_UNREADABLE);
    EXPECT_EQ(model_id_of(0), nullptr);
    ASSERT_EQ(bl_remove(bl_book().entries[0]), BL_OK);
    EXPECT_EQ(qt::slurp(models), text);
}

// A hand-edited rules file may name a model twice, letter case aside: one
// rule, counted once, as long as the longer; a name given again renames it.
TEST_F(Store, AModelNamedTwiceIsOneRuleAndTakesANewName) {
    const std::string rules = m.path("blacklist-rules.tsv"), head = "# Quillfen 规则  (until\\tkind\\tid\\tblock\\tname)\r\n";
    qt::spit(rules, head + "1800000000\tmodel\tUSB\\VID_1&PID_2\tok\t\r\n1900000000\tmodel\tusb\\vid_1&pid_2\tok\tlab\r\n");
    Rule r{RULE_MODEL, "USB\\Vid_1&Pid_2", "desk cam", 1700000000, MODEL_OK};
    int what;
    Rule after;
    BlockResult block;
    ASSERT_EQ(bl_rule_put(r, &what, &after, &block), BL_OK);
    EXPECT_EQ(what, 0) << "neither extended nor added";
    EXPECT_EQ(qt::slurp(rules), head + "1900000000\tmodel\tUSB\\VID_1&PID_2\tok\tdesk cam\r\n");
}

// A model rule of the rules file, as rule_format writes it.
static std::string rule_line(const std::string& id, int64_t until) {
    return std::to_string(until) + "\tmodel\t" + id + "\tok\tcam\r\n";
}

// Puts a model rule, as --blacklist --model does; *what as bl_rule_put says.
static bl_status put_model_rule(const char* id, int64_t until, int* what) {
    Rule r{RULE_MODEL, {}, "cam", until, MODEL_OK}, after;
    strcpy(r.id, id);
    BlockResult block;
    return bl_rule_put(r, what, &after, &block);
}

// A file of RULES_MAX rules is full, not over-full: one of its rules may
// still be extended, and only a new one is refused.
TEST_F(Store, ARulesFileOf64RulesIsFullNotOverfull) {
    std::string rules;
    for (int i = 1000; i < 1000 + RULES_MAX; i++) rules += rule_line("USB\\VID_2B7E&PID_" + std::to_string(i), qt::T0 + 60);
    qt::spit(m.path("blacklist-rules.tsv"), rules);
    int what = -1;
    EXPECT_EQ(put_model_rule("USB\\VID_2B7E&PID_1000", qt::T0 + 120, &what), BL_OK);
    EXPECT_EQ(what, 1);
    EXPECT_EQ(put_model_rule("USB\\VID_2B7E&PID_2000", qt::T0 + 120, &what), BL_FULL);
}

// A rules file that cannot be read may hold any rule: it is no empty file,
// so --check cannot tell and nothing writes over it.
TEST_F(Store, ARulesFileThatCannotBeReadIsNeverTakenForAnEmptyOne) {
    const std::string rules = m.path("blacklist-rules.tsv"), old = rule_line("USB\\VID_2B7E&PID_0136", qt::T0 + 60);
    qt::spit(rules, old);
    m.lines += "fail\tsys_file_open\t2\nfail\tsys_file_open\t4\n";  // the rules file's, in each step
    m.load();
    ASSERT_EQ(bl_read(), BL_OK);
    EXPECT_EQ(bl_book().rules_file.state, SOURCE_UNREADABLE);
    int what;
    EXPECT_EQ(put_model_rule("USB\\VID_2B7E&PID_0137", qt::T0 + 60, &what), BL_RULES_REFUSED);
    EXPECT_EQ(qt::slurp(rules), old);
}

// A models file with a line that is no model may mean anything: it is never
// written over, and a by-name blacklisting says its model was not kept.
TEST_F(Store, AModelsFileWithABadLineIsNeverWrittenOverAndTheModelNotKept) {
    const std::string models = m.path("blacklist-models.tsv"), old = "I\\1\tUSB\\Class_0E\tok\r\n";
    qt::spit(models, old);
    BlacklistModel model{"USB\\VID_1&PID_2\\1", "USB\\VID_1&PID_2", MODEL_OK};
    BlockResult block{};
    ASSERT_EQ(bl_add(qt::entry(qt::T0 + 60, 1, "cam", model.inst, "c"), &model, &block), BL_OK);
    EXPECT_TRUE(block.model_lost);
    EXPECT_EQ(qt::slurp(models), old);
}
