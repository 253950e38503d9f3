// The "serial" command library: serial ports as numbered objects.
#include <algorithm>
#include <cstring>
#include <string>

#include "core/commands/qx_args.h"
#include "core/commands/qx_commands.h"
#include "core/errors/qx_errors.h"
#include "core/commands/qx_objreg.h"
#include "core/vm/lauxlib.h"
#include "core/vm/ldo.h"
#include "net/qx_netlibs.h"
#include "net/qx_netpoll.h"
#include "net/qx_serialdev.h"
#include "platform/qx_memory.h"

namespace {

constexpr uint32_t QX_TYPE_SERIAL = 60;
// Longest single wait of an untimed transfer, so that events and quit get through.
constexpr uint32_t kSliceMs = 10;

struct qxSerialPort {
    qxObjectHeader header;
    qxSerialDevice *device;
};

qxSerialPort *ports = nullptr;
bool registered = false;

void unlinkPort(qxSerialPort *p)
{
    qxObjectHeader **link = reinterpret_cast<qxObjectHeader **>(&ports);
    while (*link && *link != &p->header) link = &(*link)->next;
    if (*link) *link = p->header.next;
}

void freePort(lua_State *L, qxSerialPort *p)
{
    qxSerialFree(p->device);
    if (L) qxFreeRefList(L, &p->header.data);
    qxFree(p);
}

qxSerialPort *findPort(qxObjectRef ref)
{
    for (qxObjectHeader *h = reinterpret_cast<qxObjectHeader *>(ports); h; h = h->next)
        if (ref.automatic ? h->automatic == ref.automatic : (!h->automatic && h->id == ref.number))
            return reinterpret_cast<qxSerialPort *>(h);
    return nullptr;
}

// The port of argument idx: 0, or its find error for the command to return.
int portArg(lua_State *L, int idx, qxSerialPort **out)
{
    qxObjectRef ref = qxGetObjectIDArg(L, idx);
    if ((*out = findPort(ref))) return 0;
    if (ref.automatic) return ERR_FINDARRAY;
    qxSetErrorNumber(static_cast<int>(ref.number));
    return ERR_FINDSERIAL;
}

int deviceArg(lua_State *L, int idx, qxSerialDevice **out)
{
    qxSerialPort *p = nullptr;
    if (int r = portArg(L, idx, &p)) return r;
    *out = p->device;
    return 0;
}

// Waits for readiness in short slices, polling events; 0 ready, else an
// error code (1003 on quit, 1622 for the device).
int waitReady(lua_State *L, qxSerialDevice *d, int what)
{
    for (;;) {
        int error = 0;
        if (qxNetPoll(L, &error)) return error;
        int r = qxSerialWait(d, what, kSliceMs);
        if (r == QX_SER_OK) return 0;
        if (r != QX_SER_TIMEOUT) return ERR_SERIALIO;
    }
}

int openSerialPort(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 8, 0);
    int automatic = 0;
    uint32_t number = qxGetNewIDArg(L, 1, &automatic);
    std::string path = luaL_checkstring(L, 2);
    int baud = 3, data = 3, parity = 0, stop = 0, flow = 0, dtr = 0, rts = 0;
    if (lua_gettop(L) >= 3 && !lua_isnil(L, 3)) {
        luaL_checktable(L, 3);
        qxGetFieldInt(L, 3, "baudrate", &baud, nullptr);
        qxGetFieldInt(L, 3, "databits", &data, nullptr);
        qxGetFieldInt(L, 3, "parity", &parity, nullptr);
        qxGetFieldInt(L, 3, "stopbits", &stop, nullptr);
        qxGetFieldInt(L, 3, "flowcontrol", &flow, nullptr);
        qxGetFieldInt(L, 3, "dtr", &dtr, nullptr);
        qxGetFieldInt(L, 3, "rts", &rts, nullptr);
    }
    if (!automatic)
        if (qxSerialPort *old = findPort({number, nullptr})) {
            unlinkPort(old);
            freePort(L, old);
        }
    qxSerialDevice *d = qxSerialCreate();
    if (!d) return ERR_INITSERIAL;
    d->baud = static_cast<uint32_t>(baud);
    d->dataBits = static_cast<uint32_t>(data);
    d->parity = static_cast<uint32_t>(parity);
    d->stopBits = static_cast<uint32_t>(stop);
    d->flow = static_cast<uint32_t>(flow);
    d->dtr = static_cast<uint32_t>(dtr);
    d->rts = static_cast<uint32_t>(rts);
    if (qxSerialSetPath(d, path.c_str()) != 0) {
        qxSerialFree(d);
        return ERR_MEM;
    }
    int refused = 0;
    if (qxSerialOpen(d, &refused) != 0) {
        qxSerialFree(d);
        if (refused) return ERR_WRONGUSAGE;
        qxSetErrorString(path.c_str());
        return ERR_OPENSERIAL;
    }
    auto *p = static_cast<qxSerialPort *>(qxAlloc(sizeof(qxSerialPort), 1));
    if (!p) {
        qxSerialFree(d);
        return ERR_MEM;
    }
    p->header.type = QX_TYPE_SERIAL;
    p->header.id = automatic ? 0 : number;
    p->header.automatic = automatic ? p : nullptr;
    p->device = d;
    qxObjectHeader **tail = reinterpret_cast<qxObjectHeader **>(&ports);
    while (*tail) tail = &(*tail)->next;
    *tail = &p->header;
    if (!automatic) return 0;
    lua_pushlightuserdata(L, p);
    return 1;
}

