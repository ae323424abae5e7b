// MSXML2.XMLHTTP, MSXML2.ServerXMLHTTP, Microsoft.XMLHTTP and WinHttp.WinHttpRequest.5.1 for
// scripts, on the request object the HTTP exports use. Requests are synchronous only: an open
// asking for an asynchronous request raises an error.
//
// A request that does not complete raises the error the Windows object raises for it: the
// XMLHTTP objects report INET_E_RESOURCE_NOT_FOUND (0x800C0005) for an unreachable server, the
// server-side and WinHTTP objects the WinHTTP error (0x80072EFD cannot connect, 0x80072EE7 name
// not resolved, 0x80072EE2 timed out, 0x80072F8F certificate refused); Err.Description carries the
// system's text followed by the transport's own reason.
#include "kestrun/automation/http/curl_request.h"
#include "kestrun/automation/http/request_object.h"
#include "kestrun/automation/http/request_wire.h"
#include "kestrun/automation/scripting/args.h"
#include "kestrun/automation/scripting/bytes.h"
#include "kestrun/automation/scripting/objects.h"
#include "kestrun/automation/scripting/response_headers.h"
#include "kestrun/codecs/base64.h"
#include "kestrun/interop/codepage.h"
#include "vbscript/ops.h"

#include <chrono>
#include <vector>

namespace kestrun::scripting {

namespace {

using http::RequestObject;
using interop::WideToUtf8;
using vbscript::Object;
using vbscript::ScriptError;

enum class Family { Client, ClientV6, Server, WinHttp };

constexpr int32_t kPending = static_cast<int32_t>(0x8000000A);
constexpr int32_t kNotImplemented = static_cast<int32_t>(0x80004001);
constexpr int32_t kInvalidArg = static_cast<int32_t>(0x80070057);
constexpr int32_t kUnexpected = static_cast<int32_t>(0x8000FFFF);
constexpr int32_t kResourceNotFound = static_cast<int32_t>(0x800C0005);
constexpr int32_t kWinHttpTimeout = static_cast<int32_t>(0x80072EE2);
constexpr int32_t kWinHttpNameNotResolved = static_cast<int32_t>(0x80072EE7);
constexpr int32_t kWinHttpCannotConnect = static_cast<int32_t>(0x80072EFD);
constexpr int32_t kWinHttpWrongState = static_cast<int32_t>(0x80072EF3);
constexpr int32_t kWinHttpHeaderNotFound = static_cast<int32_t>(0x80072F76);
constexpr int32_t kWinHttpSecureFailure = static_cast<int32_t>(0x80072F8F);

class XmlHttp final : public Object {
public:
    explicit XmlHttp(Family family) : family_(family) {}

    std::u16string typeName() const override {
        switch (family_) {
        case Family::Server:
            return u"IServerXMLHTTPRequest2";
        case Family::WinHttp:
            return u"IWinHttpRequest";
        default:
            return u"IXMLHTTPRequest";
        }
    }

