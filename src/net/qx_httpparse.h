// Parsers of the HTTP and FTP client: URL escaping, splitting and joining,
// status lines, header values, chunk sizes and FTP replies. Each reads
// outside input and bounds every number it takes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

enum : int { QX_URL_HTTP = 0, QX_URL_FTP = 1 };

struct qxUrlParts {
    int kind = QX_URL_HTTP;
    int tls = 0;
    std::string scheme;    // "http://", "https://", "ftp://" or "ftps://" as written
    std::string authority; // user information, host and port as written
    std::string host;
    int port = 0;
    std::string path;      // from the first "/" after the authority, still escaped
    std::string user;      // decoded
    std::string password;  // decoded
    bool hasUser = false;
    int typeLetter = 0;    // FTP ";type=" letter, or 0
};

// Percent-escapes a URL, or (encoded) undoes needless escapes. 0 or 1055.
int qxUrlEscape(std::string_view url, bool encoded, std::string &out);
// Splits an escaped URL; ssl turns TLS on for http. 0, 1416 or 1417.
int qxUrlParse(std::string_view url, bool ssl, qxUrlParts &out);
// Percent-decodes text for a protocol line; 1417 when it holds CR, LF or NUL.
int qxUrlDecodeLine(std::string_view text, std::string &out);
// The URL a redirect's location names, resolved against the current URL.
std::string qxUrlJoin(std::string_view base, std::string_view location);

// An HTTP status line: 0 with *status, else the detail number of 1418
// (1001 no "HTTP/", 1002 no version, 1003 no space).
int qxHttpParseStatus(std::string_view line, int *status);
// A decimal length of at most 18 digits, spaces around it allowed.
bool qxParseDecimal(std::string_view text, uint64_t *value);
// A chunk-size line: hexadecimal, at most 15 digits, extensions after ";".
bool qxHttpParseChunkSize(std::string_view line, uint64_t *size);
// When name (lower case, with ": ") starts the header line, the value after
// the colon and its spaces.
bool qxHttpHeaderValue(std::string_view line, std::string_view name, std::string_view *value);

// The code at the start of an FTP reply line, -1 when it has none.
int qxFtpReplyCode(std::string_view line);
// The data port of a PASV reply: six numbers 0-255. False when malformed.
bool qxFtpParsePasv(std::string_view reply, int *port);
// The size after a 213 code.
bool qxFtpParseSize(std::string_view reply, uint64_t *size);
// The size of a "(N bytes)" 150 reply, searched from the end.
bool qxFtpParseBytes(std::string_view reply, uint64_t *size);

struct lua_State;
struct qxConnection;
struct qxNetSink;
struct qxNetProgress;
// What the headers of an HTTP answer say about its body.
struct qxHttpResponse {
    int status = 0;
    bool chunked = false;
    bool haveLength = false;
    uint64_t length = 0;
    std::string location;
};
// The readers of the HTTP and FTP client on c, 0 or the client's error
// code: the status line and headers of an answer (401 without a user gives
// 1572, 404 with fail404 gives 1425 with the path); the body they announce
// into sink (stopped early when progress is stopped); one FTP reply, its
// code and final line.
int qxHttpReadHeaders(lua_State *L, qxConnection *c, qxHttpResponse &res, bool hasUser, bool fail404,
                      const std::string &path);
int qxHttpReadBody(lua_State *L, qxConnection *c, const qxHttpResponse &res, qxNetSink *sink,
                   uint64_t *received, const qxNetProgress *progress);
int qxFtpReadReply(lua_State *L, qxConnection *c, int *code, std::string &last);
