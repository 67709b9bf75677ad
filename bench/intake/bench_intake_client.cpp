// Load client for the visit-intake benchmark. Sends requests from concurrent clients over
// loopback: each request is a fresh TCP connection that sends one request header with a unique
// referer and waits until the server closes the connection. Prints the rate, the median and
// 99th-percentile time from sending to the close, and the failures.
//
//   bench_intake_client PORT [REQUESTS=10000] [CLIENTS=50] [TAG=run]
//
// Plain POSIX sockets and threads; no Qt, so the client costs the same against every server.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Totals
{
    std::atomic<int> next { 0 };
    std::atomic<int> ok { 0 };
    std::atomic<int> refused { 0 };
    std::atomic<int> failed { 0 };
};

bool sendAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += sent;
        size -= size_t(sent);
    }
    return true;
}

void client(int port, int total, const std::string &tag, Totals &totals, std::vector<double> &latencies)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    char buffer[4096];
    for (;;) {
        const int id = totals.next.fetch_add(1);
        if (id >= total)
            return;
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            ++totals.failed;
            continue;
        }
        timeval timeout { 10, 0 };
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
            if (errno == ECONNREFUSED)
                ++totals.refused;
            else
                ++totals.failed;
            ::close(fd);
            continue;
        }
        const std::string request = "GET /pixel.gif HTTP/1.1\r\nHost: 127.0.0.1\r\nReferer: http://bench.example/" + tag
            + "/page-" + std::to_string(id) + ".htm\r\nUser-Agent: vistelle-bench\r\nConnection: close\r\n\r\n";
        const auto start = Clock::now();
        bool good = sendAll(fd, request.data(), request.size());
        while (good) {
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got == 0)
                break; // the server closed the connection
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                good = errno == ECONNRESET; // a close with reset still ends the request
                break;
            }
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        ::close(fd);
        if (good) {
            ++totals.ok;
            latencies.push_back(ms);
        } else {
            ++totals.failed;
        }
    }
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PORT [REQUESTS] [CLIENTS] [TAG]\n", argv[0]);
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const int total = argc > 2 ? std::atoi(argv[2]) : 10000;
    const int clients = argc > 3 ? std::atoi(argv[3]) : 50;
    const std::string tag = argc > 4 ? argv[4] : "run";

    Totals totals;
    std::vector<std::vector<double>> latencies(static_cast<size_t>(clients));
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    for (int i = 0; i < clients; ++i)
        threads.emplace_back(client, port, total, std::cref(tag), std::ref(totals), std::ref(latencies[size_t(i)]));
    for (std::thread &t : threads)
        t.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    std::vector<double> all;
    for (const auto &list : latencies)
        all.insert(all.end(), list.begin(), list.end());
    std::sort(all.begin(), all.end());
    const auto percentile = [&all](double p) {
        if (all.empty())
            return 0.0;
        const size_t index = std::min(all.size() - 1, size_t(p * double(all.size() - 1) + 0.5));
        return all[index];
    };
    // One line for scripts, then the same for people.
    std::printf("RESULT ok=%d refused=%d failed=%d seconds=%.3f rate=%.0f median_ms=%.3f p99_ms=%.3f\n",
        totals.ok.load(), totals.refused.load(), totals.failed.load(), seconds,
        seconds > 0 ? totals.ok.load() / seconds : 0.0, percentile(0.5), percentile(0.99));
    return totals.ok.load() == total ? 0 : 1;
}
