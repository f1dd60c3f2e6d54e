// Test support: a scratch directory per test, a simulated machine whose
// executable (and so both data files) lives in it, and small helpers the
// test files share.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "store/store.h"

namespace qt {

// The first line of every blacklist file a save writes.
extern const std::string HEADER;

// s, n times.
std::string rep(const std::string& s, size_t n);

// A command line: "quillfen.exe" and the arguments, as main receives them.
struct Argv {
    explicit Argv(std::initializer_list<const char*> args);
    int argc() const { return (int)store.size(); }
    char** argv() { return ptrs.data(); }

private:
    std::vector<std::string> store;
    std::vector<char*> ptrs;
};

constexpr int64_t T0 = 1700000000;  // the machine's clock unless a test says otherwise

// A fresh, empty directory; the path ends in '/'.
std::string fresh_dir();

struct Machine {
    std::string dir;          // data directory (ends in '/')
    std::string record;       // what the seam recorded
    std::string lines;        // extra machine lines (devices, run results...)
    int64_t clock = T0;
    std::string exe;          // defaults to dir + "quillfen.exe"
    bool owned = false;       // dir was made by load()

    Machine() = default;
    Machine(const Machine&) = delete;
    ~Machine();  // removes what load() created

    void dev(int present, const std::string& friendly, const std::string& desc, const std::string& cls,
             const std::string& inst);
    // Writes the machine file and makes the seam use it.
    void load();
    std::vector<std::string> recorded() const;
    // The recorded lines of one kind ("event", "run"...).
    std::vector<std::string> recorded(const std::string& kind) const;
    std::string path(const char* file) const { return dir + file; }
};

// A blacklist entry with these fields.
BlacklistEntry entry(int64_t until, int byname, const char* name, const char* inst, const char* cls);

std::string slurp(const std::string& path);  // "" when missing
bool exists(const std::string& path);
void spit(const std::string& path, const std::string& bytes);
std::vector<std::string> list_dir(const std::string& dir);

}  // namespace qt
