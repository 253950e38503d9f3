// Feeds arbitrary format strings to FormatStr with a mix of number and
// string arguments, and arbitrary values to ToString.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzzvm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    lua_State *L = fuzzvm::state();
    std::string fmt(reinterpret_cast<const char *>(data + 1), size - 1);
    fuzzvm::pushCommand(L, "formatstr");
    lua_pushlstring(L, fmt.data(), fmt.size());
    // The first byte chooses the kinds of up to eight arguments.
    int n = data[0] & 7;
    for (int i = 0; i < n; i++) {
        if ((data[0] >> 3) & (1 << (i % 5))) {
            lua_pushlstring(L, fmt.data(), fmt.size() / (i + 1));
        } else {
            double v = (i & 1) ? 1e300 * (i - 4) : -1.5 * i * data[i % size];
            lua_pushnumber(L, v);
        }
    }
    fuzzvm::call(L, n + 1);
    lua_settop(L, 0);
    fuzzvm::pushCommand(L, "tostring");
    lua_pushlstring(L, fmt.data(), fmt.size());
    fuzzvm::call(L, 1);
    return 0;
}
