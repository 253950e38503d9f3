// The stress collector: with QX_VM_GC_STRESS=1 in the environment (the
// test_vm.gcstress entry) every VM test runs collecting at every point
// where a collection may run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "core/vm/lgc.h"
#include "core/vm/qx_vmregs.h"
#include "chunk_writer.h"

namespace {

// Before any test opens a state.
const bool stressFromEnvironment = [] {
    const char *v = std::getenv("QX_VM_GC_STRESS");
    if (v && std::strcmp(v, "1") == 0) qxVmGcStress = 1;
    return qxVmGcStress != 0;
}();

struct StressOn {
    int saved = qxVmGcStress;
    StressOn() { qxVmGcStress = 1; }
    ~StressOn() { qxVmGcStress = saved; }
};

TEST(GcStress, EveryCheckPointCollects) {
    StressOn on;
    lua_State *L = lua_open();
    ASSERT_NE(L, nullptr);
    EXPECT_EQ(lua_getgcthreshold(L), 0);
    auto tables = [L] {
        int n = 0;
        for (GCObject *o = G(L)->rootgc; o; o = o->next) n += o->tt == LUA_TTABLE;
        return n;
    };
    int before = tables();
    // An unreachable table is gone after the next allocation point.
    lua_newtable(L);
    EXPECT_EQ(tables(), before + 1);
    lua_pop(L, 1);
    lua_pushstring(L, "next allocation");
    EXPECT_EQ(tables(), before);
    EXPECT_EQ(lua_getgcthreshold(L), 0);
    lua_close(L);
}

// A script that builds nested tables, strings and closures keeps every
// reachable value while collecting at every step.
TEST(GcStress, ScriptValuesSurviveCollections) {
    using namespace chunktest;
    StressOn on;
    lua_State *L = lua_open();
    Func inner;
    inner.numparams = 1;
    inner.nups = 1;
    inner.code = {CREATE_ABC(OP_GETUPVAL, 1, 0, 0), CREATE_ABC(OP_CONCAT, 1, 0, 1),
                  CREATE_ABC(OP_RETURN, 1, 2, 0)};
    Func f;
    f.k = {str("a"), str("b"), num(1), num(200), str("k")};
    f.p = {inner};
    // t = {}; for i = 1, 200: u = "b"; t[i] = closure(u); then t[1]("a") .. t[200]("a")
    f.code = {CREATE_ABC(OP_NEWTABLE, 0, 0, 0), CREATE_ABx(OP_LOADK, 1, 2), CREATE_ABx(OP_LOADK, 2, 3),
              CREATE_ABx(OP_LOADK, 3, 2), CREATE_ABC(OP_SUB, 1, 1, 3), CREATE_J(5, 0),
              CREATE_ABx(OP_LOADK, 4, 1), CREATE_ABx(OP_CLOSURE, 5, 0), CREATE_ABC(OP_MOVE, 0, 4, 0),
              CREATE_ABC(OP_SETTABLE, 0, 1, 5), CREATE_ABC(OP_CLOSE, 4, 0, 0),
              CREATE_AsBx(OP_FORLOOP, 1, -6), CREATE_ABC(OP_GETTABLE, 1, 0, K(2)),
              CREATE_ABx(OP_LOADK, 2, 0), CREATE_ABC(OP_CALL, 1, 2, 2), CREATE_ABC(OP_GETTABLE, 2, 0, K(3)),
              CREATE_ABx(OP_LOADK, 3, 0), CREATE_ABC(OP_CALL, 2, 2, 2), CREATE_ABC(OP_CONCAT, 1, 1, 2),
              CREATE_ABC(OP_RETURN, 1, 2, 0)};
    ASSERT_EQ(load(L, chunk(f)), 0);
    ASSERT_EQ(lua_pcall(L, 0, 1, 0), 0);
    ASSERT_NE(lua_tostring(L, -1), nullptr);
    EXPECT_STREQ(lua_tostring(L, -1), "abab");
    lua_close(L);
}

} // namespace