    Value get(Interp &in, std::u16string_view name, Args args) override {
        if (name == u"open") {
            CheckArgCount(args, 2, 5);
            Open(in, args);
            return {};
        }
        if (name == u"setrequestheader") {
            CheckArgCount(args, 2, 2);
            SetRequestHeader(ArgText(in, args, 0), ArgText(in, args, 1));
            return {};
        }
        if (name == u"send") {
            CheckArgCount(args, 0, 1);
            Send(in, args);
            return {};
        }
        if (name == u"readystate" && family_ != Family::WinHttp) {
            CheckArgCount(args, 0, 0);
            return Value::lng(response_ ? 4 : opened_ ? 1 : 0);
        }
        if (name == u"status" || name == u"statustext") {
            CheckArgCount(args, 0, 0);
            RequireResponse();
            int32_t code = 0;
            std::u16string reason;
            response_->status(&code, &reason);
            if (name == u"status")
                return Value::lng(code);
            return Value::str(reason.empty() ? std::u16string(StandardReason(code)) : reason);
        }
        if (name == u"responsetext") {
            CheckArgCount(args, 0, 0);
            RequireResponse();
            std::optional<std::u16string> text;
            response_->responseText(&text);
            return Value::str(text ? std::move(*text) : std::u16string());
        }
        if (name == u"responsebody") {
            CheckArgCount(args, 0, 0);
            RequireResponse();
            return MakeByteArray(Body());
        }
        if (name == u"getallresponseheaders") {
            CheckArgCount(args, 0, 0);
            RequireResponse();
            std::optional<std::u16string> headers;
            response_->getAllResponseHeaders(&headers);
            return Value::str(headers ? std::move(*headers) : std::u16string());
        }
        if (name == u"getresponseheader") {
            CheckArgCount(args, 1, 1);
            RequireResponse();
            std::optional<std::u16string> headers;
            response_->getAllResponseHeaders(&headers);
            std::optional<std::u16string> value =
                FindResponseHeader(headers ? *headers : std::u16string(), ArgText(in, args, 0));
            if (!value && family_ == Family::WinHttp)
                Raise(kWinHttpHeaderNotFound, u"The requested header was not found");
            return Value::str(value ? std::move(*value) : std::u16string());
        }
        if (name == u"abort") {
            CheckArgCount(args, 0, 0);
            opened_ = false;
            response_.reset();
            headers_.clear();
            return {};
        }
        if (name == u"settimeouts" && family_ != Family::Client && family_ != Family::ClientV6) {
            CheckArgCount(args, 4, 4);
            // Resolving, connecting, sending, receiving: milliseconds, 0 or -1 for no limit.
            const int32_t connect = ArgLong(in, args, 1);
            const int32_t receive = ArgLong(in, args, 3);
            for (size_t i = 0; i < 4; ++i)
                if (ArgLong(in, args, i) < -1)
                    Raise(kInvalidArg, u"The parameter is incorrect.");
            limits_.connect = std::chrono::milliseconds(connect > 0 ? connect : 0);
            limits_.stall = std::chrono::milliseconds(receive > 0 ? receive : 0);
            return {};
        }
        if (name == u"waitforresponse" && family_ != Family::Client &&
            family_ != Family::ClientV6) {
            CheckArgCount(args, 0, 1);
            return Value::boolean(true); // every request is complete when send returns
        }
        throw ScriptError(vbscript::err::NoMember,
                          vbscript::errorDescription(vbscript::err::NoMember) + u": '" +
                              typeName() + u"." + std::u16string(name) + u"'");
    }

    void put(Interp &, std::u16string_view name, Args, const Value &, bool) override {
        // onreadystatechange has nothing to call back: requests complete within send.
        if (name == u"onreadystatechange" && family_ != Family::WinHttp)
            return;
        throw ScriptError(vbscript::err::NoMember,
                          vbscript::errorDescription(vbscript::err::NoMember) + u": '" +
                              typeName() + u"." + std::u16string(name) + u"'");
    }

private:
    std::u16string_view Source() const {
        switch (family_) {
        case Family::WinHttp:
            return u"WinHttp.WinHttpRequest";
        case Family::ClientV6:
            return u"msxml6.dll";
        default:
            return u"msxml3.dll";
        }
    }

    [[noreturn]] void Raise(int32_t number, std::u16string description) const {
        RaiseFrom(Source(), number, std::move(description));
    }

    void Open(Interp &in, Args args) {
        const std::u16string method = ArgText(in, args, 0);
        const std::u16string url = ArgText(in, args, 1);
        if (ArgBool(in, args, 2, false))
            Raise(kNotImplemented, u"Asynchronous requests are not supported: open the request "
                                   u"with False as its third argument.");
        if (!http::IsHttpToken(WideToUtf8(method)))
            Raise(kInvalidArg, u"The parameter is incorrect: invalid request method.");
        if (url.empty())
            Raise(kInvalidArg, u"The parameter is incorrect: empty URL.");
        method_ = vbscript::upperAscii(method);
        // Method names other than the standard ones keep their case, as HTTP compares them.
        static constexpr std::u16string_view kStandard[] = {u"GET",  u"POST",    u"PUT",  u"DELETE",
                                                            u"HEAD", u"OPTIONS", u"PATCH"};
        bool standard = false;
        for (std::u16string_view m : kStandard)
            standard = standard || m == method_;
        if (!standard)
            method_ = method;
        url_ = url;
        headers_.clear();
        response_.reset();
        if (HasArg(args, 3) && !args[3]->isNull()) {
            const std::string user = WideToUtf8(ArgText(in, args, 3));
            const std::string password =
                HasArg(args, 4) && !args[4]->isNull() ? WideToUtf8(ArgText(in, args, 4)) : "";
            if (!user.empty())
                headers_.emplace_back(
                    u"Authorization",
                    u"Basic " + interop::Utf8ToWide(codecs::Base64Encode(user + ":" + password)));
        }
        opened_ = true;
    }

