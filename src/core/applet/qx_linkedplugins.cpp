// The plug-ins appended to a linked executable: the "QXP!" chain is written
// into a fresh temporary directory before the plug-ins are scanned.
#include <cstring>
#include <memory>
#include <string>

#include "core/errors/qx_errors.h"
#include "core/files/qx_file.h"
#include "core/plugins/qx_plugins.h"
#include "core/codecs/qx_unpack.h"
#include "platform/qx_files.h"
#include "platform/qx_memory.h"
#include "platform/qx_paths.h"

namespace {

constexpr size_t kCopyBlock = 16384;

struct Closer {
    void operator()(qxFileHandle *h) const { qxClose(h); }
};
using File = std::unique_ptr<qxFileHandle, Closer>;

struct QxFree {
    void operator()(void *p) const { qxFree(p); }
};

bool readU32(qxFileHandle *f, uint32_t *v)
{
    uint8_t b[4];
    if (qxRead(f, b, 4) != 4) return false;
    *v = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
    return true;
}

// A record name; 1009 when the file ends inside it.
int readName(qxFileHandle *f, std::string &name)
{
    name.clear();
    for (;;) {
        int c = qxGetC(f);
        if (c < 0) return ERR_READ;
        if (c == 0) return 0;
        if (name.size() >= 255) return ERR_LOADPLUGIN;
        name.push_back(char(c));
    }
}

// The name becomes a file name in the temporary directory: nothing that
// leads out of it or names a directory is taken.
bool safeName(const std::string &name)
{
    if (name.empty() || name == "." || name == "..") return false;
    if (name.find_first_of("/\\") != std::string::npos) return false;
    if (name.find("..") != std::string::npos) return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F) return false;
    return true;
}

int makeDirectory()
{
    char path[sizeof qxLinkedPluginDir];
    if (!qxTempFileName(path, sizeof path)) {
        qxSetErrorString(qxGetTempDirectory()); // the report names where it could not write
        return ERR_WRITEFILE;
    }
    qxDeleteFile(path);
    if (int e = qxMakeDir(path)) return e;
    qxSetProtection(path, QX_PROT_OWNER_READ | QX_PROT_OWNER_WRITE | QX_PROT_OWNER_EXEC | QX_PROT_GROUP_READ |
                              QX_PROT_GROUP_EXEC | QX_PROT_OTHER_READ | QX_PROT_OTHER_EXEC);
    std::memcpy(qxLinkedPluginDir, path, std::strlen(path) + 1);
    return 0;
}

bool exists(const char *path)
{
    File probe(qxOpen(path, QX_OPEN_READ, nullptr));
    return probe != nullptr;
}

int copyPlain(qxFileHandle *in, const char *target, uint32_t size, uint8_t *buffer)
{
    File out(qxOpen(target, QX_OPEN_WRITE, nullptr));
    if (!out) {
        qxSetErrorString(target);
        return ERR_WRITEFILE;
    }
    for (uint32_t left = size; left > 0;) {
        int64_t n = left < kCopyBlock ? left : kCopyBlock;
        if (qxRead(in, buffer, n) != n) return ERR_READ;
        if (qxWrite(out.get(), buffer, n) != n) return ERR_WRITE;
        left -= uint32_t(n);
    }
    if (!qxClose(out.release())) return ERR_WRITE;
    return 0;
}

} // namespace

extern "C" int qxExtractLinkedPlugins(const char *programPath, uint32_t offset)
{
    File f(qxOpen(programPath, QX_OPEN_READ, nullptr));
    if (!f) {
        qxSetErrorString(programPath);
        return ERR_READFILE;
    }
    uint8_t magic[4];
    if (qxSeek(f.get(), offset, 1) < 0 || qxRead(f.get(), magic, 4) != 4 || std::memcmp(magic, "QXP!", 4) != 0)
        return 0;
    uint32_t flags;
    if (!readU32(f.get(), &flags)) return ERR_READ;
    std::unique_ptr<uint8_t, QxFree> buffer(static_cast<uint8_t *>(qxAlloc(kCopyBlock, 0)));
    if (!buffer) return ERR_MEM;
    int64_t fileSize = qxFileSize(f.get());

    for (;;) {
        std::string name;
        if (int e = readName(f.get(), name)) {
            if (e == ERR_LOADPLUGIN) qxSetErrorString(name.c_str());
            return e;
        }
        if (name.empty()) {
            int64_t here = qxSeek(f.get(), 0, 0);
            if (offset != 0 && here >= 0 && here <= int64_t(UINT32_MAX)) qxAppendedOffset = uint32_t(here);
            return 0;
        }
        if (!safeName(name)) {
            qxSetErrorString(name.c_str());
            return ERR_LOADPLUGIN;
        }
        uint32_t size;
        if (!readU32(f.get(), &size)) return ERR_READ;
        int64_t start = qxSeek(f.get(), 0, 0);
        if (start < 0 || int64_t(size) > fileSize - start) return ERR_READ;
        if (!qxLinkedPluginDir[0]) {
            if (int e = makeDirectory()) return e;
        }
        std::string target = std::string(qxLinkedPluginDir) + "/" + name + ".qxp";
        if (target.size() >= QX_PATH_MAX) {
            qxSetErrorString(target.c_str());
            return ERR_NAMETOOLONG;
        }
        // A name met twice keeps the file written first.
        if (exists(target.c_str())) {
            if (qxSeek(f.get(), start + size, 1) < 0) return ERR_READ;
            continue;
        }
        if (flags & 1) {
            if (int e = qxUnpackData("PLPK", nullptr, target.c_str(), f.get(), start, nullptr, nullptr, 0, nullptr))
                return e;
            if (qxSeek(f.get(), start + size, 1) < 0) return ERR_READ;
        } else if (int e = copyPlain(f.get(), target.c_str(), size, buffer.get())) {
            return e;
        }
        qxSetProtection(target.c_str(), QX_PROT_OWNER_READ | QX_PROT_OWNER_WRITE | QX_PROT_OWNER_EXEC |
                                            QX_PROT_GROUP_READ | QX_PROT_GROUP_EXEC | QX_PROT_OTHER_READ |
                                            QX_PROT_OTHER_EXEC);
    }
}
