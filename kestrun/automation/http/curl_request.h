// The request object of the Linux build, on libcurl (request_object_posix.cpp): its time limits
// and trusted authorities. DefaultRequestFactory makes it with the default options.
#pragma once

#include "kestrun/automation/http/request_object.h"

#include <chrono>
#include <memory>
#include <string>

namespace kestrun::http {

// Time limits of one request. Zero means no limit.
struct RequestLimits {
    // Reaching the server (name lookup, TCP and TLS handshakes).
    std::chrono::milliseconds connect{std::chrono::seconds(60)};
    // Longest time without a single byte arriving once connected.
    std::chrono::milliseconds stall{std::chrono::seconds(30)};
    // The whole request, redirects included.
    std::chrono::milliseconds total{std::chrono::minutes(10)};
};

struct RequestOptions {
    RequestLimits limits;
    // A file of trusted certificate authorities (PEM) used in place of the system store;
    // empty for the system store.
    std::string trustedCertificates;
};

// The libcurl-based object with the given options.
std::unique_ptr<RequestObject> CreateCurlRequest(ObjectKind kind, const RequestOptions &options);

} // namespace kestrun::http
