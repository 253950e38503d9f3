// Real GTK dialogs under a private Xvfb, answered with xdotool.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "platform/qx_catalog.h"
#include "platform/qx_libimports.h"
#include "platform/qx_memory.h"
#include "platform/requesters/qx_gtk.h"
#include "platform/requesters/qx_requesters.h"

#include "../x11/xserver.h"

namespace {

XServer server;
pid_t busDaemon = 0; // a private session bus

// Starts a private Xvfb and GTK's thread on it: 1 when ready, 0 when there
// can be no display (no Xvfb, xdotool or GTK), 2 when GTK fails on a
// server that runs.
int startGtk()
{
    static int state = -1;
    if (state >= 0)
        return state;
    state = 0;
    if (system("command -v Xvfb >/dev/null && command -v xdotool >/dev/null") != 0 || !server.startXvfb(24, false))
        return state;
    setenv("DISPLAY", server.name().c_str(), 1);
    qxImportLibraries();
    if (qxGtkAvailable())
        state = qxStartGtk() ? 1 : 2;
    return state;
}

// Runs the shell commands `keys` once a window titled `title` shows. Keys
// can be lost on a loaded machine, and a dialog can show late: until the
// request has returned (join), a dialog still up after 10 s is closed with
// Escape, so a test fails on its checks instead of hanging.
struct Answer {
    std::shared_ptr<std::atomic<bool>> done;
    std::thread worker;
    void join()
    {
        done->store(true);
        worker.join();
    }
};

Answer answer(const std::string &title, const std::string &keys)
{
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread worker([=] {
        std::string wait = "timeout 2 xdotool search --sync --onlyvisible --name '^" + title +
                           "$' windowfocus %1 >/dev/null 2>&1";
        while (!*done && system(wait.c_str()) != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (*done)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        system(keys.c_str());
        std::string close = "xdotool search --onlyvisible --name '^" + title +
                            "$' windowfocus %1 key Escape >/dev/null 2>&1";
        auto since = std::chrono::steady_clock::now();
        while (!*done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (std::chrono::steady_clock::now() - since > std::chrono::seconds(10)) {
                system(close.c_str());
                since = std::chrono::steady_clock::now();
            }
        }
    });
    return Answer{done, std::move(worker)};
}

class Gtk : public testing::Test {
protected:
    void SetUp() override
    {
        int started = startGtk();
        if (!started)
            GTEST_SKIP() << "no display: GTK, Xvfb or xdotool not available";
        ASSERT_EQ(started, 1) << "GTK does not start on " << server.name();
    }
};

} // namespace

TEST_F(Gtk, MessageBoxResponses)
{
    int choice = -1;
    auto t = answer("Box one", "xdotool key Return");
    qxPlatformMessageBox(nullptr, "Box one", "Pick", "First|Second|Third", 4, &choice);
    t.join();
    EXPECT_EQ(choice, 1);
    t = answer("Box two", "xdotool key Tab key Tab key Return");
    qxPlatformMessageBox(nullptr, "Box two", "Pick", "First|Second|Third", 4, &choice);
    t.join();
    EXPECT_EQ(choice, 0);
    t = answer("Box three", "xdotool key Escape");
    qxPlatformMessageBox(nullptr, "Box three", "Close", "Yes|No", 2, &choice);
    t.join();
    EXPECT_EQ(choice, 0);
}

TEST_F(Gtk, FileRequesterTypedName)
{
    char dir[] = "/tmp/qxgtkXXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    std::string file = std::string(dir) + "/picked.txt";
    std::ofstream(file) << "x";
    qxFileRequestResult result;
    auto t = answer("Choose", "xdotool key ctrl+l sleep 0.5 type --delay 30 '" + file + "'; sleep 0.5; xdotool key Return");
    ASSERT_EQ(qxPlatformFileRequest(nullptr, "Choose", "txt|.png", QX_REQMODE_NORMAL, dir, nullptr,
                                    &result),
              0);
    t.join();
    EXPECT_EQ(result.completed, 1u);
    EXPECT_EQ(std::string(result.path ? result.path : ""), std::string(dir) + "/");
    EXPECT_STREQ(result.file, "picked.txt");
    qxFreeFileResult(&result);

    // The filter of everything is named in the user's language.
    std::string catalogs = std::string(dir) + "/Catalogs/german";
    std::system(("mkdir -p " + catalogs).c_str());
    {
        std::ofstream lines(catalogs + "/Zephyrane.catalog");
        for (int i = 0; i < 658; i++)
            lines << "t" << i << "\n";
        lines << "Alle\n";
    }
    char cwd[1024];
    ASSERT_TRUE(getcwd(cwd, sizeof cwd));
    const char *lang = std::getenv("LANG");
    const std::string savedLang = lang ? lang : "";
    ASSERT_EQ(chdir(dir), 0);
    setenv("LANG", "de_DE.UTF-8", 1);
    EXPECT_EQ(qxOpenCatalog("Zephyrane.catalog"), 1);
    t = answer("Cancelled", "xdotool key Escape");
    ASSERT_EQ(qxPlatformFileRequest(nullptr, "Cancelled", "txt", QX_REQMODE_NORMAL, dir, nullptr,
                                    &result),
              0);
    t.join();
    EXPECT_EQ(result.completed, 0u);
    EXPECT_STREQ(qxRequest.allName, "Alle");
    qxCloseCatalog();
    if (lang)
        setenv("LANG", savedLang.c_str(), 1);
    else
        unsetenv("LANG");
    EXPECT_EQ(chdir(cwd), 0);
    unlink(file.c_str());
    std::system(("rm -rf " + std::string(dir)).c_str());
}

// A GTK+ 2 before 2.14 has no getters for a dialog's parts: the entry is
// still packed into the dialog's own vbox, and the colour requester finds
// its colour selection in the dialog.
TEST_F(Gtk, OldGtkWithoutTheDialogGetters)
{
    struct Old {
        qxLibImportTable saved = qxLibImports;
        Old()
        {
            qxLibImports.gtk_dialog_get_content_area = qxLibImports.gtk_dialog_get_action_area = nullptr;
            qxLibImports.gtk_color_selection_dialog_get_color_selection = nullptr;
        }
        ~Old() { qxLibImports = saved; }
    } old;
    char *text = nullptr;
    auto a = answer("Old entry", "xdotool key ctrl+a type --delay 30 'abc'; xdotool key Tab key Return");
    qxPlatformStringRequest(nullptr, "Old entry", "Enter", "x", 0, 0, 0, &text);
    a.join();
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "abc");
    qxFree(text);
    int32_t color = 0;
    a = answer("Old colour", "xdotool key Return");
    qxPlatformColorRequest(nullptr, "Old colour", 0xFF8000, &color);
    a.join();
    EXPECT_EQ(color, 0xFF8000);
}

