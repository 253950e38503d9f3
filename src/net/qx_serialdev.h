// The serial device back-end: one termios device in raw mode, its line
// parameters, modem lines and timed reads and writes.
#pragma once
#include <cstddef>
#include <cstdint>

// Result codes of every operation.
enum : int {
    QX_SER_OK = 0,
    QX_SER_UNKNOWN = 1,
    QX_SER_OPEN = 2,
    QX_SER_CLOSE = 3,
    QX_SER_FLUSH = 4,
    QX_SER_SETTINGS = 5,
    QX_SER_READ = 6,
    QX_SER_WRITE = 7,
    QX_SER_SELECT = 8,
    QX_SER_TIMEOUT = 9,
    QX_SER_IOCTL = 10,
    QX_SER_CLOSED = 11,
};

struct qxSerialIO;

struct qxSerialDevice {
    char *path; // the whole path: a long link name must not be cut
    qxSerialIO *io;
    uint32_t baud, dataBits, stopBits, flow, parity;
    uint32_t open;
    uint32_t dtr, rts;
};

extern "C" {
qxSerialDevice *qxSerialCreate(void);
// 0, or 1 when out of memory.
int qxSerialSetPath(qxSerialDevice *d, const char *path);
// Opens in raw mode and applies the recorded parameters; *refused is set
// when a parameter was refused (the device is then closed again).
int qxSerialOpen(qxSerialDevice *d, int *refused);
int qxSerialClose(qxSerialDevice *d);
// Restores the saved settings and closes when open; frees in any case.
void qxSerialFree(qxSerialDevice *d);
int qxSerialSetBaud(qxSerialDevice *d, uint32_t code);
int qxSerialSetDataBits(qxSerialDevice *d, uint32_t code);
int qxSerialSetParity(qxSerialDevice *d, uint32_t code);
int qxSerialSetStopBits(qxSerialDevice *d, uint32_t code);
int qxSerialSetFlow(qxSerialDevice *d, uint32_t code);
int qxSerialSetDTR(qxSerialDevice *d, uint32_t value);
int qxSerialSetRTS(qxSerialDevice *d, uint32_t value);
int qxSerialBytesWaiting(qxSerialDevice *d, uint32_t *count);
void qxSerialClearInput(qxSerialDevice *d);
int qxSerialFlush(qxSerialDevice *d);
int qxSerialRead(qxSerialDevice *d, void *buffer, size_t length, size_t *count);
int qxSerialReadTimeout(qxSerialDevice *d, void *buffer, size_t length, size_t *count, uint32_t ms);
int qxSerialWrite(qxSerialDevice *d, const void *buffer, size_t length, size_t *count);
int qxSerialWriteTimeout(qxSerialDevice *d, const void *buffer, size_t length, size_t *count, uint32_t ms);
// Waits up to ms for readiness (what 1 read, 2 write): 0 ready, 9 not yet, 8 or 11.
int qxSerialWait(qxSerialDevice *d, int what, uint32_t ms);
}
