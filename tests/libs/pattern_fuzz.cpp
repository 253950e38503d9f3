// Feeds arbitrary subjects, patterns and replacement strings to the pattern
// commands in both text modes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzzvm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2) return 0;
    lua_State *L = fuzzvm::state();
    int enc = data[0] & 1;
    int start = (data[0] >> 1) & 7;
    // The second byte splits the rest into pattern, subject and replacement.
    std::string rest(reinterpret_cast<const char *>(data + 2), size - 2);
    size_t cut = rest.empty() ? 0 : data[1] % (rest.size() + 1);
    std::string pattern = rest.substr(0, cut), subject = rest.substr(cut);
    size_t cut2 = subject.find('\xFF');
    std::string repl = cut2 == std::string::npos ? "<%0>" : subject.substr(cut2 + 1);
    if (cut2 != std::string::npos) subject.resize(cut2);
    // Backtracking is polynomial in the subject with the number of
    // quantifiers as exponent: keep single runs short.
    int quantifiers = 0;
    for (char c : pattern) quantifiers += c == '*' || c == '+' || c == '-' || c == '?';
    if (subject.size() > 128 || quantifiers > 3) return 0;

    fuzzvm::pushCommand(L, "patternfindstrdirect");
    lua_pushlstring(L, subject.data(), subject.size());
    lua_pushlstring(L, pattern.data(), pattern.size());
    lua_pushnumber(L, start);
    lua_pushnumber(L, enc);
    fuzzvm::call(L, 4);
    lua_settop(L, 0);

    fuzzvm::pushCommand(L, "patternreplacestr");
    lua_pushlstring(L, subject.data(), subject.size());
    lua_pushlstring(L, pattern.data(), pattern.size());
    lua_pushlstring(L, repl.data(), repl.size());
    lua_pushnumber(L, 1000);
    lua_pushnumber(L, enc);
    fuzzvm::call(L, 5);
    lua_settop(L, 0);

    fuzzvm::pushCommand(L, "patternfindstr");
    lua_pushlstring(L, subject.data(), subject.size());
    lua_pushlstring(L, pattern.data(), pattern.size());
    lua_pushnumber(L, enc);
    if (fuzzvm::call(L, 3, 1) == 0) {
        for (int i = 0; i < 64; i++) {
            lua_pushvalue(L, 1);
            if (fuzzvm::call(L, 0, 1) != 0 || lua_isnil(L, -1)) break;
            lua_pop(L, 1);
        }
    }
    lua_settop(L, 0);
    return 0;
}
