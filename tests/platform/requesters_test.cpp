// Console requesters answered through a pipe on standard input.
#include <gtest/gtest.h>

#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/qx_libimports.h"
#include "platform/qx_memory.h"
#include "platform/qx_upcalls.h"
#include "platform/requesters/qx_requesters.h"

namespace {

// Puts the answers on standard input and captures standard output.
class Console {
public:
    explicit Console(const std::string &answers)
    {
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        EXPECT_EQ(write(fds[1], answers.data(), answers.size()), (ssize_t)answers.size());
        close(fds[1]);
        savedStdin = dup(0);
        dup2(fds[0], 0);
        close(fds[0]);
        __fpurge(stdin);
        clearerr(stdin);
        testing::internal::CaptureStdout();
    }
    // The printed text; ends the capture.
    std::string output()
    {
        if (!captured) {
            text = testing::internal::GetCapturedStdout();
            captured = true;
        }
        return text;
    }
    ~Console()
    {
        output();
        __fpurge(stdin);
        dup2(savedStdin, 0);
        close(savedStdin);
        clearerr(stdin);
    }

private:
    int savedStdin;
    bool captured = false;
    std::string text;
};

int occurrences(const std::string &text, const std::string &what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

class Requesters : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Console requesters: GTK counts as looked for and missing.
        qxLibImports.imported[QX_LIB_GTK] = 1;
        ASSERT_FALSE(qxLibImports.gtkLoaded);
        char pattern[] = "/tmp/qxreq.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        file = dir + "/data.txt";
        std::ofstream(file) << "x";
    }
    void TearDown() override { std::system(("rm -rf " + dir).c_str()); }
    std::string dir, file;
};

} // namespace

TEST_F(Requesters, StandardButtonLayouts)
{
    EXPECT_EQ(qxStandardButtons("OK"), 3);
    EXPECT_EQ(qxStandardButtons("OK|Cancel"), 0);
    EXPECT_EQ(qxStandardButtons("Yes|No"), 1);
    EXPECT_EQ(qxStandardButtons("Yes|No|Cancel"), 2);
    EXPECT_EQ(qxStandardButtons("Retry|Quit"), -1);
    EXPECT_EQ(qxStandardButtons(nullptr), -1);
    EXPECT_EQ(qxStartGtk(), 0);
}

TEST_F(Requesters, MessageBoxChoices)
{
    int choice = -1;
    {
        Console c("3\n");
        EXPECT_EQ(qxPlatformMessageBox(nullptr, "T", "Save?", "Yes|No|Cancel", 4, &choice), 0);
        EXPECT_EQ(choice, 0);
        std::string out = c.output();
        EXPECT_NE(out.find("Save?\n(1) Yes\n(2) No\n(3) Cancel\nYour choice: "), std::string::npos);
    }
    {
        Console c("1\n");
        qxPlatformMessageBox(nullptr, "T", "Save?", "Yes|No|Cancel", 4, &choice);
        EXPECT_EQ(choice, 1);
    }
    {
        Console c("7\nabc\n0\n2\n");
        qxPlatformMessageBox(nullptr, "T", "Save?", "Yes|No|Cancel", 4, &choice);
        EXPECT_EQ(choice, 2);
        EXPECT_EQ(occurrences(c.output(), "Invalid choice. Valid choices between 1 and 3, try again.\n"), 3);
    }
    {
        // The end of input ends the question like the last button.
        Console c("9\n");
        qxPlatformMessageBox(nullptr, "T", "Save?", "Yes|No", 4, &choice);
        EXPECT_EQ(choice, 0);
    }
    {
        Console c("");
        EXPECT_EQ(qxMessageRequest("ZephyranePlayer", "Something failed", nullptr, 2), 0);
        EXPECT_EQ(c.output(), "Something failed\n");
    }
}

