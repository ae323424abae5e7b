// A small HTTP/1.1 server on 127.0.0.1 for the tests: one thread accepts, one thread serves each
// connection (one request per connection), on Linux optionally over TLS with a certificate made
// at run time (Windows builds have plain HTTP only). Every request is recorded.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace httptest {

struct Request {
    std::string method;
    std::string target;
    std::vector<std::string> headerLines; // as received, without line ends
    std::string body;

    // The value of the first header of that name (case-insensitive), leading blanks removed.
    std::string Header(std::string_view name) const;
    int HeaderCount(std::string_view name) const;
};

struct Response {
    int status = 200;
    std::string reason = "OK";
    std::vector<std::string> headerLines;
    std::string body;
    // Sent as chunks (Transfer-Encoding: chunked) with a pause before each one after the first.
    std::vector<std::string> chunks;
    std::chrono::milliseconds pause{0};
    // Never answer; hold the connection until the client gives up.
    bool silent = false;
};

using Handler = std::function<Response(const Request &)>;

class TestPki;

#ifndef _WIN32
// A certificate authority and a server certificate for 127.0.0.1 signed by it, made at run time
// in a fresh temporary folder (removed with the object).
class TestPki {
public:
    TestPki();
    ~TestPki();
    TestPki(const TestPki &) = delete;
    TestPki &operator=(const TestPki &) = delete;

    // PEM file of the authority, for a client that should trust the server.
    std::string CaFile() const;
    std::string CertFile() const;
    std::string KeyFile() const;

private:
    std::filesystem::path folder_;
};
#endif

class LoopbackServer {
public:
    // Plain HTTP, or HTTPS when `pki` is given (it must outlive the server; Linux only).
    explicit LoopbackServer(Handler handler, const TestPki *pki = nullptr);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer &) = delete;
    LoopbackServer &operator=(const LoopbackServer &) = delete;

    uint16_t Port() const { return port_; }
    // "http://127.0.0.1:port" (or https) followed by `path`.
    std::string Url(std::string_view path) const;
    std::vector<Request> Requests() const;

private:
    struct Tls;
    // A socket: a file descriptor, or a Winsock SOCKET; -1 for none.
    using SocketHandle = std::intptr_t;
    void AcceptLoop();
    void Serve(SocketHandle socket);

    std::shared_ptr<void> sockets_; // the socket library, started while the server lives
    Handler handler_;
    std::unique_ptr<Tls> tls_;
    SocketHandle listenSocket_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<Request> requests_;
    std::vector<std::thread> connections_;
    std::thread acceptor_;
};

// A port on 127.0.0.1 with nothing listening (bound, then released).
uint16_t UnusedPort();

// The routes most tests use (see the .cpp for the list).
Response StandardRoutes(const Request &request);

} // namespace httptest
