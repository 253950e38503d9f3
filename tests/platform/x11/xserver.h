// A private X server for one test: Xvfb (or Xorg with the dummy driver) on
// a free display number chosen by the server itself (-displayfd), with an
// optional window manager, and the Debian peers run against it.
#pragma once
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

class XServer {
public:
    ~XServer() { stop(); }

    // Xvfb with one screen of the given depth; with `reset` it keeps its
    // default of resetting whenever its last client leaves.
    bool startXvfb(int depth, bool manager, const char *size = "1024x768", bool reset = false)
    {
        std::string screen = std::string(size) + "x" + std::to_string(depth);
        if (reset)
            return start({"Xvfb", "-screen", "0", screen, "-nolisten", "tcp"}, manager);
        return start({"Xvfb", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"}, manager);
    }

    // Xorg with the dummy driver and the given configuration file.
    bool startXorg(const std::string &config, const std::string &log)
    {
        return start({"Xorg", "-config", config, "-logfile", log, "-noreset", "-nolisten", "tcp",
                      "+extension", "RANDR"},
                     false);
    }

    const std::string &name() const { return name_; }

    // Runs a shell command against the server; its standard output (and
    // standard error when asked).
    std::string run(const std::string &command, bool withErrors = false) const
    {
        // A peer that waits for something that never comes must not hang
        // the test (xdotool --sync waits for the manager, for one).
        std::string full = "DISPLAY=" + name_ + " timeout 20 " + command +
                           (withErrors ? " 2>&1" : " 2>/dev/null");
        std::string out;
        if (FILE *p = popen(full.c_str(), "r")) {
            char buffer[4096];
            size_t n;
            while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
                out.append(buffer, n);
            pclose(p);
        }
        return out;
    }

    void stop()
    {
        for (pid_t *p : {&manager_, &server_}) {
            if (*p > 0) {
                kill(*p, SIGTERM);
                waitpid(*p, nullptr, 0);
                *p = -1;
            }
        }
    }

private:
    // A child that goes when the test process goes, however it ends (a
    // failed assertion, a crash, the player's _Exit on a lost server).
    static void followParent(pid_t parent)
    {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
    }

    bool start(std::vector<std::string> args, bool manager)
    {
        int fds[2];
        if (pipe(fds))
            return false;
        const pid_t parent = getpid();
        server_ = fork();
        if (server_ == 0) {
            followParent(parent);
            close(fds[0]);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            args.insert(args.begin() + 1, {"-displayfd", std::to_string(fds[1])});
            std::vector<char *> argv;
            for (auto &a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        char c;
        while (poll(&p, 1, 15000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        if (number.empty())
            return false;
        name_ = ":" + number;
        if (manager && !startManager())
            return false;
        return true;
    }

    bool startManager()
    {
        const pid_t parent = getpid();
        manager_ = fork();
        if (manager_ == 0) {
            followParent(parent);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            setenv("DISPLAY", name_.c_str(), 1);
            execlp("openbox", "openbox", "--sm-disable", (char *)nullptr);
            _exit(127);
        }
        // Ready once it announces itself on the root window.
        Display *d = XOpenDisplay(name_.c_str());
        if (!d)
            return false;
        Atom check = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False);
        bool ready = false;
        for (int i = 0; i < 500 && !ready; i++) {
            Atom type;
            int format;
            unsigned long items, after;
            unsigned char *data = nullptr;
            if (XGetWindowProperty(d, DefaultRootWindow(d), check, 0, 1, False, AnyPropertyType,
                                   &type, &format, &items, &after, &data) == Success &&
                items)
                ready = true;
            if (data)
                XFree(data);
            if (!ready)
                usleep(10000);
        }
        XCloseDisplay(d);
        usleep(100000);
        return ready;
    }

    std::string name_;
    pid_t server_ = -1, manager_ = -1;
};
