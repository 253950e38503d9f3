// DownloadFile and UploadFile: one HTTP/1.1 and FTP transfer engine over
// the network connections. Every byte of the peer is checked before use.
#include <cstdio>
#include <cstring>
#include <memory>
#include <netdb.h>
#include <string>
#include <strings.h>
#include <sys/time.h>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/files/qx_file.h"
#include "core/runtime/qx_lists.h"
#include "core/vm/lauxlib.h"
#include "core/vm/ldo.h"
#include "core/codecs/qx_base64.h"
#include "net/qx_httpparse.h"
#include "net/qx_net.h"

namespace {

constexpr size_t kStatusLineMax = 1024;
constexpr size_t kHeaderLineMax = 32768;
constexpr size_t kHeaderTotalMax = 256 * 1024;
constexpr size_t kFtpLineMax = 8192;
constexpr size_t kFtpReplyMax = 64 * 1024;
constexpr int kRedirectBudget = 6;
constexpr const char *kFtpPassword = "zephyrane@example.com";

struct FormPart {
    std::string name, mime, alias, data;
    qxFileHandle *file = nullptr;
    uint64_t size = 0;
};

struct Options {
    bool upload = false;
    int mode = 'i';
    std::string file, adapter, proxy, customHeaders, data, post;
    std::string postType = "application/x-www-form-urlencoded";
    std::string userAgent = "Zephyrane 8.0";
    bool haveFile = false, haveData = false, havePost = false, encoded = false, ssl = false, silent = false;
    bool fail404 = false, redirect = true, namedAdapter = false;
    int protocol = 0;
    std::vector<FormPart> parts;
    qxFileHandle *source = nullptr; // FTP upload file
    uint64_t sourceSize = 0;
};

// Everything a transfer holds, released on every path.
struct Transfer {
    lua_State *L = nullptr;
    Options opt;
    qxNetProgress progress{};
    qxConnection *control = nullptr;
    qxConnection *data = nullptr;
    qxFileHandle *out = nullptr;
    std::string memory;
    uint64_t received = 0;
    ~Transfer()
    {
        qxFreeConnection(data);
        qxFreeConnection(control);
        if (out) qxClose(out);
        if (opt.source) qxClose(opt.source);
        for (FormPart &p : opt.parts)
            if (p.file) qxClose(p.file);
    }
};

int failWith(int code, int number)
{
    qxSetErrorNumber(number);
    return code;
}

bool readFlag(lua_State *L, int t, const char *key, bool *out)
{
    lua_pushstring(L, key);
    lua_gettable(L, t);
    bool present = !lua_isnil(L, -1);
    if (present) *out = lua_isboolean(L, -1) ? lua_toboolean(L, -1) != 0 : lua_tonumber(L, -1) != 0;
    lua_pop(L, 1);
    return present;
}

// A string field of any length; code for another type.
int readString(lua_State *L, int t, const char *key, std::string *out, bool *found, int code)
{
    lua_pushstring(L, key);
    lua_gettable(L, t);
    if (found) *found = false;
    if (lua_isnil(L, -1)) {
        lua_pop(L, 1);
        return 0;
    }
    if (!lua_isstring(L, -1)) {
        lua_pop(L, 1);
        qxSetErrorString(key);
        return code;
    }
    out->assign(lua_tostring(L, -1), lua_strlen(L, -1));
    if (found) *found = true;
    lua_pop(L, 1);
    return 0;
}

int missingField(const char *name)
{
    qxSetErrorString(name);
    return ERR_MISSINGFIELD;
}

int readFormData(lua_State *L, int t, Options &o)
{
    lua_pushstring(L, "formdata");
    lua_gettable(L, t);
    if (lua_isnil(L, -1)) {
        lua_pop(L, 1);
        return 0;
    }
    int form = lua_gettop(L);
    if (!lua_istable(L, form)) {
        qxSetErrorString("formdata");
        return ERR_TABEXPECTED2;
    }
    for (int i = 0;; i++) {
        lua_rawgeti(L, form, i);
        if (lua_isnil(L, -1)) {
            lua_pop(L, 1);
            break;
        }
        if (!lua_istable(L, -1)) {
            qxSetErrorString("formdata");
            return ERR_TABEXPECTED2;
        }
        int e = lua_gettop(L);
        FormPart p;
        std::string file;
        bool hasName, hasFile, hasData, hasMime, hasAlias;
        if (int r = readString(L, e, "name", &p.name, &hasName, ERR_STRINGEXPECTED)) return r;
        if (int r = readString(L, e, "file", &file, &hasFile, ERR_STRINGEXPECTED)) return r;
        if (int r = readString(L, e, "data", &p.data, &hasData, ERR_STRINGEXPECTED)) return r;
        if (int r = readString(L, e, "mimetype", &p.mime, &hasMime, ERR_STRINGEXPECTED)) return r;
        if (int r = readString(L, e, "filealias", &p.alias, &hasAlias, ERR_STRINGEXPECTED)) return r;
        if (!hasName) return missingField("Name");
        if (p.name.empty() || (hasFile && hasData) || (hasMime && p.mime.empty())) return ERR_WRONGUSAGE;
        if (hasFile) {
            p.file = qxOpen(file.c_str(), 1 | QX_OPEN_ADAPTERS, nullptr);
            if (!p.file) {
                qxSetErrorString(file.c_str());
                return ERR_READFILE;
            }
            int64_t size = qxFileSize(p.file);
            if (size < 0) {
                qxClose(p.file);
                return ERR_FILESIZE;
            }
            p.size = static_cast<uint64_t>(size);
            if (!hasMime) p.mime = "application/octet-stream";
            if (!hasAlias) p.alias = qxFilePart(file.c_str());
        } else {
            if (!hasData) return missingField("Data");
            if (p.data.empty()) return ERR_WRONGUSAGE;
            if (hasAlias && !hasMime) return missingField("MIMEType");
            if (hasMime && !hasAlias) return missingField("FileAlias");
            p.size = p.data.size();
        }
        o.parts.push_back(std::move(p));
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
    return o.parts.empty() ? ERR_WRONGUSAGE : 0;
}

int readOptions(lua_State *L, int t, Options &o)
{
    if (!t) return 0;
    double mode = 105;
    qxGetFieldNum(L, t, "transfermode", &mode, nullptr);
    if (mode != 97 && mode != 105) return ERR_WRONGUSAGE;
    o.mode = static_cast<int>(mode);
    if (int r = readString(L, t, "file", &o.file, &o.haveFile, ERR_STRTABLEARG)) return r;
    readFlag(L, t, "encoded", &o.encoded);
    qxGetFieldInt(L, t, "protocol", &o.protocol, nullptr);
    readFlag(L, t, "ssl", &o.ssl);
    bool haveAdapter = false;
    if (int r = readString(L, t, "adapter", &o.adapter, &haveAdapter, ERR_STRTABLEARG)) return r;
    if (o.adapter.size() > 255) o.adapter.resize(255);
    o.namedAdapter = haveAdapter && strcasecmp(o.adapter.c_str(), "inbuilt") != 0 &&
                     strcasecmp(o.adapter.c_str(), "default") != 0;
    if (int r = readString(L, t, "proxy", &o.proxy, nullptr, ERR_STRTABLEARG)) return r;
    readFlag(L, t, "silentfail", &o.silent);
    if (int r = readString(L, t, "customheaders", &o.customHeaders, nullptr, ERR_STRTABLEARG)) return r;
    if (o.upload) {
        if (int r = readString(L, t, "data", &o.data, &o.haveData, ERR_STRTABLEARG)) return r;
        if (int r = readFormData(L, t, o)) return r;
    } else {
        readFlag(L, t, "fail404", &o.fail404);
        readFlag(L, t, "redirect", &o.redirect);
        if (int r = readString(L, t, "post", &o.post, &o.havePost, ERR_STRTABLEARG)) return r;
        if (int r = readString(L, t, "posttype", &o.postType, nullptr, ERR_STRTABLEARG)) return r;
        if (int r = readString(L, t, "useragent", &o.userAgent, nullptr, ERR_STRTABLEARG)) return r;
    }
    return 0;
}

int openFtpSource(Options &o)
{
    if (o.haveData) return o.haveFile || o.data.empty() ? ERR_WRONGUSAGE : 0;
    if (!o.haveFile) return 0;
    o.source = qxOpen(o.file.c_str(), 1 | QX_OPEN_ADAPTERS, nullptr);
    if (!o.source) {
        qxSetErrorString(o.file.c_str());
        return ERR_READFILE;
    }
    int64_t size = qxFileSize(o.source);
    if (size < 0) return ERR_FILESIZE;
    o.sourceSize = static_cast<uint64_t>(size);
    return 0;
}

int openConnection(Transfer &t, const qxUrlParts &u, const std::string &host, int port, qxConnection **c)
{
    std::string target = host;
    int tlsFlag = 0;
    if (u.tls) {
        target = (u.kind == QX_URL_HTTP ? std::string("https://") : u.scheme) + host + "/";
        tlsFlag = u.kind == QX_URL_FTP && t.opt.ssl && !strncasecmp(u.scheme.c_str(), "ftp://", 6);
    }
    return qxNetOpenConnection(t.L, target.c_str(), port, t.opt.protocol, t.opt.adapter.empty() ? nullptr : t.opt.adapter.c_str(),
                               tlsFlag, c);
}

// One line of at most max bytes into line; code and number for an over-long one.
int readLine(lua_State *L, qxConnection *c, size_t max, std::string &line, int code, int number)
{
    line.clear();
    qxNetSink sink{};
    sink.memory = &line;
    uint64_t got = 0;
    int done = 0;
    qxNetProgress *saved = c->progress;
    c->progress = nullptr;
    int r = qxNetReceive(L, c, QX_RECEIVELINE, 0, 1, max, &sink, &got, &done);
    c->progress = saved;
    if (r == QX_NET_LINETOOLONG) return failWith(code, number);
    if (r == ERR_RECVCLOSED && got > 0) return 0;
    return r;
}

int ftpCommand(Transfer &t, const std::string &line, int *code, std::string &reply)
{
    if (int r = qxNetSendChecked(t.L, t.control, line.data(), line.size())) return r;
    return qxFtpReadReply(t.L, t.control, code, reply);
}

bool is2xx(int code)
{
    return code >= 200 && code < 300;
}

// Where a file download's bytes go, or memory.
int openDestination(Transfer &t)
{
    if (t.opt.upload || !t.opt.haveFile) return 0;
    t.out = qxOpen(t.opt.file.c_str(), 2, nullptr);
    if (t.out) return 0;
    qxSetErrorString(t.opt.file.c_str());
    return ERR_WRITEFILE;
}

// count bytes (or all until the peer closes) into sink.
int readBytes(lua_State *L, qxConnection *c, uint64_t count, bool untilClose, qxNetSink *sink,
              uint64_t *received, const qxNetProgress *progress)
{
    uint64_t got = 0;
    int done = 0;
    int r = qxNetReceive(L, c, untilClose ? QX_RECEIVEALL : QX_RECEIVEBYTES, count, 1, 0, sink, &got, &done);
    *received += got;
    if (progress && progress->stopped) return 0;
    if (untilClose && r == ERR_RECVCLOSED) return 0;
    return r;
}

qxNetSink bodySink(Transfer &t)
{
    qxNetSink sink{};
    if (t.out) sink.file = t.out;
    else sink.memory = &t.memory;
    return sink;
}

int receiveBytes(Transfer &t, qxConnection *c, uint64_t count, bool untilClose)
{
    qxNetSink sink = bodySink(t);
    return readBytes(t.L, c, count, untilClose, &sink, &t.received, &t.progress);
}

int ftpTransfer(Transfer &t, const qxUrlParts &u)
{
    std::string user = u.hasUser ? u.user : "anonymous";
    std::string pass = u.hasUser ? u.password : kFtpPassword;
    std::string path;
    if (int r = qxUrlDecodeLine(u.path, path)) return r;
    int code = 0;
    std::string reply;
    if (int r = qxFtpReadReply(t.L, t.control, &code, reply)) return r;
    if (code >= 100 && code < 200)
        if (int r = qxFtpReadReply(t.L, t.control, &code, reply)) return r;
    if (!is2xx(code)) return failWith(ERR_FTPERROR, 0);
    if (int r = ftpCommand(t, "user " + user + "\r\n", &code, reply)) return r;
    if (code == 331) {
        if (int r = ftpCommand(t, "pass " + pass + "\r\n", &code, reply)) return r;
        if (code == 530) return ERR_FTPAUTH;
    }
    if (!is2xx(code)) return failWith(ERR_FTPERROR, 0);
    if (int r = ftpCommand(t, "pasv\r\n", &code, reply)) return r;
    if (!is2xx(code)) return failWith(ERR_FTPERROR, 0);
    int dataPort = 0;
    if (!qxFtpParsePasv(reply, &dataPort)) return failWith(ERR_FTPERROR, 2);
    // The data connection goes to the server we talk to: the address in the
    // reply could aim this player at any host.
    std::string dataHost = u.host;
    if (!t.control->adapter) {
        auto *s = static_cast<qxSocket *>(t.control->handle);
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        char text[NI_MAXHOST];
        if (getpeername(s->fd, reinterpret_cast<sockaddr *>(&peer), &length) == 0 &&
            getnameinfo(reinterpret_cast<sockaddr *>(&peer), length, text, sizeof text, nullptr, 0, NI_NUMERICHOST) == 0)
            dataHost = text;
    }
    if (int r = openConnection(t, u, dataHost, dataPort, &t.data)) return r;
    int letter = u.typeLetter ? u.typeLetter : t.opt.mode;
    if (int r = ftpCommand(t, std::string("type ") + static_cast<char>(letter) + "\r\n", &code, reply)) return r;
    if (code != 200) return failWith(ERR_FTPERROR, 0);
    uint64_t size = 0;
    bool haveSize = false;
    if (!t.opt.upload) {
        if (int r = ftpCommand(t, "size " + path + "\r\n", &code, reply)) return r;
        if (code == 213) haveSize = qxFtpParseSize(reply, &size);
    }
    if (int r = ftpCommand(t, std::string(t.opt.upload ? "stor " : "retr ") + path + "\r\n", &code, reply)) return r;
    if (code == 550) {
        qxSetErrorString(path.c_str());
        return t.opt.upload ? ERR_UPLOADFORBIDDEN : ERR_FILENOTFOUND;
    }
    if (code < 100 || code >= 300) return failWith(ERR_FTPERROR, 0);
    if (code == 150 && !t.opt.upload && !haveSize) haveSize = qxFtpParseBytes(reply, &size);
    t.progress.total = haveSize ? size : 0;
    t.progress.action = 0;
    t.data->progress = &t.progress;
    if (t.opt.upload) {
        if (t.opt.source) {
            std::vector<uint8_t> piece(QX_SOCK_BUFSIZE);
            uint64_t left = t.opt.sourceSize;
            t.progress.total = left;
            while (left > 0 && !t.progress.stopped) {
                int64_t n = qxRead(t.opt.source, piece.data(), static_cast<int64_t>(std::min<uint64_t>(left, piece.size())));
                if (n <= 0) return ERR_SENDDATA;
                if (int r = qxNetSendChecked(t.L, t.data, piece.data(), static_cast<size_t>(n))) return r;
                left -= static_cast<uint64_t>(n);
            }
        } else {
            t.progress.total = t.opt.data.size();
            if (int r = qxNetSendChecked(t.L, t.data, t.opt.data.data(), t.opt.data.size())) return r;
        }
    } else {
        if (int r = openDestination(t)) return r;
        if (int r = receiveBytes(t, t.data, 0, true)) return r;
    }
    qxFreeConnection(t.data);
    t.data = nullptr;
    if (code < 200 && !t.progress.stopped) {
        if (int r = qxFtpReadReply(t.L, t.control, &code, reply)) return r;
        if (!is2xx(code)) return failWith(ERR_FTPERROR, 0);
    }
    size_t sent = 0;
    int error = 0;
    qxNetSendAll(t.L, t.control, "quit\r\n", 6, &sent, &error);
    return 0;
}

std::string basic(const std::string &user, const std::string &password)
{
    std::string plain = user + ":" + password;
    std::string encoded(4 * ((plain.size() + 2) / 3), '\0');
    qxBase64Encode(nullptr, nullptr, encoded.data(), plain.data(), plain.size(), nullptr, 1);
    return encoded;
}

std::string boundaryText()
{
    timeval tv{};
    gettimeofday(&tv, nullptr);
    char text[64];
    std::snprintf(text, sizeof text, "-----------Zephyrane%.8x%.8x", static_cast<unsigned>(tv.tv_sec),
                  static_cast<unsigned>(tv.tv_usec));
    return text;
}

std::string partHeader(const std::string &boundary, const FormPart &p)
{
    std::string h = boundary + "\r\nContent-Disposition: form-data; name=\"" + p.name + "\"";
    if (!p.mime.empty()) h += "; filename=\"" + p.alias + "\"\r\nContent-Type: " + p.mime + "\r\n";
    else h += "\r\n";
    return h + "\r\n";
}

int sendParts(Transfer &t, const std::string &boundary)
{
    for (FormPart &p : t.opt.parts) {
        std::string head = partHeader(boundary, p);
        if (int r = qxNetSendChecked(t.L, t.control, head.data(), head.size())) return r;
        if (p.file) {
            std::vector<uint8_t> piece(QX_SOCK_BUFSIZE);
            uint64_t left = p.size;
            while (left > 0) {
                int64_t n = qxRead(p.file, piece.data(), static_cast<int64_t>(std::min<uint64_t>(left, piece.size())));
                if (n <= 0) return ERR_SENDDATA;
                if (int r = qxNetSendChecked(t.L, t.control, piece.data(), static_cast<size_t>(n))) return r;
                left -= static_cast<uint64_t>(n);
            }
        } else if (int r = qxNetSendChecked(t.L, t.control, p.data.data(), p.data.size())) {
            return r;
        }
        if (int r = qxNetSendChecked(t.L, t.control, "\r\n", 2)) return r;
        if (t.progress.stopped) return 0;
    }
    std::string tail = boundary + "--\r\n";
    return qxNetSendChecked(t.L, t.control, tail.data(), tail.size());
}

int httpTransfer(Transfer &t, std::string url)
{
    int budget = kRedirectBudget;
    for (;;) {
        qxUrlParts u;
        if (int r = qxUrlParse(url, t.opt.ssl, u)) return r;
        if (u.tls && !t.opt.namedAdapter) return ERR_UNKPROTOCOL;
        if (u.kind == QX_URL_FTP) {
            // A redirect may lead to an FTP server.
            if (!t.opt.proxy.empty()) return ERR_WRONGUSAGE;
            if (int r = openConnection(t, u, u.host, u.port, &t.control)) return r;
            return ftpTransfer(t, u);
        }
        qxUrlParts via = u;
        std::string target = u.path;
        if (!t.opt.proxy.empty()) {
            if (strncasecmp(t.opt.proxy.c_str(), "http://", 7) != 0) return ERR_WRONGUSAGE;
            if (int r = qxUrlParse(t.opt.proxy, false, via)) return r;
            target = url;
        }
        if (int r = openConnection(t, u, via.host, via.port, &t.control)) return r;
        std::string host = u.host;
        if (u.port != (u.tls ? 443 : 80)) host += ":" + std::to_string(u.port);
        std::string boundary = t.opt.upload ? boundaryText() : std::string();
        uint64_t contentLength = 0;
        if (t.opt.upload) {
            for (const FormPart &p : t.opt.parts) contentLength += partHeader(boundary, p).size() + p.size + 2;
            contentLength += boundary.size() + 4;
        }
        std::string req = std::string(t.opt.upload ? "POST" : (t.opt.havePost ? "POST" : "GET")) + " " + target +
                          " HTTP/1.1\r\nTE: trailers\r\nConnection: close, TE\r\nHost: " + host +
                          "\r\nUser-Agent: " + t.opt.userAgent + "\r\n";
        if (u.hasUser) req += "Authorization: Basic " + basic(u.user, u.password) + "\r\n";
        if (!t.opt.proxy.empty() && via.hasUser)
            req += "Proxy-Authorization: Basic " + basic(via.user, via.password) + "\r\n";
        if (t.opt.upload)
            req += "Content-Type: multipart/form-data; boundary=" + boundary.substr(2) +
                   "\r\nContent-Length: " + std::to_string(contentLength) + "\r\n";
        req += t.opt.customHeaders + "\r\n";
        if (int r = qxNetSendChecked(t.L, t.control, req.data(), req.size())) return r;
        if (t.opt.upload) {
            t.progress.action = 0;
            t.progress.total = contentLength;
            t.control->progress = &t.progress;
            int r = sendParts(t, boundary);
            t.control->progress = nullptr;
            if (r) return r;
            if (t.progress.stopped) return 0;
        }
        qxHttpResponse res;
        std::string path;
        qxUrlDecodeLine(u.path, path);
        if (int r = qxHttpReadHeaders(t.L, t.control, res, u.hasUser, t.opt.fail404, path)) return r;
        if (!res.location.empty() && (res.status == 301 || res.status == 302) && t.opt.redirect && budget > 1) {
            budget--;
            url = qxUrlJoin(url, res.location);
            qxFreeConnection(t.control);
            t.control = nullptr;
            continue;
        }
        if (res.status == 304 || (res.status >= 100 && res.status < 200)) return failWith(ERR_HTTPERROR, res.status);
        if (int r = openDestination(t)) return r;
        if (res.status == 204) return 0;
        t.progress.action = t.opt.upload ? 1 : 0;
        t.progress.done = 0;
        t.progress.total = res.chunked ? 0 : res.haveLength ? res.length : 16384;
        t.control->progress = &t.progress;
        qxNetSink sink = bodySink(t);
        return qxHttpReadBody(t.L, t.control, res, &sink, &t.received, &t.progress);
    }
}

int transfer(lua_State *L, bool upload, Transfer &t)
{
    t.L = L;
    t.opt.upload = upload;
    qxCheckArgCount(L, upload ? 2 : 1, 4, 0, 0);
    size_t urlLength = 0;
    const char *url = luaL_checklstring(L, 1, &urlLength);
    int table = 0;
    if (upload) {
        luaL_checktable(L, 2);
        table = 2;
    } else if (lua_gettop(L) >= 2 && !lua_isnil(L, 2)) {
        luaL_checktable(L, 2);
        table = 2;
    }
    if (table) readFlag(L, table, "silentfail", &t.opt.silent);
    if (int r = qxNetInitSockets()) return r;
    if (int r = readOptions(L, table, t.opt)) return r;
    if (lua_gettop(L) >= 3 && !lua_isnil(L, 3)) {
        if (!lua_isfunction(L, 3)) return ERR_NOFUNCTION;
        t.progress.function = 3;
        if (lua_gettop(L) >= 4) t.progress.userdata = 4;
    }
    std::string escaped;
    if (int r = qxUrlEscape(std::string_view(url, urlLength), t.opt.encoded, escaped)) return r;
    qxUrlParts u;
    if (int r = qxUrlParse(escaped, t.opt.ssl, u)) return r;
    if (u.tls && !t.opt.namedAdapter) return ERR_UNKPROTOCOL;
    if (!t.opt.proxy.empty() && u.kind != QX_URL_HTTP) return ERR_WRONGUSAGE;
    if (u.kind == QX_URL_HTTP) {
        // Request bodies of downloads and upload data are refused for HTTP.
        if (t.opt.havePost || t.opt.haveData) return ERR_WRONGUSAGE;
        if (upload && t.opt.parts.empty()) return missingField("FormData");
        return httpTransfer(t, escaped);
    }
    if (upload)
        if (int r = openFtpSource(t.opt)) return r;
    if (upload && !t.opt.source && !t.opt.haveData) return ERR_WRONGUSAGE;
    if (int r = openConnection(t, u, u.host, u.port, &t.control)) return r;
    return ftpTransfer(t, u);
}

int command(lua_State *L, bool upload)
{
    auto t = std::make_unique<Transfer>();
    int r = transfer(L, upload, *t);
    if (r == 0 && t->out) {
        int closed = qxClose(t->out);
        t->out = nullptr;
        if (!closed) r = ERR_CLOSEFILE;
    }
    if (r != 0) {
        if (!t->opt.silent) return r;
        char message[2048];
        qxFormatErrorCode(r, message, sizeof message);
        lua_pushstring(L, message);
        lua_pushnumber(L, -1);
        return 2;
    }
    bool ftpUpload = upload && t->opt.parts.empty();
    if (ftpUpload) return 0;
    lua_pushlstring(L, t->memory.data(), t->memory.size());
    lua_pushnumber(L, static_cast<double>(t->received));
    return 2;
}

} // namespace

// Reads an FTP reply; *code gets its number, last its final line.
int qxFtpReadReply(lua_State *L, qxConnection *c, int *code, std::string &last)
{
    size_t total = 0;
    if (int r = readLine(L, c, kFtpLineMax, last, ERR_FTPERROR, 1)) return r;
    *code = qxFtpReplyCode(last);
    if (*code < 0) return failWith(ERR_FTPERROR, 1);
    char lead[12]; // room for any int: the code is three digits, the compiler cannot know it
    std::snprintf(lead, sizeof lead, "%03d", *code);
    while (last.size() >= 4 && last[3] == '-') {
        if (int r = readLine(L, c, kFtpLineMax, last, ERR_FTPERROR, 1)) return r;
        total += last.size();
        if (total > kFtpReplyMax || last.compare(0, 3, lead) != 0) return failWith(ERR_FTPERROR, 1);
        // A continuation with the code and a space ends the reply.
        if (last.size() >= 4 && last[3] == ' ') break;
        if (last.size() == 3) break;
    }
    return 0;
}

int qxHttpReadHeaders(lua_State *L, qxConnection *c, qxHttpResponse &res, bool hasUser, bool fail404,
                      const std::string &path)
{
    std::string line;
    size_t total = 0;
    for (;;) {
        if (int r = readLine(L, c, kStatusLineMax, line, ERR_HTTPERROR, 1001)) return r;
        if (int detail = qxHttpParseStatus(line, &res.status)) return failWith(ERR_HTTPERROR, detail);
        if (res.status != 100) break;
        // The interim answer's headers are skipped.
        do {
            if (int r = readLine(L, c, kHeaderLineMax, line, ERR_HTTPERROR, 1004)) return r;
            if ((total += line.size() + 2) > kHeaderTotalMax) return failWith(ERR_HTTPERROR, 1004);
        } while (!line.empty());
    }
    if (res.status == 401 && !hasUser) return ERR_REQAUTH;
    if (res.status == 404 && fail404) {
        qxSetErrorString(path.c_str());
        return ERR_FILENOTFOUND;
    }
    for (;;) {
        if (int r = readLine(L, c, kHeaderLineMax, line, ERR_HTTPERROR, 1004)) return r;
        if ((total += line.size() + 2) > kHeaderTotalMax) return failWith(ERR_HTTPERROR, 1004);
        if (line.empty()) break;
        std::string_view value;
        if (qxHttpHeaderValue(line, "content-length: ", &value)) {
            if (!qxParseDecimal(value, &res.length)) return failWith(ERR_HTTPERROR, 1004);
            res.haveLength = true;
        } else if (qxHttpHeaderValue(line, "transfer-encoding: ", &value)) {
            if (strncasecmp(value.data(), "chunked", value.size()) == 0 && value.size() == 7) res.chunked = true;
            else if (!(value.size() == 8 && strncasecmp(value.data(), "identity", 8) == 0)) return ERR_HTTPTE;
        } else if (qxHttpHeaderValue(line, "location: ", &value)) {
            res.location.assign(value);
        }
    }
    return 0;
}

int qxHttpReadBody(lua_State *L, qxConnection *c, const qxHttpResponse &res, qxNetSink *sink,
                   uint64_t *received, const qxNetProgress *progress)
{
    if (res.haveLength && !res.chunked)
        return res.length ? readBytes(L, c, res.length, false, sink, received, progress) : 0;
    if (!res.chunked) return readBytes(L, c, 0, true, sink, received, progress);
    std::string line;
    for (;;) {
        if (int r = readLine(L, c, kStatusLineMax, line, ERR_HTTPERROR, 3000)) return r;
        uint64_t size = 0;
        if (!qxHttpParseChunkSize(line, &size)) return failWith(ERR_HTTPERROR, 3000);
        if (size == 0) return 0;
        if (int r = readBytes(L, c, size, false, sink, received, progress)) return r;
        if (progress && progress->stopped) return 0;
        std::string crlf;
        if (int r = readLine(L, c, 2, crlf, ERR_HTTPERROR, 3000)) return r;
        if (!crlf.empty()) return failWith(ERR_HTTPERROR, 3000);
    }
}

extern "C" int qxCmdDownloadFile(lua_State *L)
{
    return command(L, false);
}

extern "C" int qxCmdUploadFile(lua_State *L)
{
    return command(L, true);
}
