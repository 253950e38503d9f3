// Harness of the library tests: a VM with the string, math, arexx and table
// commands, calls by command name with results read back, and peers
// (Python 3, lua5.1) run on files of cases.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "../core/errorstate.h"
#include "core/commands/qx_cmdcall.h"
#include "core/commands/qx_commands.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "core/vm/qx_vmregs.h"
#include "libs/qx_corelibs.h"
#include "libs/qx_tablecmds.h"
#include "platform/qx_text.h"

namespace libtest {

struct Nil {};
// An argument: a number, a string, nil, or anything a pusher puts on the stack.
struct Arg {
    std::variant<double, std::string, Nil, std::function<void(lua_State *)>> v;
    Arg(double d) : v(d) {}
    Arg(int i) : v(static_cast<double>(i)) {}
    Arg(unsigned i) : v(static_cast<double>(i)) {}
    Arg(const char *s) : v(std::string(s)) {}
    Arg(std::string s) : v(std::move(s)) {}
    Arg(Nil) : v(Nil{}) {}
    Arg(std::function<void(lua_State *)> f) : v(std::move(f)) {}
    void push(lua_State *L) const {
        if (auto d = std::get_if<double>(&v)) lua_pushnumber(L, *d);
        else if (auto s = std::get_if<std::string>(&v)) lua_pushlstring(L, s->data(), s->size());
        else if (std::get_if<Nil>(&v)) lua_pushnil(L);
        else std::get<3>(v)(L);
    }
};

// A result: its type and its value as number or string.
struct Val {
    int type = LUA_TNIL;
    double n = 0;
    std::string s;
};

struct Result {
    int status = 0;
    std::vector<Val> v;
    double num(size_t i = 0) const { return i < v.size() ? v[i].n : -12345.678; }
    std::string str(size_t i = 0) const { return i < v.size() ? v[i].s : "<none>"; }
};

using teststate::resetErrorState;

inline const qxCommandDef tableCommands[] = {QX_TABLE_COMMAND_ROWS, {nullptr, nullptr}};
inline const qxConstantDef noConstants[] = {{nullptr, nullptr, 0}};

struct LibTest : ::testing::Test {
    lua_State *L = nullptr;
    int savedMode = 1;
    void SetUp() override {
        resetErrorState();
        savedMode = qxTextModeUtf8;
        L = lua_open();
        ASSERT_NE(L, nullptr);
        ASSERT_EQ(qxOpenStringLib(L), 0);
        ASSERT_EQ(qxOpenMathLib(L), 0);
        ASSERT_EQ(qxOpenARexxLib(L), 0);
        ASSERT_EQ(qxOpenCommandLibrary(L, "tabletest", tableCommands, noConstants), 0);
    }
    void TearDown() override {
        lua_close(L);
        qxFreeCommandRegistries();
        qxTextModeUtf8 = savedMode;
        resetErrorState();
    }

    // Pushes the global command (registered in lower case).
    void pushCommand(const std::string &name) {
        std::string lower;
        for (char c : name) lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
        lua_pushlstring(L, lower.data(), lower.size());
        lua_gettable(L, LUA_GLOBALSINDEX);
    }

    static Val read(lua_State *L, int i) {
        Val v;
        v.type = lua_type(L, i);
        if (v.type == LUA_TNUMBER) v.n = lua_tonumber(L, i);
        if (v.type == LUA_TSTRING) v.s.assign(lua_tostring(L, i), lua_strlen(L, i));
        if (v.type == LUA_TBOOLEAN) v.n = lua_toboolean(L, i);
        return v;
    }

    // Calls a command protected; on success the results, else the status.
    Result call(const std::string &name, const std::vector<Arg> &args = {}) {
        lua_settop(L, 0);
        pushCommand(name);
        EXPECT_EQ(lua_type(L, -1), LUA_TFUNCTION) << name;
        for (const Arg &a : args) a.push(L);
        Result r;
        r.status = lua_pcall(L, static_cast<int>(args.size()), LUA_MULTRET, 0);
        qxVmAbort = 0;
        if (r.status == 0)
            for (int i = 1; i <= lua_gettop(L); i++) r.v.push_back(read(L, i));
        return r;
    }
    int status(const std::string &name, const std::vector<Arg> &args = {}) { return call(name, args).status; }
    double num(const std::string &name, const std::vector<Arg> &args = {}) {
        Result r = call(name, args);
        EXPECT_EQ(r.status, 0) << name;
        return r.num();
    }
    std::string str(const std::string &name, const std::vector<Arg> &args = {}) {
        Result r = call(name, args);
        EXPECT_EQ(r.status, 0) << name;
        return r.str();
    }
};

// A pusher of a new list table holding the values at indices 0, 1, ...
inline std::function<void(lua_State *)> list(std::vector<Arg> items) {
    return [items](lua_State *L) {
        lua_newtable(L);
        for (size_t i = 0; i < items.size(); i++) {
            items[i].push(L);
            lua_rawseti(L, -2, static_cast<int>(i));
        }
    };
}

// Runs a peer program on a script and an input text; empty when the peer
// is missing or fails (*ok false).
inline std::string runPeer(const std::string &program, const std::string &script, const std::string &input,
                           bool *ok) {
    *ok = false;
    std::string probe = "command -v " + program + " >/dev/null 2>&1";
    if (std::system(probe.c_str()) != 0) return "";
    char dir[] = "/tmp/qxlibtestXXXXXX";
    if (!mkdtemp(dir)) return "";
    std::string base(dir);
    std::ofstream(base + "/script") << script;
    std::ofstream(base + "/input", std::ios::binary) << input;
    std::string cmd = program + " " + base + "/script < " + base + "/input > " + base + "/output";
    int rc = std::system(cmd.c_str());
    std::ifstream in(base + "/output", std::ios::binary);
    std::stringstream out;
    out << in.rdbuf();
    std::system(("rm -rf " + base).c_str());
    *ok = rc == 0;
    return out.str();
}

inline std::string hex(const std::string &s) {
    static const char *d = "0123456789abcdef";
    std::string h;
    for (unsigned char c : s) {
        h.push_back(d[c >> 4]);
        h.push_back(d[c & 15]);
    }
    return h.empty() ? "-" : h;
}

inline std::string unhex(const std::string &h) {
    if (h == "-") return "";
    std::string s;
    for (size_t i = 0; i + 1 < h.size(); i += 2) s.push_back(static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16)));
    return s;
}

inline std::vector<std::string> splitWords(const std::string &line) {
    std::vector<std::string> w;
    std::istringstream in(line);
    std::string x;
    while (in >> x) w.push_back(x);
    return w;
}

inline std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string l;
    while (std::getline(in, l)) out.push_back(l);
    return out;
}

} // namespace libtest
