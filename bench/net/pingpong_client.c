/* The C peer of the ping-pong benchmark: 64-byte round trips with blocking
 * send and recv. Usage: bench_pingpong PORT ROUNDS; prints microseconds a round. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 3) return 2;
    int rounds = atoi(argv[2]);
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in a = {0};
    a.sin_family = AF_INET;
    a.sin_port = htons((unsigned short)atoi(argv[1]));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, (struct sockaddr *)&a, sizeof a) != 0) return 1;
    char buf[64] = {0};
    struct timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    for (int i = 0; i < rounds; i++) {
        if (send(fd, buf, sizeof buf, 0) != (ssize_t)sizeof buf) return 1;
        size_t got = 0;
        while (got < sizeof buf) {
            ssize_t n = recv(fd, buf + got, sizeof buf - got, 0);
            if (n <= 0) return 1;
            got += (size_t)n;
        }
    }
    clock_gettime(CLOCK_MONOTONIC, &t1);
    double us = ((t1.tv_sec - t0.tv_sec) * 1e6 + (t1.tv_nsec - t0.tv_nsec) / 1e3) / rounds;
    printf("%.2f\n", us);
    close(fd);
    return 0;
}
