// Parsers of the HTTP and FTP client.
#include "net/qx_httpparse.h"

#include <cstring>
#include <strings.h>

#include "core/errors/qx_errors.h"

namespace {

bool needsEscape(unsigned char c)
{
    return c < 33 || c > 122 || std::strchr("\"<>%\\^[]`+$,", c) != nullptr;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool startsNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

int qxUrlEscape(std::string_view url, bool encoded, std::string &out)
{
    static const char *digits = "0123456789abcdef";
    out.clear();
    out.reserve(url.size() * 3 + 1);
    for (size_t i = 0; i < url.size(); i++) {
        auto c = static_cast<unsigned char>(url[i]);
        if (!encoded) {
            if (needsEscape(c)) {
                out += '%';
                out += digits[c >> 4];
                out += digits[c & 15];
            } else {
                out += static_cast<char>(c);
            }
            continue;
        }
        if (c != '%') {
            out += static_cast<char>(c);
            continue;
        }
        if (i + 1 >= url.size() || hexValue(url[i + 1]) < 0) return ERR_WRONGUSAGE;
        size_t n = (i + 2 < url.size() && hexValue(url[i + 2]) >= 0) ? 2 : 1;
        int value = hexValue(url[i + 1]);
        if (n == 2) value = value * 16 + hexValue(url[i + 2]);
        if (!needsEscape(static_cast<unsigned char>(value))) out += static_cast<char>(value);
        else out.append(url.substr(i, n + 1));
        i += n;
    }
    return 0;
}

int qxUrlDecodeLine(std::string_view text, std::string &out)
{
    out.clear();
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        if (c == '%' && i + 2 < text.size() + 0 && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            c = static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        }
        // A line end or NUL would end the protocol line and start another.
        if (c == '\r' || c == '\n' || c == 0) return ERR_BADURL;
        out += c;
    }
    return 0;
}

int qxUrlParse(std::string_view url, bool ssl, qxUrlParts &out)
{
    out = qxUrlParts{};
    static const struct {
        const char *prefix;
        int kind, tls, port;
    } schemes[] = {{"http://", QX_URL_HTTP, 0, 80},
                   {"https://", QX_URL_HTTP, 1, 443},
                   {"ftp://", QX_URL_FTP, 0, 21},
                   {"ftps://", QX_URL_FTP, 1, 21}};
    bool known = false;
    for (const auto &s : schemes) {
        if (!startsNoCase(url, s.prefix)) continue;
        out.scheme.assign(url.substr(0, std::strlen(s.prefix)));
        out.kind = s.kind;
        out.tls = s.tls;
        out.port = s.port;
        known = true;
        break;
    }
    if (!known) return ERR_UNKPROTOCOL;
    if (ssl && out.kind == QX_URL_HTTP && !out.tls) {
        out.tls = 1;
        out.port = 443;
    }
    std::string_view rest = url.substr(out.scheme.size());
    size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    out.path = slash == std::string_view::npos ? "/" : std::string(rest.substr(slash));
    out.authority.assign(authority);
    if (out.kind == QX_URL_FTP && out.path.size() > 7) {
        size_t n = out.path.size();
        if (out.path.compare(n - 7, 6, ";type=") == 0) {
            char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(out.path[n - 1])));
            if (letter != 'a' && letter != 'i') return ERR_BADURL;
            out.typeLetter = letter;
            out.path.resize(n - 7);
        }
    }
    std::string_view hostPart = authority;
    size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        size_t colon = authority.find(':');
        if (colon == std::string_view::npos || colon == 0 || colon > at || colon + 1 == at) return ERR_BADURL;
        // An '@' in the user name would make the split ambiguous.
        if (authority.find('@') < colon) return ERR_BADURL;
        if (qxUrlDecodeLine(authority.substr(0, colon), out.user) ||
            qxUrlDecodeLine(authority.substr(colon + 1, at - colon - 1), out.password))
            return ERR_BADURL;
        out.hasUser = true;
        hostPart = authority.substr(at + 1);
    }
    size_t colon = hostPart.find(':');
    if (colon != std::string_view::npos) {
        std::string_view digits = hostPart.substr(colon + 1);
        if (digits.empty() || !isDigit(digits[0])) return ERR_BADURL;
        uint64_t port = 0;
        if (!qxParseDecimal(digits, &port) || port < 1 || port > 65535) return ERR_BADURL;
        out.port = static_cast<int>(port);
        hostPart = hostPart.substr(0, colon);
    }
    if (hostPart.empty()) return ERR_BADURL;
    out.host.assign(hostPart);
    return 0;
}