TEST_F(Gtk, StringRequesterNumericFilter)
{
    char *text = nullptr;
    auto t = answer("Number", "xdotool key ctrl+a type --delay 30 'a1b-2.c3'; xdotool key Tab key Return");
    qxPlatformStringRequest(nullptr, "Number", "Enter", "", QX_REQINPUT_NUMERICAL, 0, 0, &text);
    t.join();
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "1-2.3");
    qxFree(text);
    t = answer("Words", "xdotool key Escape");
    qxPlatformStringRequest(nullptr, "Words", "Enter", "x", 0, 0, 0, &text);
    t.join();
    EXPECT_EQ(text, nullptr);
}

// Stop the thread and the server after all tests.
class GtkEnvironment : public testing::Environment {
    void TearDown() override
    {
        qxGtkStopThread();
        if (busDaemon > 0)
            kill(busDaemon, SIGTERM);
        server.stop();
    }
};
static testing::Environment *const gtkEnv = testing::AddGlobalTestEnvironment(new GtkEnvironment);

// GTK, fontconfig and their kin keep caches for the life of the process.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig\nleak:libgtk-x11\nleak:libgdk-x11\nleak:libglib-2.0\n"
           "leak:libgobject-2.0\nleak:libpango\nleak:libcairo\nleak:libgio\nleak:libX11\n";
}

TEST_F(Gtk, ColourRoundTrip)
{
    int32_t color = 0;
    auto t = answer("Colour", "xdotool key Return");
    qxPlatformColorRequest(nullptr, "Colour", 0xFF8000, &color);
    t.join();
    EXPECT_EQ(color, 0xFF8000);
    t = answer("No colour", "xdotool key Escape");
    qxPlatformColorRequest(nullptr, "No colour", 0xFF8000, &color);
    t.join();
    EXPECT_EQ(color, -1);
}

TEST_F(Gtk, FontRoundTrip)
{
    qxFontRequestResult font;
    auto t = answer("Font", "xdotool key Return");
    qxPlatformFontRequest(nullptr, "Font", "Sans Bold", 14, &font);
    t.join();
    EXPECT_STREQ(font.name, "Sans");
    EXPECT_EQ(font.size, 14);
    EXPECT_EQ(font.weight, 200);
    EXPECT_EQ(font.bold, 1u);
    EXPECT_EQ(font.italic, 0u);
}

TEST_F(Gtk, ListIndexAndClose)
{
    int index = 5;
    const char entries[] = "zero\0one & two\0three\0";
    auto t = answer("List", "xdotool key Down; sleep 0.3; xdotool key Tab key Return");
    qxPlatformListRequest(nullptr, "List", "Pick", entries, 1, &index);
    t.join();
    EXPECT_EQ(index, 2);
    t = answer("List closed", "xdotool key Escape");
    qxPlatformListRequest(nullptr, "List closed", "Pick", entries, 0, &index);
    t.join();
    EXPECT_EQ(index, -1);
}