    void SetRequestHeader(const std::u16string &name, const std::u16string &value) {
        if (!opened_ || response_)
            Raise(family_ == Family::WinHttp ? kWinHttpWrongState : kUnexpected,
                  u"The request is not open: call open first.");
        if (!http::IsHttpToken(WideToUtf8(name)) ||
            value.find_first_of(u"\r\n") != std::u16string::npos)
            Raise(kInvalidArg, u"The parameter is incorrect: invalid header.");
        // A header given again replaces the basic authorisation made from open's arguments.
        if (vbscript::lowerAscii(name) == u"authorization")
            std::erase_if(headers_, [](const auto &h) {
                return vbscript::lowerAscii(h.first) == u"authorization";
            });
        headers_.emplace_back(name, value);
    }

    void Send(Interp &in, Args args) {
        if (!opened_)
            Raise(family_ == Family::WinHttp ? kWinHttpWrongState : kUnexpected,
                  u"The request is not open: call open before send.");
        // The body: nothing, a Byte() array sent as it is, or text sent as UTF-8.
        std::optional<std::string> bytes;
        std::optional<std::u16string> text;
        if (HasArg(args, 0) && !args[0]->isEmpty() && !args[0]->isNull()) {
            if (args[0]->isArray()) {
                bytes = BytesOf(*args[0]);
                if (!bytes)
                    Raise(kInvalidArg, u"The parameter is incorrect: the body must be text or "
                                       u"an array of bytes.");
            } else {
                text = vbscript::toStr(in, *args[0]);
            }
        }
        http::RequestOptions options;
        options.limits = limits_;
        http::Apartment apartment;
        const http::ObjectKind kind = family_ == Family::Client     ? http::ObjectKind::Client
                                      : family_ == Family::ClientV6 ? http::ObjectKind::ClientV6
                                                                    : http::ObjectKind::Server;
        std::unique_ptr<RequestObject> request = http::CreateCurlRequest(kind, options);
        if (!request)
            vbscript::raise(vbscript::err::OutOfMemory);
        if (FAILED(request->open(method_, url_, false)))
            Raise(kInvalidArg, u"The parameter is incorrect: " + request->ErrorDescription());
        for (const auto &[n, v] : headers_)
            if (FAILED(request->setRequestHeader(n, v)))
                Raise(kInvalidArg, u"The parameter is incorrect: " + request->ErrorDescription());
        const HRESULT hr = bytes ? request->sendBytes(*bytes) : request->send(text);
        response_.reset();
        if (FAILED(hr))
            RaiseFailure(*request);
        response_ = std::move(request);
    }

    [[noreturn]] void RaiseFailure(const RequestObject &request) const {
        using Failure = RequestObject::Failure;
        const Failure failure = request.LastFailure();
        const std::u16string reason = u" (" + request.ErrorDescription() + u")";
        if (family_ == Family::Client || family_ == Family::ClientV6) {
            if (failure == Failure::Timeout)
                Raise(kWinHttpTimeout, u"The operation timed out" + reason);
            Raise(kResourceNotFound, u"The system cannot locate the resource specified." + reason);
        }
        switch (failure) {
        case Failure::Resolve:
            Raise(kWinHttpNameNotResolved,
                  u"The server name or address could not be resolved" + reason);
        case Failure::Timeout:
            Raise(kWinHttpTimeout, u"The operation timed out" + reason);
        case Failure::Certificate:
            Raise(kWinHttpSecureFailure, u"A security error occurred" + reason);
        default:
            Raise(kWinHttpCannotConnect,
                  u"A connection with the server could not be established" + reason);
        }
    }

    void RequireResponse() const {
        if (!response_)
            Raise(kPending, u"The data necessary to complete this operation is not yet available.");
    }

    std::string Body() const {
        std::unique_ptr<http::ResponseStream> stream;
        std::string body;
        if (FAILED(response_->responseStream(&stream)) || !stream)
            return body;
        char chunk[65536];
        for (;;) {
            ULONG got = 0;
            if (FAILED(stream->Read(chunk, sizeof chunk, &got)) || got == 0)
                break;
            body.append(chunk, got);
        }
        return body;
    }

    Family family_;
    bool opened_ = false;
    std::u16string method_;
    std::u16string url_;
    std::vector<std::pair<std::u16string, std::u16string>> headers_;
    http::RequestLimits limits_;
    std::unique_ptr<RequestObject> response_; // the request, once a response has arrived
};

} // namespace

Value NewXmlHttp(Interp &) {
    return Value::object(new XmlHttp(Family::Client));
}
Value NewXmlHttp60(Interp &) {
    return Value::object(new XmlHttp(Family::ClientV6));
}
Value NewServerXmlHttp(Interp &) {
    return Value::object(new XmlHttp(Family::Server));
}
Value NewWinHttpRequest(Interp &) {
    return Value::object(new XmlHttp(Family::WinHttp));
}

} // namespace kestrun::scripting
