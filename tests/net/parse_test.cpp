// The client's parsers on the cases where a hostile or odd peer meets them.
#include <gtest/gtest.h>

#include "core/errors/qx_errors.h"
#include "net/qx_httpparse.h"

TEST(NetParse, LocationJoin)
{
    EXPECT_EQ(qxUrlJoin("http://h/a/p", "/b"), "http://h/b");
    EXPECT_EQ(qxUrlJoin("http://h/a/p", "b"), "http://h/a/b");
    EXPECT_EQ(qxUrlJoin("http://h", "b"), "http://h/b");
    EXPECT_EQ(qxUrlJoin("http://h/", "/b"), "http://h/b");
    EXPECT_EQ(qxUrlJoin("http://h/a?x=/y", "c"), "http://h/c");
    EXPECT_EQ(qxUrlJoin("https://h/a", "//g/x"), "https://g/x");
    EXPECT_EQ(qxUrlJoin("http://h/a", "ftp://f/x"), "ftp://f/x");
}

TEST(NetParse, UrlParts)
{
    qxUrlParts u;
    ASSERT_EQ(qxUrlParse("FTP://a:b%24@h:2121/dir/f.txt;type=A", false, u), 0);
    EXPECT_EQ(u.kind, QX_URL_FTP);
    EXPECT_EQ(u.user, "a");
    EXPECT_EQ(u.password, "b$");
    EXPECT_EQ(u.port, 2121);
    EXPECT_EQ(u.path, "/dir/f.txt");
    EXPECT_EQ(u.typeLetter, 'a');
    EXPECT_EQ(qxUrlParse("ftp://h/f;type=x", false, u), ERR_BADURL);
    EXPECT_EQ(qxUrlParse("http://:p@h/", false, u), ERR_BADURL);
    EXPECT_EQ(qxUrlParse("http://u:@h/", false, u), ERR_BADURL);
    EXPECT_EQ(qxUrlParse("http://h:99999/", false, u), ERR_BADURL);
    EXPECT_EQ(qxUrlParse("http://h:80", true, u), 0);
    EXPECT_EQ(u.tls, 1);
    EXPECT_EQ(u.path, "/");
    std::string e;
    EXPECT_EQ(qxUrlEscape("a b$\xff", false, e), 0);
    EXPECT_EQ(e, "a%20b%24%ff");
    EXPECT_EQ(qxUrlEscape("%4", true, e), 0);
    EXPECT_EQ(e, "%4");
    EXPECT_EQ(qxUrlEscape("%zz", true, e), ERR_WRONGUSAGE);
}

TEST(NetParse, NumbersFromThePeer)
{
    uint64_t n = 0;
    EXPECT_TRUE(qxHttpParseChunkSize("1a;name=v", &n));
    EXPECT_EQ(n, 26u);
    EXPECT_FALSE(qxHttpParseChunkSize("ffffffffffffffff", &n));
    EXPECT_FALSE(qxHttpParseChunkSize("", &n));
    EXPECT_FALSE(qxHttpParseChunkSize("12 x", &n));
    EXPECT_TRUE(qxParseDecimal(" 4294967306 ", &n));
    EXPECT_EQ(n, 4294967306u);
    EXPECT_FALSE(qxParseDecimal("-1", &n));
    EXPECT_FALSE(qxParseDecimal("1e3", &n));
    EXPECT_FALSE(qxParseDecimal("9999999999999999999", &n));
    int port = 0;
    EXPECT_TRUE(qxFtpParsePasv("227 Entering Passive Mode (127,0,0,2,4,1).", &port));
    EXPECT_EQ(port, 1025);
    EXPECT_FALSE(qxFtpParsePasv("227 (127,0,0,1,256,1)", &port));
    EXPECT_FALSE(qxFtpParsePasv("227 (127,0,0,1,4)", &port));
    EXPECT_FALSE(qxFtpParsePasv("227 (1,2,3,4,5,6,7)", &port));
    EXPECT_TRUE(qxFtpParseBytes("150 Opening BINARY connection for f (1234 bytes)", &n));
    EXPECT_EQ(n, 1234u);
    EXPECT_FALSE(qxFtpParseBytes("150 Opening 12 connections", &n));
    EXPECT_TRUE(qxFtpParseSize("213 77", &n));
    EXPECT_EQ(n, 77u);
    int status = 0;
    EXPECT_EQ(qxHttpParseStatus("HTTP/1.1 200 OK", &status), 0);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(qxHttpParseStatus("HTTP/1.1200", &status), 1003);
}
