// Network throughput and latency of the player's commands against their
// peers, side by side in one run on loopback:
// - DownloadFile of a sized and a chunked body from nginx against curl
//   (into the null device), and into memory (reported);
// - SendData into a socat sink and ReceiveData from a socat source against
//   socat -u moving the same bytes;
// - 64-byte ping-pong with a socat echo against a C client.
// Usage: bench_net [megabytes (1024)] [chunked megabytes (256)] [rounds (20000)]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/commands/qx_commands.h"
#include "core/vm/lua.h"
#include "net/qx_net.h"
#include "net/qx_netlibs.h"

namespace {

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int freePort()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &n);
    close(fd);
    return ntohs(a.sin_port);
}

bool waitPort(int port)
{
    for (int i = 0; i < 250; i++) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool ok = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
        close(fd);
        if (ok) return true;
        usleep(20000);
    }
    return false;
}

pid_t spawn(const std::string &command)
{
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        execl("/bin/sh", "sh", "-c", ("exec timeout -s KILL 600 " + command).c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    return pid;
}

void stop(pid_t pid)
{
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

double timed(const std::string &command)
{
    double t = now();
    if (std::system(command.c_str()) != 0) return -1;
    return now() - t;
}

// Calls a global command with string and number arguments; leaves results on the stack.
int call(lua_State *L, const char *name, std::initializer_list<std::string> args, int results)
{
    lua_settop(L, 0);
    lua_pushstring(L, name);
    lua_gettable(L, LUA_GLOBALSINDEX);
    for (const std::string &a : args) {
        char *end = nullptr;
        double d = std::strtod(a.c_str(), &end);
        if (!a.empty() && *end == 0) lua_pushnumber(L, d);
        else lua_pushlstring(L, a.data(), a.size());
    }
    return lua_pcall(L, static_cast<int>(args.size()), results, 0);
}

void report(const char *what, double bytes, double ours, double peer, const char *peerName)
{
    std::printf("%-34s player %7.2f GB/s  %-8s %7.2f GB/s  ratio %.2f\n", what, bytes / ours / 1e9, peerName,
                bytes / peer / 1e9, peer / ours);
}

} // namespace

int main(int argc, char **argv)
{
    long long mb = argc > 1 ? std::atoll(argv[1]) : 1024;
    long long chunkedMb = argc > 2 ? std::atoll(argv[2]) : 256;
    int rounds = argc > 3 ? std::atoi(argv[3]) : 20000;
    const char *pingClient = std::getenv("QX_PINGPONG_CLIENT");
    char dirTemplate[] = "/tmp/qxbenchnetXXXXXX";
    std::string dir = mkdtemp(dirTemplate);
    chmod(dir.c_str(), 0755); // nginx workers may run as another user
    std::string www = dir + "/www";
    std::system(("mkdir -p " + www + "/c " + dir + "/tmp").c_str());
    std::system(("truncate -s " + std::to_string(mb) + "M " + www + "/big").c_str());
    std::system(("truncate -s " + std::to_string(chunkedMb) + "M " + www + "/c/big").c_str());
    int port = freePort();
    FILE *conf = std::fopen((dir + "/nginx.conf").c_str(), "w");
    std::fprintf(conf,
                 "daemon off; worker_processes 1; pid %s/nginx.pid; error_log %s/error.log;\n"
                 "events { worker_connections 64; }\n"
                 "http { access_log off; sendfile on; client_body_temp_path %s/tmp;\n"
                 "  server { listen 127.0.0.1:%d; root %s; location /c/ { ssi on; ssi_types *; } } }\n",
                 dir.c_str(), dir.c_str(), dir.c_str(), port, www.c_str());
    std::fclose(conf);
    pid_t nginx = spawn("/usr/sbin/nginx -e " + dir + "/error.log -c " + dir + "/nginx.conf");
    if (!waitPort(port)) {
        std::fprintf(stderr, "nginx did not start\n");
        return 1;
    }
    lua_State *L = lua_open();
    qxOpenNetworkLib(L);
    std::string base = "http://127.0.0.1:" + std::to_string(port);
    double bytes = static_cast<double>(mb) * 1048576.0, cbytes = static_cast<double>(chunkedMb) * 1048576.0;

    auto download = [&](const std::string &url, bool toNull) {
        double t = now();
        lua_settop(L, 0);
        lua_pushstring(L, "downloadfile");
        lua_gettable(L, LUA_GLOBALSINDEX);
        lua_pushstring(L, url.c_str());
        lua_newtable(L);
        if (toNull) {
            lua_pushstring(L, "file");
            lua_pushstring(L, "/dev/null");
            lua_settable(L, -3);
        }
        if (lua_pcall(L, 2, 2, 0) != 0) return -1.0;
        double took = now() - t;
        std::printf("  (%s: %.0f bytes)\n", url.c_str(), lua_tonumber(L, 2));
        return took;
    };
    double curl = timed("curl -s -o /dev/null " + base + "/big");
    double ours = download(base + "/big", true);
    report("DownloadFile sized -> null", bytes, ours, curl, "curl");
    curl = timed("curl -s -o /dev/null " + base + "/c/big");
    ours = download(base + "/c/big", true);
    report("DownloadFile chunked -> null", cbytes, ours, curl, "curl");
    ours = download(base + "/big", false);
    std::printf("%-34s player %7.2f GB/s\n", "DownloadFile sized -> memory", bytes / ours / 1e9);
    stop(nginx);
    // The socat peers read and write the same sparse file.

    // Into a socat sink, against socat itself sending the same bytes.
    std::string piece(8 << 20, 'z');
    int sinkPort = freePort();
    pid_t sink = spawn("socat -u TCP-LISTEN:" + std::to_string(sinkPort) + ",bind=127.0.0.1,reuseaddr OPEN:/dev/null");
    usleep(200000); // a probe would use up the single-connection listener
    double t = now();
    call(L, "openconnection", {"1", "127.0.0.1", std::to_string(sinkPort)}, 0);
    for (double sent = 0; sent < bytes; sent += static_cast<double>(piece.size())) {
        lua_settop(L, 0);
        lua_pushstring(L, "senddata");
        lua_gettable(L, LUA_GLOBALSINDEX);
        lua_pushnumber(L, 1);
        lua_pushlstring(L, piece.data(), piece.size());
        lua_pcall(L, 2, 1, 0);
    }
    call(L, "closeconnection", {"1"}, 0);
    ours = now() - t;
    waitpid(sink, nullptr, 0);
    sink = spawn("socat -u TCP-LISTEN:" + std::to_string(sinkPort) + ",bind=127.0.0.1,reuseaddr OPEN:/dev/null");
    usleep(200000);
    double peer = timed("socat -u OPEN:" + www + "/big TCP:127.0.0.1:" + std::to_string(sinkPort));
    waitpid(sink, nullptr, 0);
    report("SendData -> socat sink", bytes, ours, peer, "socat -u");

    // From a socat source.
    int sourcePort = freePort();
    pid_t source = spawn("socat -u OPEN:" + www + "/big TCP-LISTEN:" + std::to_string(sourcePort) +
                         ",bind=127.0.0.1,reuseaddr");
    usleep(300000);
    t = now();
    call(L, "openconnection", {"1", "127.0.0.1", std::to_string(sourcePort)}, 0);
    double got = 0;
    while (got < bytes) {
        if (call(L, "receivedata", {"1", "1", std::to_string(8 << 20)}, 3) != 0) break;
        double n = lua_tonumber(L, 2);
        if (n <= 0) break;
        got += n;
    }
    call(L, "closeconnection", {"1"}, 0);
    ours = now() - t;
    stop(source);
    source = spawn("socat -u OPEN:" + www + "/big TCP-LISTEN:" + std::to_string(sourcePort) +
                   ",bind=127.0.0.1,reuseaddr");
    usleep(300000);
    peer = timed("socat -u TCP:127.0.0.1:" + std::to_string(sourcePort) + " OPEN:/dev/null");
    stop(source);
    report("ReceiveData <- socat source", bytes, ours, peer, "socat -u");

    // Ping-pong with a socat echo.
    int echoPort = freePort();
    pid_t echo = spawn("socat TCP-LISTEN:" + std::to_string(echoPort) + ",bind=127.0.0.1,reuseaddr,fork PIPE");
    waitPort(echoPort);
    std::string msg(64, 'p');
    call(L, "openconnection", {"2", "127.0.0.1", std::to_string(echoPort)}, 0);
    t = now();
    for (int i = 0; i < rounds; i++) {
        lua_settop(L, 0);
        lua_pushstring(L, "senddata");
        lua_gettable(L, LUA_GLOBALSINDEX);
        lua_pushnumber(L, 2);
        lua_pushlstring(L, msg.data(), msg.size());
        lua_pcall(L, 2, 1, 0);
        call(L, "receivedata", {"2", "1", "64"}, 3);
    }
    double usOurs = (now() - t) / rounds * 1e6;
    call(L, "closeconnection", {"2"}, 0);
    std::string client = pingClient ? pingClient : "./bench_pingpong";
    FILE *p = popen((client + " " + std::to_string(echoPort) + " " + std::to_string(rounds)).c_str(), "r");
    double usPeer = 0;
    if (p && std::fscanf(p, "%lf", &usPeer) != 1) usPeer = 0;
    if (p) pclose(p);
    stop(echo);
    std::printf("%-34s player %7.2f us      C client %7.2f us  ratio %.2f\n", "64-byte ping-pong (socat PIPE)", usOurs,
                usPeer, usOurs / usPeer);
    qxFreeNetObjects();
    lua_close(L);
    std::system(("rm -rf " + dir).c_str());
    return 0;
}
