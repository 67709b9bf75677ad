// Load client for the visit-intake benchmark. Sends requests from concurrent clients over
// loopback: each request is a fresh TCP connection that sends one request header with a unique
// referer and waits until the server closes the connection. Prints the rate, the median and
// 99th-percentile time from sending to the close, and the failures. With "tls" each connection
// first makes a full TLS handshake (no session reuse; the certificate is not checked) and the
// request goes through it; the time then runs from the connection's start to the close.
//
//   bench_intake_client PORT [REQUESTS=10000] [CLIENTS=50] [TAG=run] [tls]
//
// The environment may shape the referers: BENCH_PAGES=N cycles through N pages instead of a new
// one per request (a site's ordinary visits); BENCH_PAGE_CHARS=N pads each referer to N
// characters (visitors sending the longest pages).
//
// Plain POSIX sockets, OpenSSL and threads; no Qt, so the client costs the same against every
// server.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

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

int g_pages = 0; // BENCH_PAGES
std::size_t g_pageChars = 0; // BENCH_PAGE_CHARS

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

// One request over TLS on a connected socket; true when the server closed after it.
bool tlsRequest(SSL_CTX *context, int fd, const std::string &request)
{
    SSL *ssl = SSL_new(context);
    if (!ssl)
        return false;
    SSL_set_fd(ssl, fd);
    char host[] = "bench.example"; // SSL_set_tlsext_host_name, without the macro's cast
    SSL_ctrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name, host);
    bool good = SSL_connect(ssl) == 1 && SSL_write(ssl, request.data(), int(request.size())) == int(request.size());
    char buffer[4096];
    while (good) {
        const int got = SSL_read(ssl, buffer, sizeof buffer);
        if (got > 0)
            continue;
        const int error = SSL_get_error(ssl, got);
        // The end: a close_notify, or the connection closed (or reset) without one.
        good = error == SSL_ERROR_ZERO_RETURN || (error == SSL_ERROR_SYSCALL && (errno == 0 || errno == ECONNRESET));
        break;
    }
    SSL_free(ssl);
    ERR_clear_error();
    return good;
}

void client(int port, int total, const std::string &tag, SSL_CTX *tls, Totals &totals, std::vector<double> &latencies)
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
        std::string referer
            = "http://bench.example/" + tag + "/page-" + std::to_string(g_pages > 0 ? id % g_pages : id);
        if (referer.size() < g_pageChars)
            referer.append(g_pageChars - referer.size(), 'x');
        const std::string request = "GET /pixel.gif HTTP/1.1\r\nHost: 127.0.0.1\r\nReferer: " + referer
            + "\r\nUser-Agent: vistelle-bench\r\nConnection: close\r\n\r\n";
        const auto start = Clock::now();
        bool good = tls ? tlsRequest(tls, fd, request) : sendAll(fd, request.data(), request.size());
        while (good && !tls) {
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
    if (const char *pages = std::getenv("BENCH_PAGES"))
        g_pages = std::max(0, std::atoi(pages));
    if (const char *chars = std::getenv("BENCH_PAGE_CHARS"))
        g_pageChars = std::size_t(std::max(0, std::atoi(chars)));
    SSL_CTX *tls = nullptr;
    if (argc > 5 && std::string(argv[5]) == "tls") {
        tls = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_min_proto_version(tls, TLS1_2_VERSION);
        SSL_CTX_set_verify(tls, SSL_VERIFY_NONE, nullptr);
        SSL_CTX_set_session_cache_mode(tls, SSL_SESS_CACHE_OFF);
        // A close without close_notify (the program's way) ends a request like nginx's close.
        SSL_CTX_set_options(tls, SSL_OP_IGNORE_UNEXPECTED_EOF);
    }

    Totals totals;
    std::vector<std::vector<double>> latencies(static_cast<size_t>(clients));
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    for (int i = 0; i < clients; ++i)
        threads.emplace_back(
            client, port, total, std::cref(tag), tls, std::ref(totals), std::ref(latencies[size_t(i)]));
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
    SSL_CTX_free(tls);
    return totals.ok.load() == total ? 0 : 1;
}
