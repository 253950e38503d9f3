#include "platform/qx_process.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <strings.h>
#include <vector>

#include "platform/qx_memory.h"
#include "platform/qx_paths.h"
#include "platform/qx_text.h"
#include "platform/qx_threadevents.h"

namespace {

struct QxFree {
    void operator()(void *p) const { qxFree(p); }
};

bool isExecutableFile(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Whether a bare name is found as an executable on PATH.
bool onPath(const char *name)
{
    const char *path = std::getenv("PATH");
    if (!path)
        return false;
    std::string list(path);
    size_t start = 0;
    for (;;) {
        size_t end = list.find(':', start);
        std::string dir = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (dir.empty())
            dir = ".";
        if (isExecutableFile(dir + "/" + name))
            return true;
        if (end == std::string::npos)
            return false;
        start = end + 1;
    }
}

bool endsWithExe(const char *path)
{
    size_t n = std::strlen(path);
    return n >= 6 && !strcasecmp(path + n - 4, ".exe");
}

// Quotes text for the shell so that a document name stays one word.
std::string shellQuote(const char *text)
{
    std::string out = "'";
    for (const char *p = text; *p; p++) {
        if (*p == '\'')
            out += "'\\''";
        else
            out += *p;
    }
    return out + "'";
}

// Splits the argument text of an asynchronous run; 0 or 1055.
int splitArguments(const char *text, std::vector<std::string> &words, std::string &output)
{
    const char *p = text ? text : "";
    bool wantOutput = false;
    for (;;) {
        while (*p == ' ')
            p++;
        if (!*p)
            break;
        std::string word;
        if (*p == '"') {
            const char *close = std::strchr(p + 1, '"');
            if (!close)
                return 1055;
            word.assign(p + 1, close);
            p = close + 1;
        } else {
            const char *end = p;
            while (*end && *end != ' ')
                end++;
            word.assign(p, end);
            p = end;
        }
        if (wantOutput) {
            output = word;
            wantOutput = false;
        } else if (word == ">") {
            wantOutput = true;
        } else if (word.size() > 1 && word[0] == '>') {
            output = word.substr(1);
        } else {
            words.push_back(word);
        }
    }
    // words[0] is the program: 127 arguments at most beside it.
    return words.size() > 128 ? 1055 : 0;
}

void *programThread(void *arg)
{
    qxThreadRecord *record = qxThreadFromArg(arg);
    auto *request = static_cast<qxProgramRequest *>(qxThreadUserData(record));
    request->mutex = qxCreateMutex();
    request->cond = qxCreateCond();
    pid_t pid = 0;
    request->error = (!request->mutex || !request->cond)
                         ? 1000
                         : qxExecute(request->program, request->arguments, 1, &pid);
    if (request->error) {
        if (request->cond)
            qxDeleteCond(request->cond);
        if (request->mutex)
            qxDeleteMutex(request->mutex);
        request->cond = nullptr;
        request->mutex = nullptr;
        qxThreadReportStart(record, 1);
        return nullptr;
    }
    qxThreadSignalStart(record);
    bool waiting = true;
    while (!qxThreadStopRequested(record)) {
        if (waiting) {
            int status = 0;
            pid_t r = waitpid(pid, &status, WNOHANG);
            if (r == pid && WIFEXITED(status)) {
                qxPostThreadEvent(QX_THREADEVENT_PROGRAM_END, qxObjectRef{0, request}, 0, 0, 0, 1);
                waiting = false;
            } else if (r == pid || r < 0) {
                waiting = false; // ended by a signal, or no longer ours
            }
        }
        qxDelay(10);
    }
    qxWaitThreadEnd(record);
    qxDeleteCond(request->cond);
    qxDeleteMutex(request->mutex);
    request->cond = nullptr;
    request->mutex = nullptr;
    return nullptr;
}

} // namespace

extern "C" {

int qxIsDocument(const char *path)
{
    if (std::strstr(path, "://"))
        return 1; // a URL
    const char *slash = std::strrchr(path, '/');
    const char *file = slash ? slash + 1 : path;
    if (!std::strchr(file, '.') || endsWithExe(path))
        return 0;
    // "python3.11" or "./run.sh" are programs: only files that cannot be
    // run are documents.
    return slash ? !isExecutableFile(path) : !onPath(file);
}

int qxExecute(const char *program, const char *arguments, int asynchronous, pid_t *pid)
{
    char native[QX_PATH_MAX];
    if (!qxNativePath(program, native, sizeof native, 1))
        return 1045;
    std::unique_ptr<char, QxFree> converted;
    if (arguments && !qxTextModeUtf8) {
        converted.reset(qxConvertText(arguments, 0, 1));
        if (!converted)
            return 1000;
        arguments = converted.get();
    }
    bool document = qxIsDocument(native);
    if (arguments && !*arguments)
        arguments = nullptr;

    if (!asynchronous) {
        std::string command;
        if (document)
            command = "xdg-open " + shellQuote(native);
        else if (arguments)
            command = shellQuote(native) + " " + arguments;
        else
            command = shellQuote(native);
        int status = std::system(command.c_str());
        (void)status; // the exit status is not the caller's business
        return 0;
    }

    std::vector<std::string> words;
    std::string output;
    if (document) {
        words = {"xdg-open", native};
    } else {
        words.push_back(native);
        if (int r = splitArguments(arguments, words, output))
            return r;
    }
    // Everything the child needs is made before fork: after it only
    // async-signal-safe calls are allowed.
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    const char *outputPath = output.empty() ? nullptr : output.c_str();

    pid_t child = fork();
    if (child < 0)
        return 1579;
    if (child == 0) {
        if (outputPath) {
            int fd = open(outputPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) {
                dup2(fd, 1);
                dup2(fd, 2);
                close(fd);
            }
        }
        execvp(argv[0], argv.data());
        _exit(0);
    }
    if (pid)
        *pid = child;
    return 0;
}

int qxRunProgram(const char *program, const char *arguments, int asynchronous)
{
    return qxExecute(program, arguments, asynchronous, nullptr);
}

int qxStartProgramThread(qxProgramRequest *request)
{
    request->error = 0;
    request->thread = qxCreateServerThread("Zephyrane external program thread", programThread,
                                           request, nullptr, 16384, 0);
    return request->thread ? 0 : 1287;
}

void qxStopProgramThread(qxProgramRequest *request)
{
    if (!request->thread)
        return;
    qxRequestThreadStop(request->thread);
    qxEndServerThread(request->thread);
    request->thread = nullptr;
}
}
