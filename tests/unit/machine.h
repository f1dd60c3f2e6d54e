// Test support: a scratch directory per test and a simulated machine whose
// executable (and so both data files) lives in it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qt {

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
    std::string path(const char* file) const { return dir + file; }
};

std::string slurp(const std::string& path);  // "" when missing
bool exists(const std::string& path);
void spit(const std::string& path, const std::string& bytes);
std::vector<std::string> list_dir(const std::string& dir);

}  // namespace qt