std::string qxUrlJoin(std::string_view base, std::string_view location)
{
    if (location.find("://") != std::string_view::npos) return std::string(location);
    size_t schemeEnd = base.find("://");
    if (schemeEnd == std::string_view::npos) return std::string(location);
    schemeEnd += 3;
    if (location.substr(0, 2) == "//") return std::string(base.substr(0, schemeEnd - 2)) + std::string(location);
    size_t pathStart = base.find('/', schemeEnd);
    std::string_view origin = base.substr(0, pathStart);
    if (!location.empty() && location[0] == '/') return std::string(origin) + std::string(location);
    std::string_view path = pathStart == std::string_view::npos ? "/" : base.substr(pathStart);
    path = path.substr(0, path.find_first_of("?#"));
    if (location.empty()) return std::string(origin) + std::string(path);
    if (location[0] == '?' || location[0] == '#') return std::string(origin) + std::string(path) + std::string(location);
    std::string_view dir = path.substr(0, path.rfind('/') + 1);
    return std::string(origin) + std::string(dir) + std::string(location);
}

int qxHttpParseStatus(std::string_view line, int *status)
{
    *status = 0;
    if (line.substr(0, 5) != "HTTP/") return 1001;
    size_t i = 5;
    if (i >= line.size() || !isDigit(line[i])) return 1002;
    while (i < line.size() && (isDigit(line[i]) || line[i] == '.')) i++;
    if (i >= line.size() || line[i] != ' ') return 1003;
    i++;
    int value = 0, digits = 0;
    while (i < line.size() && isDigit(line[i]) && digits < 3) value = value * 10 + (line[i++] - '0'), digits++;
    *status = value;
    return 0;
}

bool qxParseDecimal(std::string_view text, uint64_t *value)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) i++;
    uint64_t v = 0;
    size_t digits = 0;
    while (i < text.size() && isDigit(text[i])) {
        if (++digits > 18) return false;
        v = v * 10 + static_cast<uint64_t>(text[i++] - '0');
    }
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) i++;
    if (!digits || i != text.size()) return false;
    *value = v;
    return true;
}

bool qxHttpParseChunkSize(std::string_view line, uint64_t *size)
{
    size_t i = 0;
    while (i < line.size() && line[i] == ' ') i++;
    uint64_t v = 0;
    size_t digits = 0;
    while (i < line.size() && hexValue(line[i]) >= 0) {
        if (++digits > 15) return false;
        v = v * 16 + static_cast<uint64_t>(hexValue(line[i++]));
    }
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) i++;
    if (!digits || (i < line.size() && line[i] != ';')) return false;
    *size = v;
    return true;
}

bool qxHttpHeaderValue(std::string_view line, std::string_view name, std::string_view *value)
{
    // name ends in ": "; the colon must follow the name, spaces are optional.
    std::string_view bare = name.substr(0, name.size() - 1);
    if (!startsNoCase(line, bare)) return false;
    size_t i = bare.size();
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) i++;
    *value = line.substr(i);
    while (!value->empty() && (value->back() == ' ' || value->back() == '\t')) value->remove_suffix(1);
    return true;
}

int qxFtpReplyCode(std::string_view line)
{
    if (line.size() < 3 || !isDigit(line[0]) || !isDigit(line[1]) || !isDigit(line[2])) return -1;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

bool qxFtpParsePasv(std::string_view reply, int *port)
{
    int numbers[6];
    int count = 0;
    size_t i = 4;
    while (i < reply.size() && count < 7) {
        if (!isDigit(reply[i])) {
            i++;
            continue;
        }
        int v = 0, digits = 0;
        while (i < reply.size() && isDigit(reply[i])) {
            if (++digits > 3) return false;
            v = v * 10 + (reply[i++] - '0');
        }
        if (v > 255 || count == 6) return false;
        numbers[count++] = v;
        // The scan goes on after the next comma.
        size_t comma = reply.find(',', i);
        if (comma == std::string_view::npos) break;
        i = comma + 1;
    }
    if (count != 6) return false;
    *port = numbers[4] * 256 + numbers[5];
    return *port > 0;
}

bool qxFtpParseSize(std::string_view reply, uint64_t *size)
{
    if (reply.size() < 4) return false;
    std::string_view rest = reply.substr(4);
    size_t end = 0;
    while (end < rest.size() && isDigit(rest[end])) end++;
    return end > 0 && qxParseDecimal(rest.substr(0, end), size);
}

bool qxFtpParseBytes(std::string_view reply, uint64_t *size)
{
    static const std::string_view bytes = " bytes";
    for (size_t end = reply.size(); end > 4; end--) {
        if (!isDigit(reply[end - 1])) continue;
        size_t start = end;
        while (start > 4 && isDigit(reply[start - 1])) start--;
        if (reply.substr(end, bytes.size()) == bytes) return qxParseDecimal(reply.substr(start, end - start), size);
        end = start;
        if (end <= 4) break;
    }
    return false;
}