int closeSerialPort(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxSerialPort *p = nullptr;
    if (int r = portArg(L, 1, &p)) return r;
    unlinkPort(p);
    freePort(L, p);
    return 0;
}

int readSerialData(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    qxSerialDevice *d = nullptr;
    if (int r = deviceArg(L, 1, &d)) return r;
    double count = luaL_checknumber(L, 2);
    double timeout = std::min(luaL_optnumber(L, 3, 0), 4e9);
    if (!(count >= 1)) return ERR_WRONGUSAGE;
    if (count > 1 << 30) return ERR_MEM;
    std::string buffer;
    try {
        buffer.resize(static_cast<size_t>(count));
    } catch (...) {
        return ERR_MEM;
    }
    size_t got = 0;
    int r;
    if (timeout > 0) {
        r = qxSerialReadTimeout(d, buffer.data(), buffer.size(), &got, static_cast<uint32_t>(timeout));
    } else {
        if (int w = waitReady(L, d, 1)) return w;
        r = qxSerialRead(d, buffer.data(), buffer.size(), &got);
        if (r == QX_SER_OK && got == 0) r = QX_SER_READ;
    }
    if (r != QX_SER_OK && r != QX_SER_TIMEOUT) return ERR_SERIALIO;
    lua_pushlstring(L, buffer.data(), got);
    lua_pushnumber(L, static_cast<double>(got));
    lua_pushnumber(L, r == QX_SER_TIMEOUT ? 1 : 0);
    return 3;
}

int writeSerialData(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    qxSerialDevice *d = nullptr;
    if (int r = deviceArg(L, 1, &d)) return r;
    size_t length = 0;
    const char *data = luaL_checklstring(L, 2, &length);
    double timeout = std::min(luaL_optnumber(L, 3, 0), 4e9);
    if (length == 0) return ERR_WRONGUSAGE;
    size_t sent = 0;
    int r;
    if (timeout > 0) {
        r = qxSerialWriteTimeout(d, data, length, &sent, static_cast<uint32_t>(timeout));
    } else {
        if (int w = waitReady(L, d, 2)) return w;
        r = qxSerialWrite(d, data, length, &sent);
    }
    if (r != QX_SER_OK && r != QX_SER_TIMEOUT) return ERR_SERIALIO;
    lua_pushnumber(L, static_cast<double>(sent));
    lua_pushnumber(L, r == QX_SER_TIMEOUT ? 1 : 0);
    return 2;
}

int pollSerialQueue(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    uint32_t n = 0;
    qxSerialDevice *d = nullptr;
    if (int r = deviceArg(L, 1, &d)) return r;
    if (qxSerialBytesWaiting(d, &n) != 0) return ERR_SERIALIO;
    lua_pushnumber(L, n);
    return 1;
}

int clearSerialQueue(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxSerialDevice *d = nullptr;
    if (int r = deviceArg(L, 1, &d)) return r;
    qxSerialClearInput(d);
    return 0;
}