TEST_F(Requesters, FileAndPathQuestions)
{
    qxFileRequestResult result;
    {
        Console c(dir + "\n" + dir + "/none\n" + file + "\n");
        ASSERT_EQ(qxPlatformFileRequest(nullptr, "Pick", "*.txt", QX_REQMODE_NORMAL, nullptr, nullptr, &result), 0);
        std::string out = c.output();
        EXPECT_EQ(out.rfind("Pick: ", 0), 0u);
        EXPECT_NE(out.find(dir + " is a directory, try again.\n"), std::string::npos);
        EXPECT_NE(out.find(dir + "/none does not exist, try again.\n"), std::string::npos);
    }
    ASSERT_EQ(result.completed, 1u);
    EXPECT_EQ(std::string(result.path), dir + "/");
    EXPECT_STREQ(result.file, "data.txt");
    EXPECT_EQ(result.count, 1u);
    qxFreeFileResult(&result);
    {
        Console c("\n");
        ASSERT_EQ(qxPlatformFileRequest(nullptr, "Pick", "", QX_REQMODE_NORMAL, nullptr, nullptr, &result), 0);
        EXPECT_EQ(result.completed, 0u);
    }
    {
        // Save mode: an existing file needs "y"; "n" asks again.
        Console c(file + "\nn\n" + file + "\ny\n");
        ASSERT_EQ(qxPlatformFileRequest(nullptr, "Save", nullptr, QX_REQMODE_SAVE, nullptr, nullptr, &result), 0);
        EXPECT_EQ(occurrences(c.output(), file + " does already exist. Overwrite? (y/n) "), 2);
        EXPECT_EQ(result.completed, 1u);
        qxFreeFileResult(&result);
    }
    {
        Console c(dir + "/new.txt\n");
        qxPlatformFileRequest(nullptr, "Save", nullptr, QX_REQMODE_SAVE, nullptr, nullptr, &result);
        EXPECT_STREQ(result.file, "new.txt");
        qxFreeFileResult(&result);
    }
    char *path = nullptr;
    {
        Console c(file + "\n" + dir + "\n");
        ASSERT_EQ(qxPlatformPathRequest(nullptr, "Dir", QX_REQMODE_NORMAL, nullptr, &path), 0);
        EXPECT_NE(c.output().find(file + " is not a directory, try again.\n"), std::string::npos);
    }
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(std::string(path), dir);
    qxFree(path);
    {
        Console c("");
        ASSERT_EQ(qxPlatformPathRequest(nullptr, "Dir", QX_REQMODE_NORMAL, nullptr, &path), 0);
        EXPECT_EQ(path, nullptr);
    }
    char out[4096];
    {
        Console c(file + "\n");
        EXPECT_EQ(qxFileRequestPath("Select an applet", "qxa", out, sizeof out), 0);
        EXPECT_EQ(std::string(out), file);
    }
    {
        Console c("\n");
        EXPECT_EQ(qxFileRequestPath("Select an applet", "qxa", out, sizeof out), 1003);
    }
}

TEST_F(Requesters, StringsNumbersAndLength)
{
    char *text = nullptr;
    {
        Console c("12a4\n1234\n");
        ASSERT_EQ(qxPlatformStringRequest(nullptr, "T", "Number", nullptr, QX_REQINPUT_NUMERICAL, 0, 0, &text), 0);
        EXPECT_EQ(c.output(), "Number: Only numbers accepted, try again.\nNumber: ");
    }
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "1234");
    qxFree(text);
    {
        // Four characters, counted as characters in UTF-8 mode.
        Console c("abcdef\n\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F\n");
        qxPlatformStringRequest(nullptr, "T", "Name", nullptr, 1, 4, 0, &text);
        EXPECT_EQ(occurrences(c.output(), "String too long, 4 characters max. Try again.\n"), 1);
    }
    EXPECT_STREQ(text, "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F");
    qxFree(text);
    {
        Console c("\n");
        qxPlatformStringRequest(nullptr, "T", "Name", nullptr, 1, 0, 0, &text);
    }
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "");
    qxFree(text);
}

