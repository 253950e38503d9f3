// Serial devices through POSIX termios.
#include "net/qx_serialdev.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "platform/qx_memory.h"

struct qxSerialIO {
    int32_t fd;
    termios saved;
};

namespace {

const speed_t kBauds[] = {B300, B2400, B4800, B9600, B19200, B38400, B57600, B115200, B460800};
const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};

// Changes the line settings through edit; the recorded code on success.
template <typename Edit>
int changeSettings(qxSerialDevice *d, uint32_t code, uint32_t limit, uint32_t *record, Edit edit)
{
    if (!d->open) return QX_SER_CLOSED;
    termios t{};
    if (tcgetattr(d->io->fd, &t) != 0) return QX_SER_SETTINGS;
    if (code > limit) return QX_SER_UNKNOWN;
    edit(t);
    if (tcsetattr(d->io->fd, TCSANOW, &t) != 0) return QX_SER_SETTINGS;
    *record = code;
    return QX_SER_OK;
}

int setModemBit(qxSerialDevice *d, int bit, uint32_t value, uint32_t *record)
{
    if (!d->open) return QX_SER_CLOSED;
    int word = 0;
    if (ioctl(d->io->fd, TIOCMGET, &word) != 0) return QX_SER_IOCTL;
    if (value > 1) return QX_SER_UNKNOWN;
    word = value ? (word | bit) : (word & ~bit);
    if (ioctl(d->io->fd, TIOCMSET, &word) != 0) return QX_SER_IOCTL;
    *record = value;
    return QX_SER_OK;
}

double now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

} // namespace

extern "C" {

qxSerialDevice *qxSerialCreate(void)
{
    auto *d = static_cast<qxSerialDevice *>(qxAlloc(sizeof(qxSerialDevice), 1));
    if (!d) return nullptr;
    d->io = static_cast<qxSerialIO *>(qxAlloc(sizeof(qxSerialIO), 1));
    if (!d->io || qxSerialSetPath(d, "/dev/ttyS0") != 0) {
        qxFree(d->io);
        qxFree(d);
        return nullptr;
    }
    d->io->fd = -1;
    d->baud = 3;
    d->dataBits = 3;
    return d;
}

int qxSerialSetPath(qxSerialDevice *d, const char *path)
{
    size_t n = std::strlen(path);
    auto *copy = static_cast<char *>(qxAlloc(n + 1, 0));
    if (!copy) return QX_SER_UNKNOWN;
    std::memcpy(copy, path, n + 1);
    qxFree(d->path);
    d->path = copy;
    return QX_SER_OK;
}

int qxSerialOpen(qxSerialDevice *d, int *refused)
{
    *refused = 0;
    int fd = open(d->path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return QX_SER_OPEN;
    int flags = fcntl(fd, F_GETFL, 0);
    termios work{};
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 || tcflush(fd, TCIOFLUSH) != 0 ||
        tcgetattr(fd, &work) != 0 || tcgetattr(fd, &d->io->saved) != 0) {
        close(fd);
        return flags < 0 ? QX_SER_OPEN : QX_SER_SETTINGS;
    }
    work.c_iflag = IGNPAR;
    work.c_oflag = 0;
    work.c_lflag = 0;
    work.c_cflag |= CLOCAL | CREAD;
    for (int c : {VINTR, VQUIT, VERASE, VKILL, VEOF, VSTART, VSTOP, VSUSP, VEOL}) work.c_cc[c] = 0;
    if (tcsetattr(fd, TCSANOW, &work) != 0) {
        close(fd);
        return QX_SER_SETTINGS;
    }
    d->io->fd = fd;
    // Open first: the setters refuse a closed device.
    d->open = 1;
    int r = qxSerialSetBaud(d, d->baud);
    if (!r) r = qxSerialSetDataBits(d, d->dataBits);
    if (!r) r = qxSerialSetParity(d, d->parity);
    if (!r) r = qxSerialSetStopBits(d, d->stopBits);
    if (!r) r = qxSerialSetFlow(d, d->flow);
    if (r) {
        tcsetattr(fd, TCSANOW, &d->io->saved);
        close(fd);
        d->io->fd = -1;
        d->open = 0;
        *refused = 1;
    }
    return r;
}

int qxSerialClose(qxSerialDevice *d)
{
    if (!d->open) return QX_SER_CLOSED;
    int r = close(d->io->fd) == 0 ? QX_SER_OK : QX_SER_CLOSE;
    d->io->fd = -1;
    d->open = 0;
    return r;
}

void qxSerialFree(qxSerialDevice *d)
{
    if (!d) return;
    if (d->open) {
        tcflush(d->io->fd, TCIOFLUSH);
        // Closed and freed even when the old settings cannot come back.
        tcsetattr(d->io->fd, TCSANOW, &d->io->saved);
        qxSerialClose(d);
    }
    qxFree(d->io);
    qxFree(d->path);
    qxFree(d);
}

int qxSerialSetBaud(qxSerialDevice *d, uint32_t code)
{
    return changeSettings(d, code, 8, &d->baud, [code](termios &t) {
        cfsetispeed(&t, kBauds[code]);
        cfsetospeed(&t, kBauds[code]);
    });
}

int qxSerialSetDataBits(qxSerialDevice *d, uint32_t code)
{
    return changeSettings(d, code, 3, &d->dataBits, [code](termios &t) {
        t.c_cflag &= ~CSIZE;
        t.c_cflag |= kSizes[code];
    });
}

int qxSerialSetParity(qxSerialDevice *d, uint32_t code)
{
    return changeSettings(d, code, 2, &d->parity, [code](termios &t) {
        if (code == 0) t.c_cflag &= ~PARENB;
        else if (code == 1) t.c_cflag |= PARENB | PARODD;
        else t.c_cflag = (t.c_cflag | PARENB) & ~PARODD;
    });
}

int qxSerialSetStopBits(qxSerialDevice *d, uint32_t code)
{
    return changeSettings(d, code, 1, &d->stopBits, [code](termios &t) {
        if (code) t.c_cflag |= CSTOPB;
        else t.c_cflag &= ~CSTOPB;
    });
}

int qxSerialSetFlow(qxSerialDevice *d, uint32_t code)
{
    return changeSettings(d, code, 2, &d->flow, [code](termios &t) {
        if (code == 1) t.c_cflag |= CRTSCTS;
        else t.c_cflag &= ~CRTSCTS;
        if (code == 2) t.c_iflag |= IXON | IXOFF | IXANY;
        else t.c_iflag &= ~(IXON | IXOFF | IXANY);
    });
}

int qxSerialSetDTR(qxSerialDevice *d, uint32_t value)
{
    return setModemBit(d, TIOCM_DTR, value, &d->dtr);
}

int qxSerialSetRTS(qxSerialDevice *d, uint32_t value)
{
    return setModemBit(d, TIOCM_RTS, value, &d->rts);
}

int qxSerialWait(qxSerialDevice *d, int what, uint32_t ms)
{
    if (!d->open) return QX_SER_CLOSED;
    int fd = d->io->fd;
    if (fd >= FD_SETSIZE) return QX_SER_SELECT;
    double end = now() + ms;
    for (;;) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(fd, &set);
        double left = end - now();
        if (left < 0) left = 0;
        timeval tv{static_cast<time_t>(left / 1000), static_cast<suseconds_t>(static_cast<long>(left) % 1000 * 1000)};
        int r = select(fd + 1, what == 1 ? &set : nullptr, what == 2 ? &set : nullptr, nullptr, &tv);
        if (r > 0) return QX_SER_OK;
        if (r == 0) return QX_SER_TIMEOUT;
        // A timer signal interrupts select: wait for the time left.
        if (errno != EINTR) return QX_SER_SELECT;
    }
}

