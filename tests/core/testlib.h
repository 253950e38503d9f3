// A command library for tests: handlers that return chosen codes, ask for
// Gosubs, raise from inside, and call back into the script.
#pragma once
#include <string>
#include <vector>

#include "errorstate.h"
#include "core/commands/qx_cmdcall.h"
#include "core/commands/qx_commands.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "core/vm/ldo.h"
#include "core/vm/qx_vmregs.h"
#include "vm/chunk_writer.h"

namespace testlib {

// TestResults(n): pushes 10, 20, ... (n values).
inline int results(lua_State *L) {
    int n = luaL_checkint(L, 1);
    lua_checkstack(L, n);
    for (int i = 1; i <= n; i++) lua_pushnumber(L, 10 * i);
    return n;
}

// TestFail(code): returns code as it stands.
inline int fail(lua_State *L) { return luaL_checkint(L, 1); }

// TestRaise(code): raises code from inside the handler.
inline int raise(lua_State *L) { luaG_raisecode(L, luaL_checkint(L, 1)); }

// TestGosub(offset, kind): asks for a Gosub (kind -1 or -2).
inline int gosub(lua_State *L) {
    qxVmLabelOffset = luaL_checkint(L, 1);
    return luaL_checkint(L, 2);
}

// TestCallback(f): calls f protected inside the callback bracket and
// returns the status of the call.
inline int callback(lua_State *L) {
    luaL_checkfunction(L, 1);
    lua_pushvalue(L, 1);
    qxSetTag(QX_TAG_CALLBACKNEST, 1);
    int status = lua_pcall(L, 0, 0, 0);
    qxSetTag(QX_TAG_CALLBACKNEST, 0);
    lua_pushnumber(L, status);
    return 1;
}

inline const qxCommandDef commands[] = {
    {"TestResults", results}, {"TestFail", fail},         {"TestRaise", raise},
    {"TestGosub", gosub},     {"TestCallback", callback}, {nullptr, nullptr},
};

inline const qxConstantDef constants[] = {
    {"TESTLIB_ANSWER", nullptr, 42},
    {"TestLib_Text", "hi", 0},
    {nullptr, nullptr, 0},
};

inline int open(lua_State *L) { return qxOpenCommandLibrary(L, "testlib", commands, constants); }

using teststate::resetErrorState;

// Main chunk: cmd(args...) with its results returned; status selects the
// call form that returns the error code as a value.
inline chunktest::Func callChunk(const std::string &cmd, const std::vector<chunktest::Const> &args,
                                 bool status = false, const char *source = "main.qxs") {
    using namespace chunktest;
    Func f;
    f.source = std::string(source);
    f.k = {str(cmd)};
    f.code.push_back(CREATE_ABx(OP_GETGLOBAL, 0, 0));
    for (size_t i = 0; i < args.size(); i++) {
        f.k.push_back(args[i]);
        f.code.push_back(CREATE_ABx(OP_LOADK, static_cast<int>(i) + 1, static_cast<int>(i) + 1));
    }
    int b = static_cast<int>(args.size()) + 1;
    f.code.push_back(CREATE_ABC(status ? OP_CALLSTATUS : OP_CALL, 0, b, 0));
    f.code.push_back(CREATE_ABC(OP_RETURN, 0, 0, 0));
    return f;
}

} // namespace testlib
