// Building and parsing chunk names, base names and extensions.
#include "core/files/qx_chunkname.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "core/runtime/qx_startup.h"
#include "core/vm/lua.h"
#include "platform/qx_paths.h"

namespace {

constexpr std::string_view kPrefix = ":::chunk";

qxVirtualFileCheck gVirtualFileCheck;

// The fields of a chunk name, as views into it.
struct ChunkParts {
    bool memoryForm;
    int64_t number; // offset, or the registry reference of the S form
    uint32_t size;
    std::string_view inner;
    std::string_view container;
};

// One or more decimal digits within [0, limit].
bool takeNumber(std::string_view &s, uint64_t limit, uint64_t *out)
{
    size_t n = 0;
    uint64_t v = 0;
    while (n < s.size() && s[n] >= '0' && s[n] <= '9') {
        v = v * 10 + static_cast<uint64_t>(s[n] - '0');
        if (v > limit) return false;
        ++n;
    }
    if (n == 0) return false;
    s.remove_prefix(n);
    *out = v;
    return true;
}

bool splitChunkName(const char *name, ChunkParts *parts)
{
    if (!name) return false;
    std::string_view s(name);
    if (s.substr(0, kPrefix.size()) != kPrefix) return false;
    s.remove_prefix(kPrefix.size());
    uint64_t v;
    parts->memoryForm = !s.empty() && s[0] == 'S';
    if (parts->memoryForm) {
        s.remove_prefix(1);
        bool negative = !s.empty() && s[0] == '-';
        if (negative) s.remove_prefix(1);
        if (!takeNumber(s, negative ? uint64_t(INT_MAX) + 1 : INT_MAX, &v)) return false;
        parts->number = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
    } else {
        if (!takeNumber(s, UINT32_MAX, &v)) return false;
        parts->number = static_cast<int64_t>(v);
    }
    if (s.empty() || s[0] != ':') return false;
    s.remove_prefix(1);
    if (!takeNumber(s, UINT32_MAX, &v)) return false;
    parts->size = static_cast<uint32_t>(v);
    if (s.empty() || s[0] != '*') return false;
    s.remove_prefix(1);
    size_t question = s.find('?');
    if (question == std::string_view::npos) return false;
    parts->inner = s.substr(0, question);
    parts->container = s.substr(question + 1);
    return true;
}

// Copies text with a terminator; false when it does not fit.
bool copyOut(std::string_view text, char *out, size_t capacity)
{
    if (capacity == 0 || text.size() >= capacity) return false;
    if (!text.empty()) std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return true;
}

std::string_view extensionOf(std::string_view inner)
{
    size_t dot = inner.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : inner.substr(dot);
}

// After the last separator, else after the first colon; short names whole.
std::string_view baseNameOf(std::string_view name)
{
    if (name.size() < 2) return name;
    size_t sep = name.find_last_of("/\\");
    if (sep != std::string_view::npos) return name.substr(sep + 1);
    size_t colon = name.find(':');
    if (colon != std::string_view::npos) return name.substr(colon + 1);
    return name;
}

// The block a registry reference holds, while it is still a virtual file.
qxMemRecord *lookUpBlock(int reference, uint32_t stamp)
{
    lua_State *L = qxMainState;
    if (!L || !gVirtualFileCheck) return nullptr;
    int top = lua_gettop(L);
    lua_rawgeti(L, LUA_REGISTRYINDEX, reference);
    void *userdata = lua_touserdata(L, -1);
    lua_settop(L, top);
    return userdata ? gVirtualFileCheck(userdata, stamp) : nullptr;
}

} // namespace

extern "C" {

void qxSetVirtualFileCheck(qxVirtualFileCheck check) { gVirtualFileCheck = check; }

int qxIsChunkName(const char *name) { return name && std::strncmp(name, ":::chunk", 8) == 0; }

int qxMakeChunkName(const char *name, char *buffer, size_t capacity, int64_t offset, uint32_t size,
                    int64_t base, const char *container)
{
    if (!buffer || capacity == 0) return 0;
    if (!name) name = "";
    if (!container) container = "";
    if (std::strchr(name, '?')) return 0;
    int n;
    if (offset == -1) {
        if (base < INT_MIN || base > INT_MAX) return 0;
        n = std::snprintf(buffer, capacity, ":::chunkS%d:%u*%s?%s", static_cast<int>(base), size, name, container);
    } else {
        uint32_t absolute = static_cast<uint32_t>(base) + static_cast<uint32_t>(offset);
        n = std::snprintf(buffer, capacity, ":::chunk%u:%u*%s?%s", absolute, size, name, container);
    }
    if (n < 0 || static_cast<size_t>(n) >= capacity) {
        buffer[0] = '\0';
        return 0;
    }
    return 1;
}

int qxParseChunkName(const char *name, uint32_t *offset, uint32_t *size, char *innerName,
                     size_t innerCapacity, char *container, size_t containerCapacity,
                     char *extension, size_t extensionCapacity, qxMemRecord **block)
{
    ChunkParts parts;
    if (!splitChunkName(name, &parts)) return 0;
    uint32_t theSize = parts.size;
    qxMemRecord *theBlock = nullptr;
    if (parts.memoryForm && parts.number != -1) {
        theBlock = lookUpBlock(static_cast<int>(parts.number), parts.size);
        if (!theBlock || theBlock->size < 0) return 0;
        theSize = theBlock->size > int64_t(UINT32_MAX) ? UINT32_MAX : static_cast<uint32_t>(theBlock->size);
    }
    if (innerName && !copyOut(parts.inner, innerName, innerCapacity)) return 0;
    if (container && !copyOut(parts.memoryForm ? std::string_view() : parts.container, container, containerCapacity))
        return 0;
    if (extension && !copyOut(extensionOf(parts.inner), extension, extensionCapacity)) return 0;
    if (offset) *offset = parts.memoryForm ? 0 : static_cast<uint32_t>(parts.number);
    if (size) *size = theSize;
    if (block) *block = theBlock;
    return 1;
}

const char *qxChunkBaseName(const char *path)
{
    static char inner[QX_CHUNKNAME_MAX];
    if (!path) return "";
    std::string_view text(path);
    ChunkParts parts;
    // Messages need no live block: the inner name is taken as written.
    if (qxIsChunkName(path) && splitChunkName(path, &parts) && copyOut(parts.inner, inner, sizeof inner))
        text = inner;
    std::string_view base = baseNameOf(text);
    return base.data();
}

int qxChunkNameBaseName(const char *chunk, char *out, size_t size)
{
    ChunkParts parts;
    if (!out || !splitChunkName(chunk, &parts)) return 0;
    std::string_view base = baseNameOf(parts.inner);
    if (base.empty()) return 0;
    return copyOut(base, out, size) ? 1 : 0;
}

} // extern "C"
