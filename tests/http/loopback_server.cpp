#include "loopback_server.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace httptest {
namespace {

using namespace std::chrono_literals;

// --- Sockets: Winsock or POSIX ------------------------------------------------------------

#ifdef _WIN32
using NativeSocket = SOCKET;
using SocketLength = int;
constexpr int kSendFlags = 0;
// No TLS in the Windows build; the connection carries a null stand-in for the TLS session.
using SSL = void;

NativeSocket Native(std::intptr_t s) {
    return static_cast<NativeSocket>(s);
}
void CloseSocket(std::intptr_t s) {
    closesocket(Native(s));
}
std::intptr_t OpenSocket() {
    return static_cast<std::intptr_t>(socket(AF_INET, SOCK_STREAM, 0));
}
std::intptr_t AcceptFrom(std::intptr_t listener) {
    return static_cast<std::intptr_t>(accept(Native(listener), nullptr, nullptr));
}
// True when `s` has something to read within `ms` milliseconds.
bool Readable(std::intptr_t s, int ms) {
    WSAPOLLFD p{Native(s), POLLRDNORM, 0};
    return WSAPoll(&p, 1, ms) > 0;
}
#else
using NativeSocket = int;
using SocketLength = socklen_t;
constexpr int kSendFlags = MSG_NOSIGNAL;

NativeSocket Native(std::intptr_t s) {
    return static_cast<NativeSocket>(s);
}
void CloseSocket(std::intptr_t s) {
    close(Native(s));
}
std::intptr_t OpenSocket() {
    return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}
std::intptr_t AcceptFrom(std::intptr_t listener) {
    return accept4(Native(listener), nullptr, nullptr, SOCK_CLOEXEC);
}
bool Readable(std::intptr_t s, int ms) {
    pollfd p{Native(s), POLLIN, 0};
    return poll(&p, 1, ms) > 0;
}
#endif

long Receive(std::intptr_t s, char *buffer, size_t size) {
    return recv(Native(s), buffer, static_cast<int>(size), 0);
}

#ifdef _WIN32
// Winsock, started while the returned holder lives.
class SocketLibrary {
public:
    SocketLibrary() {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
            throw std::runtime_error("test server: WSAStartup");
        }
    }
    ~SocketLibrary() { WSACleanup(); }
    SocketLibrary(const SocketLibrary &) = delete;
    SocketLibrary &operator=(const SocketLibrary &) = delete;
};
std::shared_ptr<void> StartSockets() {
    return std::make_shared<SocketLibrary>();
}
#else
std::shared_ptr<void> StartSockets() {
    return nullptr;
}
#endif

// 127.0.0.1 with the given port (0: any free one).
sockaddr_in Loopback(uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return addr;
}

