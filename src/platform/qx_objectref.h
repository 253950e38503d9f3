// The identifier of every script object: a number chosen by the script, or
// the automatic identifier (the record's own address) with number 0.
#pragma once
#include <cstdint>

#ifndef QX_OBJECTREF_DEFINED
#define QX_OBJECTREF_DEFINED
struct qxObjectRef {
    uint32_t number;
    void *automatic;
};
#endif
