// The entry points of a network adapter plug-in, in their slot order.
#pragma once
#include <cstdint>

struct qxNetInfoRequest;

extern "C" {
// tags: {tag, value} pairs ended by tag 0; {1, TLS flag}, {2, time-out in ms}.
typedef void *(*qxNetOpenConnFn)(const char *host, int port, const uint64_t *tags);
typedef void (*qxNetCloseConnFn)(void *handle);
typedef int (*qxNetInfoFn)(void *handle, qxNetInfoRequest *request);
typedef int (*qxNetRecvFn)(void *handle, void *buffer, int size, int *count, void *reserved);
typedef int (*qxNetSendFn)(void *handle, const void *bytes, int size, int *count, void *reserved);
}
