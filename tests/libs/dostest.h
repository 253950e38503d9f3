// Harness of the dos library tests: the library harness plus the dos
// commands, a scratch directory and whole-file helpers.
#pragma once
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "libtest.h"

namespace dostest {

using libtest::Arg;
using libtest::Nil;

struct DosTest : libtest::LibTest {
    std::string dir;
    void SetUp() override {
        LibTest::SetUp();
        ASSERT_EQ(qxOpenDosLib(L), 0);
        char templ[] = "/tmp/qxdostestXXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
    }
    void TearDown() override {
        qxCloseDosLib(L);
        LibTest::TearDown();
        std::system(("rm -rf '" + dir + "'").c_str());
    }
    std::string path(const std::string &name) const { return dir + "/" + name; }
    std::string put(const std::string &name, const std::string &bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
        return path(name);
    }
    std::string get(const std::string &name) const {
        std::ifstream in(path(name), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool exists(const std::string &name) const {
        struct stat st;
        return stat(path(name).c_str(), &st) == 0;
    }
    // Opens a file under number id; mode 1005 read, 1006 write, 1004 both.
    int open(int id, const std::string &name, int mode = 1005) {
        return status("OpenFile", {id, path(name), mode});
    }
    // Runs a Python 3 program with the scratch directory as its argument;
    // returns its output, or skips the test when there is no Python.
    std::string python(const std::string &program, bool *ok) {
        return libtest::runPeer("python3", "import sys\nD = " + quote(dir) + "\n" + program, "", ok);
    }
    static std::string quote(const std::string &s) { return "'" + s + "'"; }
};

} // namespace dostest