uint16_t BoundPort(std::intptr_t s) {
    sockaddr_in addr{};
    SocketLength len = sizeof addr;
    getsockname(Native(s), reinterpret_cast<sockaddr *>(&addr), &len);
    return ntohs(addr.sin_port);
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

void Check(bool ok, const char *what) {
    if (!ok) {
        throw std::runtime_error(std::string("test server: ") + what);
    }
}

// --- Certificates -------------------------------------------------------------------------

#ifndef _WIN32

struct PkeyFree {
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
struct X509Free {
    void operator()(X509 *x) const { X509_free(x); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using Cert = std::unique_ptr<X509, X509Free>;

void AddExtension(X509 *cert, X509V3_CTX *ctx, int nid, const char *value) {
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, ctx, nid, value);
    Check(ext != nullptr, "extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

Cert MakeCert(EVP_PKEY *key, const char *commonName, long serial, X509 *issuer,
              EVP_PKEY *issuerKey) {
    Cert cert(X509_new());
    Check(cert != nullptr, "X509_new");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400);
    X509_set_pubkey(cert.get(), key);
    X509_NAME *name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>(commonName), -1, -1, 0);
    X509_set_issuer_name(cert.get(), issuer != nullptr ? X509_get_subject_name(issuer) : name);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer != nullptr ? issuer : cert.get(), cert.get(), nullptr, nullptr, 0);
    AddExtension(cert.get(), &ctx, NID_subject_key_identifier, "hash");
    if (issuer == nullptr) {
        AddExtension(cert.get(), &ctx, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(cert.get(), &ctx, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExtension(cert.get(), &ctx, NID_basic_constraints, "critical,CA:FALSE");
        AddExtension(cert.get(), &ctx, NID_key_usage, "critical,digitalSignature");
        AddExtension(cert.get(), &ctx, NID_ext_key_usage, "serverAuth");
        AddExtension(cert.get(), &ctx, NID_subject_alt_name, "IP:127.0.0.1");
        AddExtension(cert.get(), &ctx, NID_authority_key_identifier, "keyid:always");
    }
    Check(X509_sign(cert.get(), issuerKey, EVP_sha256()) > 0, "sign");
    return cert;
}

template <class Write> void WritePem(const std::filesystem::path &path, Write write) {
    FILE *f = std::fopen(path.c_str(), "w");
    Check(f != nullptr, "open PEM file");
    const bool ok = write(f) > 0;
    std::fclose(f);
    Check(ok, "write PEM");
}
#endif

// --- Connections --------------------------------------------------------------------------

class Connection {
public:
    Connection(std::intptr_t socket, SSL *ssl) : socket_(socket), ssl_(ssl) {}
    ~Connection() {
#ifndef _WIN32
        if (ssl_ != nullptr) {
            SSL_shutdown(ssl_);
            SSL_free(ssl_);
        }
#endif
        CloseSocket(socket_);
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Waits (in short slices, giving up when `stopping` is set or after 10 s) and reads.
    long Read(char *buffer, size_t size, const std::atomic<bool> &stopping) {
        bool readable = false;
        for (int slices = 0; slices < 200 && !readable; ++slices) {
            if (stopping) {
                return -1;
            }
            readable = Pending() || Readable(socket_, 50);
        }
        if (!readable) {
            return -1;
        }
#ifndef _WIN32
        if (ssl_ != nullptr) {
            return SSL_read(ssl_, buffer, static_cast<int>(size));
        }
#endif
        return Receive(socket_, buffer, size);
    }

    bool Write(std::string_view data) {
        while (!data.empty()) {
            const long n = Send(data);
            if (n <= 0) {
                return false;
            }
            data.remove_prefix(static_cast<size_t>(n));
        }
        return true;
    }

    // Holds the connection without answering until the peer closes it or the server stops.
    void Hold(const std::atomic<bool> &stopping) {
        char scratch[256];
        while (!stopping) {
            if (Readable(socket_, 50) && Receive(socket_, scratch, sizeof scratch) <= 0) {
                return;
            }
        }
    }

private:
    // Decrypted bytes already waiting in the TLS session.
    bool Pending() const {
#ifndef _WIN32
        return ssl_ != nullptr && SSL_pending(ssl_) > 0;
#else
        return false;
#endif
    }

    long Send(std::string_view data) {
        const int size = static_cast<int>(std::min<size_t>(data.size(), 1 << 30));
#ifndef _WIN32
        if (ssl_ != nullptr) {
            return SSL_write(ssl_, data.data(), size);
        }
#endif
        return send(Native(socket_), data.data(), size, kSendFlags);
    }

    std::intptr_t socket_;
    SSL *ssl_;
};

bool ReadRequest(Connection &conn, const std::atomic<bool> &stopping, Request &request) {
    std::string data;
    char buffer[4096];
    size_t headerEnd = std::string::npos;
    while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
        const long n = conn.Read(buffer, sizeof buffer, stopping);
        if (n <= 0) {
            return false;
        }
        data.append(buffer, static_cast<size_t>(n));
    }
    std::string_view head(data.data(), headerEnd);
    size_t lineEnd = head.find("\r\n");
    const std::string_view requestLine = head.substr(0, lineEnd);
    const size_t sp1 = requestLine.find(' ');
    const size_t sp2 = requestLine.rfind(' ');
    request.method = std::string(requestLine.substr(0, sp1));
    request.target = std::string(requestLine.substr(sp1 + 1, sp2 - sp1 - 1));
    while (lineEnd != std::string_view::npos) {
        const size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        request.headerLines.emplace_back(head.substr(start, lineEnd - start));
    }
    const size_t length = std::strtoul(request.Header("Content-Length").c_str(), nullptr, 10);
    request.body = data.substr(headerEnd + 4);
    while (request.body.size() < length) {
        const long n = conn.Read(buffer, sizeof buffer, stopping);
        if (n <= 0) {
            return false;
        }
        request.body.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

void WriteResponse(Connection &conn, const Response &response, const std::atomic<bool> &stopping) {
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + response.reason +
                       "\r\nConnection: close\r\n";
    for (const std::string &line : response.headerLines) {
        head += line + "\r\n";
    }
    if (response.chunks.empty()) {
        head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n\r\n";
        conn.Write(head + response.body);
        return;
    }
    head += "Transfer-Encoding: chunked\r\n\r\n";
    if (!conn.Write(head)) {
        return;
    }
    bool first = true;
    for (const std::string &chunk : response.chunks) {
        if (!first) {
            std::this_thread::sleep_for(response.pause);
        }
        first = false;
        char size[32];
        std::snprintf(size, sizeof size, "%zx\r\n", chunk.size());
        if (stopping || !conn.Write(size + chunk + "\r\n")) {
            return;
        }
    }
    conn.Write("0\r\n\r\n");
}

std::string QueryValue(std::string_view target, std::string_view key) {
    const size_t q = target.find('?');
    if (q == std::string_view::npos) {
        return {};
    }
    std::string_view query = target.substr(q + 1);
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        if (pair.substr(0, pair.find('=')) == key && pair.find('=') != std::string_view::npos) {
            return std::string(pair.substr(pair.find('=') + 1));
        }
        if (amp == std::string_view::npos) {
            break;
        }
        query.remove_prefix(amp + 1);
    }
    return {};
}

} // namespace

std::string Request::Header(std::string_view name) const {
    for (const std::string &line : headerLines) {
        const size_t colon = line.find(':');
        if (colon != std::string::npos && SameName(std::string_view(line).substr(0, colon), name)) {
            const size_t value = line.find_first_not_of(" \t", colon + 1);
            return value == std::string::npos ? std::string() : line.substr(value);
        }
    }
    return {};
}

int Request::HeaderCount(std::string_view name) const {
    int count = 0;
    for (const std::string &line : headerLines) {
        const size_t colon = line.find(':');
        if (colon != std::string::npos && SameName(std::string_view(line).substr(0, colon), name)) {
            ++count;
        }
    }
    return count;
}

#ifndef _WIN32
TestPki::TestPki() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrun-pki-XXXXXX").string();
    Check(mkdtemp(pattern.data()) != nullptr, "temporary folder");
    folder_ = pattern;
    Pkey caKey(EVP_EC_gen("P-256"));
    Pkey serverKey(EVP_EC_gen("P-256"));
    Check(caKey && serverKey, "key generation");
    Cert ca = MakeCert(caKey.get(), "Kestrun Test Authority", 1, nullptr, caKey.get());
    Cert server = MakeCert(serverKey.get(), "127.0.0.1", 2, ca.get(), caKey.get());
    WritePem(CaFile(), [&](FILE *f) { return PEM_write_X509(f, ca.get()); });
    WritePem(CertFile(), [&](FILE *f) { return PEM_write_X509(f, server.get()); });
    WritePem(KeyFile(), [&](FILE *f) {
        return PEM_write_PrivateKey(f, serverKey.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
}

TestPki::~TestPki() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::string TestPki::CaFile() const {
    return (folder_ / "ca.pem").string();
}
std::string TestPki::CertFile() const {
    return (folder_ / "server.pem").string();
}
std::string TestPki::KeyFile() const {
    return (folder_ / "server-key.pem").string();
}

struct LoopbackServer::Tls {
    SSL_CTX *ctx = nullptr;
    ~Tls() { SSL_CTX_free(ctx); }
};

#else
struct LoopbackServer::Tls {};
#endif

LoopbackServer::LoopbackServer(Handler handler, const TestPki *pki)
    : sockets_(StartSockets()), handler_(std::move(handler)) {
#ifdef _WIN32
    Check(pki == nullptr, "no TLS in this build");
#else
    if (pki != nullptr) {
        tls_ = std::make_unique<Tls>();
        tls_->ctx = SSL_CTX_new(TLS_server_method());
        Check(tls_->ctx != nullptr, "SSL_CTX_new");
        Check(SSL_CTX_use_certificate_file(tls_->ctx, pki->CertFile().c_str(), SSL_FILETYPE_PEM) ==
                  1,
              "server certificate");
        Check(SSL_CTX_use_PrivateKey_file(tls_->ctx, pki->KeyFile().c_str(), SSL_FILETYPE_PEM) == 1,
              "server key");
    }
#endif
    listenSocket_ = OpenSocket();
    Check(listenSocket_ != -1, "socket");
    const sockaddr_in addr = Loopback(0);
    Check(bind(Native(listenSocket_), reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0,
          "bind");
    Check(listen(Native(listenSocket_), 256) == 0, "listen");
    port_ = BoundPort(listenSocket_);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    stopping_ = true;
    acceptor_.join();
    for (std::thread &t : connections_) {
        t.join();
    }
    CloseSocket(listenSocket_);
}

std::string LoopbackServer::Url(std::string_view path) const {
    return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) +
           std::string(path);
}

std::vector<Request> LoopbackServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void LoopbackServer::AcceptLoop() {
    while (!stopping_) {
        if (!Readable(listenSocket_, 20)) {
            continue;
        }
        const std::intptr_t socket = AcceptFrom(listenSocket_);
        if (socket == -1) {
            continue;
        }
        // Only this thread touches the list until the destructor joins it.
        connections_.emplace_back([this, socket] { Serve(socket); });
    }
}

void LoopbackServer::Serve(SocketHandle socket) {
    SSL *ssl = nullptr;
#ifndef _WIN32
    if (tls_) {
        ssl = SSL_new(tls_->ctx);
        SSL_set_fd(ssl, Native(socket));
        if (SSL_accept(ssl) != 1) {
            SSL_free(ssl);
            CloseSocket(socket);
            return;
        }
    }
#endif
    Connection conn(socket, ssl);
    Request request;
    if (!ReadRequest(conn, stopping_, request)) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }
    const Response response = handler_(request);
    if (response.silent) {
        conn.Hold(stopping_);
        return;
    }
    WriteResponse(conn, response, stopping_);
}

uint16_t UnusedPort() {
    const auto sockets = StartSockets();
    const std::intptr_t socket = OpenSocket();
    const sockaddr_in addr = Loopback(0);
    bind(Native(socket), reinterpret_cast<const sockaddr *>(&addr), sizeof addr);
    const uint16_t port = BoundPort(socket);
    CloseSocket(socket);
    return port;
}

// Routes:
//   /hello               "hello world", text/plain
//   /status/404, /status/500   an error page, returned like any body
//   /zero                "ab", a zero byte, "cd"
//   /empty               no body at all
//   /gbk, /gb2312        你好，世界 in GBK, declared GBK / "GB2312" (quoted)
//   /utf8                你好，世界 in UTF-8, declared utf-8
//   /plain-utf8          你好，世界 in UTF-8, no charset
//   /latin1              café in ISO-8859-1
//   /bom16               你好 in UTF-16LE with a byte-order mark, no charset
//   /gzip                "hello compressed world", gzip-encoded
//   /chunked, /slow      "one two three" in three chunks (/slow pauses 150 ms between them)
//   /silent              never answers
//   /redirect/N          302 to /redirect/N-1; /redirect/0 answers "redirected home"
//   /login               302 setting the cookie session=s3cr3t, to /whoami
//   /whoami              "cookie=" and the Cookie header received
//   /see-other, /temporary    303 / 307 to /echo
//   /echo                "method=M", "body=B" and every request header line, one per line
//   /delay?ms=N&id=K     after N ms, "id=K"
Response StandardRoutes(const Request &request) {
    Response r;
    const std::string path = request.target.substr(0, request.target.find('?'));
    const std::string nihaoGbk = "\xC4\xE3\xBA\xC3\xA3\xAC\xCA\xC0\xBD\xE7";
    const std::string nihaoUtf8 = "\xE4\xBD\xA0\xE5\xA5\xBD\xEF\xBC\x8C\xE4\xB8\x96\xE7\x95\x8C";
    if (path == "/hello") {
        r.headerLines = {"Content-Type: text/plain", "X-Server-Note: loopback"};
        r.body = "hello world";
    } else if (path == "/status/404") {
        r.status = 404;
        r.reason = "Not Found";
        r.headerLines = {"Content-Type: text/plain"};
        r.body = "no such page";
    } else if (path == "/status/500") {
        r.status = 500;
        r.reason = "Internal Server Error";
        r.headerLines = {"Content-Type: text/plain"};
        r.body = "server broke";
    } else if (path == "/zero") {
        r.headerLines = {"Content-Type: application/octet-stream"};
        r.body = std::string("ab\0cd", 5);
    } else if (path == "/empty") {
        r.headerLines = {"Content-Type: text/plain"};
    } else if (path == "/gbk") {
        r.headerLines = {"Content-Type: text/html; charset=GBK"};
        r.body = nihaoGbk;
    } else if (path == "/gb2312") {
        r.headerLines = {"Content-Type: text/html; charset=\"GB2312\""};
        r.body = nihaoGbk;
    } else if (path == "/utf8") {
        r.headerLines = {"Content-Type: text/html; charset=utf-8"};
        r.body = nihaoUtf8;
    } else if (path == "/plain-utf8") {
        r.headerLines = {"Content-Type: text/html"};
        r.body = nihaoUtf8;
    } else if (path == "/latin1") {
        r.headerLines = {"Content-Type: text/plain; charset=ISO-8859-1"};
        r.body = "caf\xE9";
    } else if (path == "/bom16") {
        r.headerLines = {"Content-Type: text/plain"};
        r.body = std::string("\xFF\xFE\x60\x4F\x7D\x59", 6);
    } else if (path == "/gzip") {
        r.headerLines = {"Content-Type: text/plain", "Content-Encoding: gzip"};
        r.body = std::string("\x1F\x8B\x08\x00\x00\x00\x00\x00\x02\xFF\xCB\x48\xCD\xC9\xC9\x57\x48"
                             "\xCE\xCF\x2D\x28\x4A\x2D\x2E\x4E\x4D\x51\x28\xCF\x2F\xCA\x49\x01\x00"
                             "\xA1\x2D\x94\x53\x16\x00\x00\x00",
                             42);
    } else if (path == "/chunked" || path == "/slow") {
        r.headerLines = {"Content-Type: text/plain"};
        r.chunks = {"one ", "two ", "three"};
        r.pause = path == "/slow" ? 150ms : 0ms;
    } else if (path == "/silent") {
        r.silent = true;
    } else if (path.starts_with("/redirect/")) {
        const int n = std::atoi(path.c_str() + 10);
        if (n > 0) {
            r.status = 302;
            r.reason = "Found";
            r.headerLines = {"Location: /redirect/" + std::to_string(n - 1),
                             "X-Hop: " + std::to_string(n)};
        } else {
            r.headerLines = {"Content-Type: text/plain", "X-Final: yes"};
            r.body = "redirected home";
        }
    } else if (path == "/login") {
        r.status = 302;
        r.reason = "Found";
        r.headerLines = {"Set-Cookie: session=s3cr3t; Path=/", "Location: /whoami"};
    } else if (path == "/whoami") {
        r.headerLines = {"Content-Type: text/plain"};
        r.body = "cookie=" + request.Header("Cookie");
    } else if (path == "/see-other" || path == "/temporary") {
        r.status = path == "/see-other" ? 303 : 307;
        r.reason = "Moved";
        r.headerLines = {"Location: /echo"};
    } else if (path == "/echo") {
        r.headerLines = {"Content-Type: text/plain; charset=utf-8"};
        r.body = "method=" + request.method + "\nbody=" + request.body + "\n";
        for (const std::string &line : request.headerLines) {
            r.body += line + "\n";
        }
    } else if (path == "/delay") {
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::atoi(QueryValue(request.target, "ms").c_str())));
        r.headerLines = {"Content-Type: text/plain"};
        r.body = "id=" + QueryValue(request.target, "id");
    } else {
        r.status = 404;
        r.reason = "Not Found";
        r.body = "unknown route";
    }
    return r;
}

} // namespace httptest