TEST_F(Requesters, ListFontAndColour)
{
    int index = 5;
    const char entries[] = "red\0green\0blue\0";
    {
        Console c("\n");
        qxPlatformListRequest(nullptr, "T", "Pick one", entries, -1, &index);
        EXPECT_EQ(index, -1);
        EXPECT_EQ(c.output(), "Pick one\n(1) red\n(2) green\n(3) blue\nYour choice: ");
    }
    {
        Console c("4\n2\n");
        qxPlatformListRequest(nullptr, "T", "Pick one", entries, -1, &index);
        EXPECT_EQ(index, 1);
        EXPECT_EQ(occurrences(c.output(), "Invalid choice."), 1);
    }
    qxFontRequestResult font;
    {
        Console c("Vera Sans\nbig\n14pt\n");
        qxPlatformFontRequest(nullptr, "T", "Sans", 10, &font);
        EXPECT_EQ(occurrences(c.output(), "Error. Invalid size specified."), 1);
    }
    EXPECT_STREQ(font.name, "Vera Sans");
    EXPECT_EQ(font.size, 14);
    EXPECT_EQ(font.weight, 80);
    {
        Console c("\n");
        qxPlatformFontRequest(nullptr, "T", "Sans", 10, &font);
        EXPECT_STREQ(font.name, "");
    }
    int32_t color = 0;
    {
        Console c("#12ab\nFF0000\n#12AB3G\n#12AB34\n");
        qxPlatformColorRequest(nullptr, "T", 0, &color);
        std::string out = c.output();
        EXPECT_EQ(occurrences(out, "Error. Color must use be 6 characters (two per red, green, blue)."), 2);
        EXPECT_EQ(occurrences(out, "Error. Color must be prefixed with a '#' character."), 1);
    }
    EXPECT_EQ(color, 0x12AB34);
    {
        Console c("\n");
        qxPlatformColorRequest(nullptr, "T", 0, &color);
        EXPECT_EQ(color, -1);
    }
}

namespace {

// Stands in for the GTK requester thread: answers each posted request
// with the given function and sets the kind back to idle.
class FakeGtk {
public:
    template <class F> explicit FakeGtk(F answer) : answer_(answer)
    {
        saved = qxUpcalls;
        qxUpcalls.pollEvents = [](lua_State *, int flags) {
            polls += flags == 2;
            return 0;
        };
        qxUpcalls.drainDisplayEvents = [] { drains++; };
        qxUpcalls.setInputGrabs = [](int grab) { grabs.push_back(grab); };
        polls = drains = 0;
        grabs.clear();
        thread = std::thread([this] {
            while (!stop.load()) {
                uint32_t kind = qxRequest.kind.load();
                if (kind != QX_REQ_IDLE) {
                    answer_(kind);
                    qxRequest.kind.store(QX_REQ_IDLE);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    ~FakeGtk()
    {
        stop = true;
        thread.join();
        qxUpcalls = saved;
    }
    static inline int polls, drains;
    static inline std::vector<int> grabs;

private:
    std::function<void(uint32_t)> answer_;
    std::atomic<bool> stop{false};
    std::thread thread;
    qxPlatformUpcalls saved;
};

} // namespace

// While the requester thread works the script thread keeps serving events:
// with a VM state through the poll (flag 2), without one by draining the
// display connections; the grabs are released and taken again around it.
TEST(GtkRequests, WaitKeepsEventsServed)
{
    uint32_t seen = QX_REQ_IDLE;
    FakeGtk gtk([&](uint32_t kind) {
        seen = kind;
        std::this_thread::sleep_for(std::chrono::milliseconds(60)); // the user thinks
        qxRequest.status = 1;
    });
    int state = 0;
    auto *L = reinterpret_cast<lua_State *>(&state); // only handed to the poll
    qxPostRequest(L, QX_REQ_FILE);
    EXPECT_EQ(seen, uint32_t(QX_REQ_FILE));
    EXPECT_GT(FakeGtk::polls, 0);
    EXPECT_EQ(FakeGtk::drains, 0);
    qxPostRequest(nullptr, QX_REQ_MESSAGE);
    EXPECT_EQ(seen, uint32_t(QX_REQ_MESSAGE));
    EXPECT_GT(FakeGtk::drains, 0);
    EXPECT_EQ(FakeGtk::grabs, (std::vector<int>{0, 1, 0, 1}));
}
