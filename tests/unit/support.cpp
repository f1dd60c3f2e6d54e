#include "support.h"

#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

#include "sys/sim_machine.h"

namespace qt {

const std::string HEADER = "# Quillfen 拉黑名单  (until\\tbyname\\tname\\tinst\\tcls)\r\n";

std::string rep(const std::string& s, size_t n) {
    std::string r;
    for (size_t i = 0; i < n; i++) r += s;
    return r;
}

Argv::Argv(std::initializer_list<const char*> args) : store{"quillfen.exe"} {
    for (const char* s : args) store.push_back(s);
    for (auto& s : store) ptrs.push_back(s.data());
    ptrs.push_back(nullptr);
}

std::string fresh_dir() {
    std::string base = ::testing::TempDir();
    if (base.empty() || base.back() != '/') base += '/';
    std::string tmpl = base + "qfu.XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    if (!mkdtemp(buf.data())) {
        ADD_FAILURE() << "mkdtemp failed under " << base;
        return base;
    }
    return std::string(buf.data()) + "/";
}

void Machine::dev(int present, const std::string& friendly, const std::string& desc, const std::string& cls,
                  const std::string& inst) {
    lines += "dev\t" + std::to_string(present) + "\t" + friendly + "\t" + desc + "\t" + cls + "\t" + inst + "\n";
}

Machine::~Machine() {
    if (!owned) return;
    nftw(dir.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); }, 16,
         FTW_DEPTH | FTW_PHYS);
    unlink(record.c_str());
    unlink((dir.substr(0, dir.size() - 1) + ".machine").c_str());
}

void Machine::load() {
    if (dir.empty()) {
        dir = fresh_dir();
        owned = true;
    }
    // The seam's record and the machine file live beside the data directory,
    // so that tests may list the directory and find only the data files.
    if (record.empty()) record = dir.substr(0, dir.size() - 1) + ".record";
    if (exe.empty()) exe = dir + "quillfen.exe";
    std::string text = "clock\t" + std::to_string(clock) + "\n" + "exe\t" + exe + "\n" + "record\t" + record +
                       "\n" + "elevated\tyes\n" + lines;
    std::string mpath = dir.substr(0, dir.size() - 1) + ".machine";
    spit(mpath, text);
    ASSERT_TRUE(sim_load_machine(mpath.c_str())) << "the seam did not accept " << mpath;
}

std::vector<std::string> Machine::recorded() const {
    std::vector<std::string> out;
    std::string all = slurp(record), cur;
    for (char c : all) {
        if (c == '\n') {
            out.push_back(cur);
            cur.clear();
        } else if (c != '\r') {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

std::vector<std::string> Machine::recorded(const std::string& kind) const {
    std::vector<std::string> out;
    for (const std::string& r : recorded())
        if (r.rfind(kind + "\t", 0) == 0) out.push_back(r);
    return out;
}

std::string slurp(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return "";
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    fclose(f);
    return s;
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

void spit(const std::string& path, const std::string& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

std::vector<std::string> list_dir(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d) return names;
    while (struct dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

BlacklistEntry entry(int64_t until, int byname, const char* name, const char* inst, const char* cls) {
    BlacklistEntry e{};
    snprintf(e.name, sizeof e.name, "%s", name);
    snprintf(e.inst, sizeof e.inst, "%s", inst);
    snprintf(e.cls, sizeof e.cls, "%s", cls);
    e.until = until;
    e.byname = byname;
    return e;
}

}  // namespace qt
