// Shared helpers of the sound tests: a scratch directory, shell commands
// for the reference tools, and whole-file reads.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/commands/qx_commands.h"
#include "media/qx_medialibs.h"

namespace soundtest {

inline bool have(const char *tool)
{
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// A fresh directory per test, removed afterwards.
struct ScratchDir {
    std::string path;
    ScratchDir()
    {
        char tmpl[] = "/tmp/qxsoundXXXXXX";
        path = mkdtemp(tmpl);
    }
    ~ScratchDir() { std::system(("rm -rf " + path).c_str()); }
    std::string operator/(const std::string &name) const { return path + "/" + name; }
    // Runs a shell command inside the directory; true on success.
    bool run(const std::string &command) const
    {
        return std::system(("cd " + path + " && (" + command + ") >/dev/null 2>&1").c_str()) == 0;
    }
};

inline std::vector<uint8_t> readFile(const std::string &name)
{
    std::ifstream f(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

inline void writeFile(const std::string &name, const std::vector<uint8_t> &bytes)
{
    std::ofstream f(name, std::ios::binary);
    f.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

// Largest difference between two 16-bit little-endian sample streams of the
// same length (SIZE_MAX-like 1 << 20 when the lengths differ).
inline int maxDiff16(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b)
{
    if (a.size() != b.size()) return 1 << 20;
    int worst = 0;
    for (size_t i = 0; i + 1 < a.size(); i += 2) {
        int x = int16_t(a[i] | a[i + 1] << 8), y = int16_t(b[i] | b[i + 1] << 8);
        worst = std::max(worst, std::abs(x - y));
    }
    return worst;
}

// Tells the sound library that the script handles an event, as
// InstallEventHandler does through the runtime's tag setter.
inline void listenFor(uint32_t tag)
{
    qxTagItem item{tag, 1};
    qxSoundAttrSetter(&item);
}

} // namespace soundtest