int qxSerialBytesWaiting(qxSerialDevice *d, uint32_t *count)
{
    *count = 0;
    if (!d->open) return QX_SER_CLOSED;
    qxSerialWait(d, 1, 0);
    int n = 0;
    if (ioctl(d->io->fd, FIONREAD, &n) != 0) return QX_SER_IOCTL;
    *count = n > 0 ? static_cast<uint32_t>(n) : 0;
    return QX_SER_OK;
}

void qxSerialClearInput(qxSerialDevice *d)
{
    uint32_t n = 0;
    if (!d->open || qxSerialBytesWaiting(d, &n) != 0 || n == 0) return;
    if (qxSerialWait(d, 1, 0) != 0) return;
    std::vector<char> scratch(n);
    ssize_t ignored = read(d->io->fd, scratch.data(), n);
    (void)ignored;
}

int qxSerialFlush(qxSerialDevice *d)
{
    if (!d->open) return QX_SER_CLOSED;
    return tcflush(d->io->fd, TCIOFLUSH) == 0 ? QX_SER_OK : QX_SER_FLUSH;
}

int qxSerialRead(qxSerialDevice *d, void *buffer, size_t length, size_t *count)
{
    *count = 0;
    if (!d->open) return QX_SER_CLOSED;
    ssize_t n;
    do n = read(d->io->fd, buffer, length);
    while (n < 0 && errno == EINTR);
    if (n < 0) return QX_SER_READ;
    *count = static_cast<size_t>(n);
    return QX_SER_OK;
}

int qxSerialReadTimeout(qxSerialDevice *d, void *buffer, size_t length, size_t *count, uint32_t ms)
{
    *count = 0;
    if (int r = qxSerialWait(d, 1, ms)) return r;
    int r = qxSerialRead(d, buffer, length, count);
    // Readable yet nothing to read: the other end hung up.
    if (r == QX_SER_OK && *count == 0 && length > 0) return QX_SER_READ;
    return r;
}

int qxSerialWrite(qxSerialDevice *d, const void *buffer, size_t length, size_t *count)
{
    *count = 0;
    if (!d->open) return QX_SER_CLOSED;
    ssize_t n;
    do n = write(d->io->fd, buffer, length);
    while (n < 0 && errno == EINTR);
    if (n < 0) return QX_SER_WRITE;
    *count = static_cast<size_t>(n);
    return QX_SER_OK;
}

int qxSerialWriteTimeout(qxSerialDevice *d, const void *buffer, size_t length, size_t *count, uint32_t ms)
{
    *count = 0;
    if (int r = qxSerialWait(d, 2, ms)) return r;
    return qxSerialWrite(d, buffer, length, count);
}

} // extern "C"
