// Catalogs: the translated texts of a program for the user's language, as
// IFF FORM CTLG files (ISO-8859-1 text) or plain UTF-8 text files with one
// string per line, found under "Catalogs" or "catalogs" and the language.
#pragma once
#include <cstddef>
#include <cstdint>

// A string converted to the current text mode, kept for later lookups.
struct qxCatalogString {
    qxCatalogString *next;
    uint32_t id;
    char *text;
};

struct qxCatalog {
    char *data;          // file contents, or the processed text
    const uint8_t *strs; // STRS data of an IFF catalog
    char **strings;      // strings of a text catalog
    uint32_t count;      // number of strings of a text catalog
    qxCatalogString *cache;
    size_t strsSize;     // bytes of STRS data inside the file
};

// A catalog for the user's language, or NULL (no language, no file,
// unreadable or malformed file, no memory). The version is not used.
qxCatalog *qxOpenCatalog(const char *name, int version);
// The catalog's text for id, or def when there is no catalog or no such id.
const char *qxGetCatalogString(qxCatalog *catalog, uint32_t id, const char *def);
void qxFreeCatalog(qxCatalog *catalog);
// Parses catalog file contents (copied); NULL when malformed.
qxCatalog *qxParseCatalog(const void *bytes, size_t size);

// The player's own message catalog, which translates the message table by
// index: builtin when no catalog is open or it lacks the index.
const char *qxGetCatalogString(unsigned index, const char *builtin);
// Opens the player's catalog; 1 when one was found, else 0.
int qxOpenCatalog(const char *name);
void qxCloseCatalog();

extern "C" {
// The platform hooks of OpenCatalog and CloseCatalog.
qxCatalog *qxSysOpenCatalog(const char *name, int version);
void qxSysCloseCatalog(qxCatalog *catalog);
}
