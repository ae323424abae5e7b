// The HTTP request object the XMLHTTP exports drive, and the per-call apartment around it.
//
// The object offers the operations of the Windows XMLHTTP request interface that the exports use,
// in the interface's order: open, setRequestHeader, getAllResponseHeaders, send, responseText and
// responseStream. Strings cross it as UTF-16, methods report an HRESULT, and a string the object
// cannot hand back is an empty optional (the null BSTR of the Windows object). Callers decide which
// results they look at; the exports look at none of the HRESULTs.
#pragma once

#include "kestrun/interop/result_buffer.h"
#include "oleauto.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kestrun::http {

// The three request-object kinds, chosen by number.
enum class ObjectKind : int32_t {
    Client = 0,   // "Microsoft.XMLHTTP"
    Server = 1,   // "MSXML2.ServerXMLHTTP"
    ClientV6 = 2, // "Msxml2.XMLHTTP.6.0"
};

// The name of a kind as used in messages; empty for a number that is no kind.
std::string_view ObjectKindName(int32_t kind);

enum class SeekOrigin { Begin, Current, End };

// The response body as a stream of bytes with a position.
class ResponseStream {
public:
    virtual ~ResponseStream() = default;
    // Moves the position; `newPosition` (may be null) receives it.
    virtual HRESULT Seek(int64_t offset, SeekOrigin origin, uint64_t *newPosition) = 0;
    // Reads up to `size` bytes from the position into `buffer`; `bytesRead` (may be null)
    // receives the count.
    virtual HRESULT Read(void *buffer, ULONG size, ULONG *bytesRead) = 0;
};

class RequestObject {
public:
    virtual ~RequestObject() = default;

    // Prepares a request; the exports open synchronous requests only (`async` false).
    virtual HRESULT open(std::u16string_view method, std::u16string_view url, bool async) = 0;
    // Adds one request header (after open, before send).
    virtual HRESULT setRequestHeader(std::u16string_view name, std::u16string_view value) = 0;
    // The header lines of the final response, each ended by CR LF, without the status line.
    virtual HRESULT getAllResponseHeaders(std::optional<std::u16string> *headers) = 0;
    // Sends the request and returns when the response is complete or the request has failed.
    // A text body is sent as UTF-8; nullopt sends no body.
    virtual HRESULT send(const std::optional<std::u16string> &body) = 0;
    // The body decoded as text.
    virtual HRESULT responseText(std::optional<std::u16string> *text) = 0;
    // The body's bytes as a stream, or null.
    virtual HRESULT responseStream(std::unique_ptr<ResponseStream> *stream) = 0;

    // A shortcut past responseText and responseStream for objects that can take it: hands the
    // body over in the buffer it was received into, without copying it, as its bytes (`asText`
    // false) or as the text responseText gives, already in code page 936 (`asText` true). The
    // object keeps no body afterwards. nullopt when the object has no such shortcut or no response;
    // the caller then uses the two properties.
    virtual std::optional<interop::GrowingResult> TakeBody(bool asText) {
        (void)asText;
        return std::nullopt;
    }

    // The object's description of why the last failing call failed (empty when none failed).
    virtual std::u16string ErrorDescription() const = 0;

    // What scripts' own request objects need beyond the exports (the Linux object has them; the
    // others answer E_NOTIMPL).

    // send with a body of bytes sent as they are.
    virtual HRESULT sendBytes(std::string_view body) {
        (void)body;
        return E_NOTIMPL;
    }
    // The final response's status code and reason phrase.
    virtual HRESULT status(int32_t *code, std::u16string *reason) {
        (void)code;
        (void)reason;
        return E_NOTIMPL;
    }
    // Why the last send failed.
    enum class Failure { None, Resolve, Connect, Timeout, Certificate, Other };
    virtual Failure LastFailure() const { return Failure::Other; }
};

// Makes a request object of a kind; null when it cannot be made.
using RequestObjectFactory = std::function<std::unique_ptr<RequestObject>(ObjectKind)>;

// The factory the exports use: the platform's request object (request_object_posix.cpp,
// request_object_win32.cpp).
RequestObjectFactory DefaultRequestFactory();

// The HTTP machinery's per-thread use, held for the length of one call: on Windows the calling
// thread's COM apartment, on Linux libcurl's global initialisation. Counted: nested apartments
// on one thread are fine, and each undoes only what it did.
class Apartment {
public:
    Apartment();
    ~Apartment();
    Apartment(const Apartment &) = delete;
    Apartment &operator=(const Apartment &) = delete;

private:
    bool initialised_;
};

} // namespace kestrun::http
