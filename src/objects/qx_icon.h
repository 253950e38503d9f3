// Icons: records with entries of different sizes kept by width, and the
// icon sheet, one 32-bit picture holding every entry under a marker row.
#pragma once
#include <cstdint>

#include "core/commands/qx_objreg.h"
#include "platform/qx_objectref.h"

struct lua_State;
struct qxPicSource;

enum : uint32_t { QX_TYPE_ICON = 59 };

struct qxIconEntry {
    qxIconEntry *next;
    uint32_t width, height;
    uint32_t transparency;
    uint32_t standard;
    uint32_t *normal;   // ARGB, width x height, or none for a vector entry
    uint32_t *selected; // ARGB or none
    qxPicSource *normalSource, *selectedSource; // vector entries
};

struct qxIcon {
    // Same leading layout as qxObjectHeader.
    uint32_t type;
    uint32_t id;
    void *automatic;
    qxIcon *next;
    qxObjectDataItem *data;
    qxIconEntry *entries;
};

// Sheet flags of an entry's header row.
constexpr uint32_t QX_ICONSHEET_SELECTED = 1, QX_ICONSHEET_TRANSPARENT = 2, QX_ICONSHEET_STANDARD = 4;

extern "C" {
extern qxIcon *qxIcons;

int qxFindIcon(qxObjectRef ref, qxIcon **out);
void qxFreeIconEntries(qxIconEntry *list);
// Entries from the ARGB pixels of a sheet (rows pitch pixels apart): 0,
// 1000, or 1611 for anything that is not a well-formed sheet.
int qxParseIconSheet(const uint32_t *pixels, uint32_t width, uint32_t height, uint32_t pitch, qxIconEntry **out);
// Reads a sheet file; 1611 names the file.
int qxIconSheet(const char *file, const char *loader, const char *adapter, qxIconEntry **out);
// The sheet of a list of pixel entries: a new zero-filled ARGB buffer. 0,
// 1000, or 1055 for a vector entry.
int qxBuildIconSheet(const qxIconEntry *list, uint32_t **pixels, uint32_t *width, uint32_t *height);
// Inserts after every entry of smaller or equal width; returns the 1-based position.
uint32_t qxInsertIconEntry(qxIconEntry **list, qxIconEntry *entry);
}
