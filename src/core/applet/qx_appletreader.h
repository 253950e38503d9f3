// Checked big-endian reads from an applet file for the loader's parts.
#pragma once
#include <cstdint>
#include <string>

#include "core/files/qx_file.h"
#include "core/applet/qx_preproc.h"

namespace qxapplet {

// Every read fails once the file ends; the caller turns that into its code.
struct Reader {
    qxFileHandle *file = nullptr;
    int64_t size = 0;  // file size, for lengths read from the file
    uint32_t base = 0; // where the applet starts in the file
    uint32_t major = 8, minor = 0;
    const char *dataPath = ""; // container of the applet's offsets

    bool u8(uint32_t &v);
    bool u16(uint32_t &v);
    bool u32(uint32_t &v);
    bool i16(int32_t &v);
    bool f64(double &v);
    bool bytes(void *out, int64_t n);
    bool skip(int64_t n);
    int64_t pos();
    // Zero-terminated string (its zero byte consumed), at most limit bytes.
    bool cstring(std::string &s, size_t limit = 65536);
    // {u16 n, n bytes}.
    bool pstring(std::string &s);
    bool atLeast(uint32_t major, uint32_t minor) const
    {
        return this->major > major || (this->major == major && this->minor >= minor);
    }
};

// Copies text into a field of size bytes, cut at a character boundary.
void copyField(char *field, size_t size, const std::string &text);
// A copy made with qxAlloc, or null.
char *dupText(const std::string &text);

// Reads the object section's count and records into the applet's list.
// 0, 1198 (file ends), 1009 (inline text), 1000 or 1538.
int readObjects(Reader &r, qxAppletInfo *applet);
// Reads a display definition's fields (kind 10 payload).
bool readDisplayDef(Reader &r, qxDisplayDef *def);
// Section 17's backfill record.
bool readBackfill(Reader &r, qxBackfill *bf);
bool readGradient(Reader &r, qxDeclaredGradient *g);

} // namespace qxapplet