int flushSerialPort(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxSerialDevice *d = nullptr;
    if (int r = deviceArg(L, 1, &d)) return r;
    qxSerialFlush(d);
    return 0;
}

template <int (*Set)(qxSerialDevice *, uint32_t)>
int setter(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxSerialDevice *d = nullptr;
    if (int r = deviceArg(L, 1, &d)) return r;
    double code = luaL_checknumber(L, 2);
    if (code < 0 || code > 0xFFFF) return ERR_WRONGUSAGE;
    return Set(d, static_cast<uint32_t>(code)) == QX_SER_OK ? 0 : ERR_WRONGUSAGE;
}

template <uint32_t qxSerialDevice::*Field>
int getter(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxSerialDevice *d = nullptr;
    if (int r = deviceArg(L, 1, &d)) return r;
    lua_pushnumber(L, d->*Field);
    return 1;
}

constexpr qxCommandDef serialCommands[] = {
    {"OpenSerialPort", openSerialPort},
    {"CloseSerialPort", closeSerialPort},
    {"ReadSerialData", readSerialData},
    {"WriteSerialData", writeSerialData},
    {"PollSerialQueue", pollSerialQueue},
    {"ClearSerialQueue", clearSerialQueue},
    {"FlushSerialPort", flushSerialPort},
    {"SetBaudRate", setter<qxSerialSetBaud>},
    {"SetDataBits", setter<qxSerialSetDataBits>},
    {"SetParity", setter<qxSerialSetParity>},
    {"SetStopBits", setter<qxSerialSetStopBits>},
    {"SetFlowControl", setter<qxSerialSetFlow>},
    {"SetDTR", setter<qxSerialSetDTR>},
    {"SetRTS", setter<qxSerialSetRTS>},
    {"GetBaudRate", getter<&qxSerialDevice::baud>},
    {"GetDataBits", getter<&qxSerialDevice::dataBits>},
    {"GetParity", getter<&qxSerialDevice::parity>},
    {"GetStopBits", getter<&qxSerialDevice::stopBits>},
    {"GetFlowControl", getter<&qxSerialDevice::flow>},
    {"GetDTR", getter<&qxSerialDevice::dtr>},
    {"GetRTS", getter<&qxSerialDevice::rts>},
    {nullptr, nullptr},
};

constexpr qxConstantDef serialConstants[] = {
    {"BAUD_300", nullptr, 0},    {"BAUD_2400", nullptr, 1},     {"BAUD_4800", nullptr, 2},
    {"BAUD_9600", nullptr, 3},   {"BAUD_19200", nullptr, 4},    {"BAUD_38400", nullptr, 5},
    {"BAUD_57600", nullptr, 6},  {"BAUD_115200", nullptr, 7},   {"BAUD_460800", nullptr, 8},
    {"DATA_5", nullptr, 0},      {"DATA_6", nullptr, 1},        {"DATA_7", nullptr, 2},
    {"DATA_8", nullptr, 3},      {"PARITY_NONE", nullptr, 0},   {"PARITY_ODD", nullptr, 1},
    {"PARITY_EVEN", nullptr, 2}, {"STOP_1", nullptr, 0},        {"STOP_2", nullptr, 1},
    {"FLOW_OFF", nullptr, 0},    {"FLOW_HARDWARE", nullptr, 1}, {"FLOW_XON_XOFF", nullptr, 2},
    {"DTR_OFF", nullptr, 0},     {"DTR_ON", nullptr, 1},        {"RTS_OFF", nullptr, 0},
    {"RTS_ON", nullptr, 1},      {nullptr, nullptr, 0},
};

} // namespace

extern "C" int qxOpenSerialLib(lua_State *L)
{
    if (!registered && qxRegisterObjectList(&ports, QX_TYPE_SERIAL) == 0) registered = true;
    return qxOpenCommandLibraryOf<serialCommands, serialConstants>(L, "serial");
}

extern "C" void qxFreeSerialPorts(lua_State *L)
{
    while (ports) {
        qxSerialPort *p = ports;
        ports = reinterpret_cast<qxSerialPort *>(p->header.next);
        freePort(L, p);
    }
}
