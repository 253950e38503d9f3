// The sound library's attribute hook: samples (codes 7, 8, 9, 16, 24, 30,
// 31) and music (14, 15, 17, 19, 20, 21, 25-29, 32).
#pragma once
#include "platform/qx_objectref.h"

struct qxAttributeValue {
    double number;
    double second;    // code 16: the pass
    const char *text; // codes 17, 31, 32
};

extern "C" {
// 1 with the value; 0 when the object is not found or the code is not ours.
int qxSoundAttribute(int code, qxObjectRef ref, qxAttributeValue *out);
// Answers GetAttribute for samples and music (the sound library's opener).
void qxLinkSoundAttributes(void);
}
