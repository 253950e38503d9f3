// Temporary files of the run, deleted at exit.
#pragma once

struct qxTempFile {
    qxTempFile *next;
    char *path;
};

extern "C" {
extern qxTempFile *qxTempFiles;
// Appends a copy of path to the temporary-file list; 0 when out of memory.
int qxAddTempFile(const char *path);
void qxDeleteTempFiles(void);
}
