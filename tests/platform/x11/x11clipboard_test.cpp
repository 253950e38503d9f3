// The clipboard against xclip (text both ways in both text modes, TARGETS,
// INCR, a STRING-only owner, losing and clearing the selection, XFixes
// notices), a silent owner, and drops from a small Xdnd source; the URI
// list decoder and the TARGETS chooser on outside input.
#include "x11fixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/qx_memory.h"
#include "platform/qx_text.h"
#include "platform/x11/x11_clipboard.h"

namespace {

std::string slurp(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class X11Clipboard : public X11Test {
protected:
    void SetUp() override
    {
        startServer(24, false);
        d = open(20, 20, 120, 90);
        ASSERT_NE(d, nullptr);
        char t[] = "/tmp/qxclipXXXXXX";
        ASSERT_TRUE(mkdtemp(t));
        dir = t;
        settle();
    }
    void TearDown() override
    {
        qxSetTextModeUtf8(1);
        X11Test::TearDown();
        if (system(("rm -rf " + dir).c_str())) {}
    }
    // Runs a peer in the background while the pump serves it; its output.
    std::string serveWhile(const std::string &command, double seconds = 10)
    {
        const std::string out = dir + "/out", flag = dir + "/flag";
        unlink(out.c_str());
        unlink(flag.c_str());
        const std::string full = "(DISPLAY=" + server.name() + " timeout 15 " + command + " > " + out +
                                 " 2>/dev/null; touch " + flag + ") &";
        if (system(full.c_str())) {}
        const double end = qxGetSeconds() + seconds;
        int error = 0;
        struct stat st;
        while (stat(flag.c_str(), &st) != 0 && qxGetSeconds() < end) {
            x11HandleEvents(nullptr, &error);
            usleep(2000);
        }
        return slurp(out);
    }
    // Hands text to xclip, which keeps the selection in the background.
    void xclipOwns(const std::string &text, const char *target = "UTF8_STRING")
    {
        std::ofstream(dir + "/in", std::ios::binary) << text;
        server.run(std::string("xclip -selection clipboard -i -t ") + target + " " + dir +
                   "/in >/dev/null 2>&1");
        usleep(100000);
    }
    // Starts an owner tool in the background; true once it holds CLIPBOARD.
    bool startOwner(const std::string &command)
    {
        const std::string flag = dir + "/owner";
        unlink(flag.c_str());
        const std::string cmd = "(DISPLAY=" + server.name() + " " + command + " > " + flag + ") &";
        if (system(cmd.c_str()) != 0)
            return false;
        // Python and its X library can take seconds to start on a loaded machine.
        for (int i = 0; i < 2000 && slurp(flag).empty(); ++i) usleep(10000);
        return slurp(flag) == "owner\n";
    }
    int get(std::string *text, int *type)
    {
        qxClipboardData data{};
        int r = x11GetClipboard(nullptr, &data, type);
        if (data.text) {
            *text = data.text;
            qxFree(data.text);
        }
        return r;
    }
    int setText(const char *text)
    {
        qxClipboardData data{};
        data.text = const_cast<char *>(text);
        return x11SetClipboard(1, &data);
    }
    qxDisplay *d = nullptr;
    std::string dir;
};

TEST_F(X11Clipboard, TextBothWaysInBothModes)
{
    ASSERT_EQ(setText("Gr\xc3\xbc\xc3\x9f" "e 1"), 0);
    EXPECT_EQ(serveWhile("xclip -selection clipboard -o -t UTF8_STRING"), "Gr\xc3\xbc\xc3\x9f" "e 1");
    const std::string targets = serveWhile("xclip -selection clipboard -o -t TARGETS");
    EXPECT_NE(targets.find("TARGETS"), std::string::npos) << targets;
    EXPECT_NE(targets.find("UTF8_STRING"), std::string::npos) << targets;
    // Our own selection read back through the server.
    std::string text;
    int type = -1;
    EXPECT_EQ(get(&text, &type), 0);
    EXPECT_EQ(type, 1);
    EXPECT_EQ(text, "Gr\xc3\xbc\xc3\x9f" "e 1");

    xclipOwns("caf\xc3\xa9\n");
    EXPECT_EQ(get(&text, &type), 0);
    EXPECT_EQ(type, 1);
    EXPECT_EQ(text, "caf\xc3\xa9\n");
    type = -1;
    EXPECT_EQ(x11GetClipboardType(nullptr, &type), 0);
    EXPECT_EQ(type, 1);

    // ISO-8859-1 text mode converts both ways.
    qxSetTextModeUtf8(0);
    EXPECT_EQ(get(&text, &type), 0);
    EXPECT_EQ(text, "caf\xe9\n");
    ASSERT_EQ(setText("na\xefve"), 0);
    EXPECT_EQ(serveWhile("xclip -selection clipboard -o -t UTF8_STRING"), "na\xc3\xafve");
}

TEST_F(X11Clipboard, LargeTextBothWays)
{
    std::string big(1 << 20, 'x');
    for (size_t i = 0; i < big.size(); i += 997) big[i] = char('a' + i % 26);
    xclipOwns(big); // xclip sends this much through INCR
    std::string text;
    int type = 0;
    ASSERT_EQ(get(&text, &type), 0);
    EXPECT_EQ(type, 1);
    EXPECT_TRUE(text == big) << text.size();

    ASSERT_EQ(setText(big.c_str()), 0);
    EXPECT_TRUE(serveWhile("xclip -selection clipboard -o -t UTF8_STRING") == big);

    // Beyond the server's largest request the data cannot go in one piece:
    // refused (property None) instead of a reported success with nothing.
    const long limit = XExtendedMaxRequestSize(x11Data(d)->display) * 4;
    ASSERT_GT(limit, 0);
    std::string huge(size_t(limit) + 16, 'h');
    ASSERT_EQ(setText(huge.c_str()), 0);
    EXPECT_EQ(serveWhile("xclip -selection clipboard -o -t UTF8_STRING"), "");
    EXPECT_EQ(get(&text, &type), 1365);
}

TEST_F(X11Clipboard, OwnersWithoutTextOrWithoutAnswers)
{
    // STRING only: nothing usable, no error.
    xclipOwns("plain", "STRING");
    std::string text = "unchanged";
    int type = -1;
    EXPECT_EQ(get(&text, &type), 0);
    EXPECT_EQ(type, 0);
    EXPECT_EQ(text, "unchanged");

    // An INCR chunk of 32-bit items is refused (1000), not copied.
    ASSERT_TRUE(startOwner(tool("xincrowner.py") + " odd 10"));
    EXPECT_EQ(get(&text, &type), 1000);
    // An INCR transfer that stalls after a chunk gives up like a silent owner.
    ASSERT_TRUE(startOwner(tool("xincrowner.py") + " stall 10"));
    double start = qxGetSeconds();
    EXPECT_EQ(get(&text, &type), 1365);
    EXPECT_LT(qxGetSeconds() - start, X11_CLIPBOARD_TIMEOUT + 2);

    // An owner that never answers: 1365 after the timeout, not a hang.
    ASSERT_TRUE(startOwner(tool("xsilentowner.py") + " 12"));
    start = qxGetSeconds();
    EXPECT_EQ(get(&text, &type), 1365);
    const double waited = qxGetSeconds() - start;
    EXPECT_GT(waited, X11_CLIPBOARD_TIMEOUT - 0.5);
    EXPECT_LT(waited, X11_CLIPBOARD_TIMEOUT + 2);
}

TEST_F(X11Clipboard, LosingClearingAndChangeNotices)
{
    d->handlers[QX_SLOT_CLIPBOARDCHANGE].function = 1;
    ASSERT_EQ(setText("ours"), 0);
    x11DisplayData *x = x11Data(d);
    EXPECT_EQ(x->ownedType, 1u);
    settle();
    // Another owner: SelectionClear frees ours, XFixes reports event 15.
    xclipOwns("theirs");
    auto events = pump(1, 2.0);
    EXPECT_EQ(x->ownedType, 0u);
    EXPECT_EQ(x->ownedData, nullptr);
    bool notice = false;
    for (auto &e : events) notice |= e.type == 15;
    EXPECT_TRUE(notice);

    // Cleared: we own the selection with nothing offered.
    EXPECT_EQ(x11ClearClipboard(), 0);
    EXPECT_EQ(serveWhile("xclip -selection clipboard -o -t UTF8_STRING"), "");
    std::string text;
    int type = -1;
    EXPECT_EQ(get(&text, &type), 0);
    EXPECT_EQ(type, 0);
    // Other types do nothing; images are refused until PNG can be written.
    EXPECT_EQ(x11SetClipboard(7, nullptr), 0);
    EXPECT_EQ(x11SetClipboard(2, nullptr), 1288);
}

TEST_F(X11Clipboard, NoWindowIsRefused)
{
    x11CloseDisplay(d);
    std::string text;
    int type = -1;
    EXPECT_EQ(get(&text, &type), 1364);
    EXPECT_EQ(setText("x"), 1364);
    EXPECT_EQ(x11ClearClipboard(), 1364);
}

class X11Drop : public X11Clipboard {
protected:
    // Drops data from the Xdnd source tool; its report, and the names
    // of the queued drop event (empty vector when none was queued).
    std::string drop(const std::string &data, std::vector<std::string> *names, bool typeList = false)
    {
        std::ofstream(dir + "/drop", std::ios::binary) << data;
        qxFlushEvents(nullptr, 0xFFFFFFFFu, 1);
        const std::string report = serveWhile(tool("xdndsource.py") + " " + id(d) + " " + dir + "/drop" +
                                              (typeList ? " --typelist" : ""));
        names->clear();
        for (qxQueuedEvent *e = qxEventQueue; e; e = e->next) {
            if (e->type != 14 || !e->payload)
                continue;
            for (const char *p = static_cast<const char *>(e->payload); *p; p += std::strlen(p) + 1)
                names->push_back(p);
        }
        return report;
    }
};

TEST_F(X11Drop, FileNamesReachTheQueue)
{
    std::vector<std::string> names;
    // Without an ondropfile handler the drop is refused.
    EXPECT_EQ(drop("file:///tmp/a\n", &names), "status 0\n");
    EXPECT_TRUE(names.empty());

    d->handlers[17].function = 1;
    EXPECT_EQ(drop("file:///tmp/with%20blank\r\n", &names), "status 1\nfinished 1 True\n");
    EXPECT_EQ(names, (std::vector<std::string>{"/tmp/with blank"}));
    EXPECT_EQ(drop("file:///a\r\nfile:///b\r\nfile:///c", &names, true), "status 1\nfinished 1 True\n");
    EXPECT_EQ(names, (std::vector<std::string>{"/a", "/b", "/c"}));
    // An encoded NUL would split the name: that name is dropped.
    drop("file:///x%00y\nfile:///z\n", &names);
    EXPECT_EQ(names, (std::vector<std::string>{"/z"}));
    // The event carries the pointer position in the window.
    server.run("xdotool mousemove --window " + id(d) + " 7 9");
    drop("file:///p\n", &names);
    bool found = false;
    for (auto &e : queued()) found |= e.type == 14 && e.p1 == 7 && e.p2 == 9;
    EXPECT_TRUE(found);
}

std::vector<std::string> decode(const std::string &in, int latin1 = 0)
{
    size_t size = 0;
    const std::vector<char> exact(in.begin(), in.end()); // no terminator to lean on
    char *list = x11DecodeUriList(exact.data(), exact.size(), latin1, &size);
    std::vector<std::string> out;
    if (!list) return {"<null>"};
    const char *p = list;
    while (*p) {
        out.push_back(p);
        p += std::strlen(p) + 1;
    }
    EXPECT_EQ(size_t(p - list) + 1, size);
    std::free(list);
    return out;
}

} // namespace

TEST(UriList, MalformedListsDecodeSafely)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(decode("file:///a%20b\n"), V{"/a b"});
    EXPECT_EQ(decode("file:///tail%"), V{"/tail%"});
    EXPECT_EQ(decode("file:///x%zz%4"), V{"/x%zz%4"});
    EXPECT_EQ(decode("file:///one\r\n\r\nfile:///two"), (V{"/one", "/two"}));
    EXPECT_EQ(decode("file:///n%00ul\nfile:///ok\n"), V{"/ok"});
    EXPECT_EQ(decode(std::string("raw\0nul\nb\n", 10)), V{"b"});
    EXPECT_EQ(decode(""), V{});
    EXPECT_EQ(decode("file://"), V{});
    EXPECT_EQ(decode("file:///caf%C3%A9\n", 1), V{"/caf\xe9"});
    EXPECT_EQ(decode("file:///caf%C3%A9\n", 0), V{"/caf\xc3\xa9"});
}

TEST(Targets, ChooserPrefersUtf8ThenPlainThenPng)
{
    const Atom utf8 = 10, plain = 11, png = 12;
    const Atom a[] = {5, png, plain, utf8};
    EXPECT_EQ(x11ChooseTarget(a, 4, utf8, plain, png), utf8);
    EXPECT_EQ(x11ChooseTarget(a, 3, utf8, plain, png), plain);
    EXPECT_EQ(x11ChooseTarget(a, 2, utf8, plain, png), png);
    EXPECT_EQ(x11ChooseTarget(a, 2, utf8, plain, 0), Atom(0));
    EXPECT_EQ(x11ChooseTarget(nullptr, 0, utf8, plain, png), Atom(0));
}