TEST_F(Gtk, PathRequesterStartsInTheFolder)
{
    char dir[] = "/tmp/qxgtkpathXXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    char *path = nullptr;
    auto t = answer("Folder", "xdotool key Tab; sleep 0.3; xdotool key Return");
    qxPlatformPathRequest(nullptr, "Folder", QX_REQMODE_NORMAL, dir, &path);
    t.join();
    ASSERT_NE(path, nullptr);
    EXPECT_STREQ(path, dir);
    qxFree(path);
    rmdir(dir);
}

TEST_F(Gtk, ThreeFilesAtOnce)
{
    char dir[] = "/tmp/qxgtkmultiXXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    for (const char *name : {"a.txt", "b.txt", "c.txt"})
        std::ofstream(std::string(dir) + "/" + name) << "x";
    qxFileRequestResult result;
    auto t = answer("Three", "sleep 1; xdotool search --name '^Three$' mousemove --window %1 300 160 click 1; sleep 0.3; xdotool key ctrl+a; sleep 0.3; xdotool key Return");
    ASSERT_EQ(qxPlatformFileRequest(nullptr, "Three", nullptr, QX_REQMODE_MULTISELECT, dir, "a.txt",
                                    &result),
              0);
    t.join();
    EXPECT_EQ(result.count, 3u);
    EXPECT_EQ(std::string(result.path ? result.path : ""), std::string(dir) + "/");
    if (result.file && result.count == 3) {
        EXPECT_EQ(std::string(result.file, 18), std::string("a.txt\0b.txt\0c.txt\0", 18));
    }
    qxFreeFileResult(&result);
    std::system(("rm -rf " + std::string(dir)).c_str());
}

namespace {

std::string run(const std::string &command)
{
    std::string out;
    if (FILE *p = popen(command.c_str(), "r")) {
        char buf[512];
        while (size_t n = fread(buf, 1, sizeof buf, p))
            out.append(buf, n);
        pclose(p);
    }
    return out;
}

} // namespace

// On a private session bus python3-dbusmock's notification daemon records
// the call: title, text, the error icon, critical urgency and the timeout.
TEST_F(Gtk, NotificationReachesTheDaemon)
{
    if (!qxLibraryComplete(QX_LIB_NOTIFY) ||
        system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null && command -v dbus-daemon "
               ">/dev/null && command -v gdbus >/dev/null") != 0)
        GTEST_SKIP() << "libnotify, python3-dbusmock or dbus not available";
    std::string bus = run("dbus-daemon --session --fork --print-address=1 --print-pid=1");
    size_t newline = bus.find('\n');
    ASSERT_NE(newline, std::string::npos);
    std::string address = bus.substr(0, newline);
    long daemon = std::atol(bus.c_str() + newline + 1);
    ASSERT_GT(daemon, 0);
    busDaemon = (pid_t)daemon;
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    std::string mock = run("/usr/bin/python3 -m dbusmock --template notification_daemon "
                           ">/dev/null 2>&1 & echo $!");
    const std::string calls = "gdbus call --session --dest org.freedesktop.Notifications "
                              "--object-path /org/freedesktop/Notifications --method "
                              "org.freedesktop.DBus.Mock.GetCalls 2>/dev/null";
    for (int i = 0; i < 50 && run(calls).empty(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(qxShowNotification("Title", "Text", 2, 500, nullptr), 0);
    std::string seen;
    for (int i = 0; i < 30 && seen.find("Notify") == std::string::npos; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        seen = run(calls);
    }
    EXPECT_NE(seen.find("'Title'"), std::string::npos) << seen;
    EXPECT_NE(seen.find("'Text'"), std::string::npos) << seen;
    EXPECT_NE(seen.find("'dialog-error'"), std::string::npos) << seen;
    EXPECT_NE(seen.find("<byte 0x02>"), std::string::npos) << seen;
    EXPECT_NE(seen.find("<500>"), std::string::npos) << seen;
    // The player's name went with the first call; after the shutdown's
    // notify_uninit the next call starts afresh under its own name.
    EXPECT_NE(seen.find("'Zephyrane'"), std::string::npos) << seen;
    qxEndNotifications();
    EXPECT_EQ(qxShowNotification("Again", "Text", 1, 0, "Applet"), 0);
    for (int i = 0; i < 30 && seen.find("'Again'") == std::string::npos; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        seen = run(calls);
    }
    EXPECT_NE(seen.find("'Applet'"), std::string::npos) << seen;
    // The bus stays up (libnotify keeps its connection for the process);
    // the environment stops it after all tests.
    if (long pid = std::atol(mock.c_str()); pid > 0)
        kill((pid_t)pid, SIGTERM);
}

TEST_F(Gtk, NotificationWithoutADaemonStillReturns)
{
    // No notification server runs under the private X server: showing fails
    // quietly and the call neither blocks nor reports.
    EXPECT_EQ(qxShowNotification("Title", "Text", 2, 500, nullptr), 0);
}
