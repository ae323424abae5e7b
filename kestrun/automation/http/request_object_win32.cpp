// The request object on Windows: the system's MSXML request objects, created by class
// identifier and driven through IXMLHTTPRequest; the apartment is the calling thread's COM
// initialisation.
#include "kestrun/automation/http/request_object.h"
#include "kestrun/interop/boundary.h"
#include "kestrun/interop/errors.h"

#include <msxml2.h>
#include <objbase.h>

#include <iterator>
#include <utility>

namespace kestrun::http {
namespace {

using interop::UniqueBstr;
using interop::UniqueVariant;

// {ED8C108D-4349-11D2-91A4-00C04F7969E8}
constexpr GUID kIidXmlHttpRequest = {
    0xED8C108D, 0x4349, 0x11D2, {0x91, 0xA4, 0x00, 0xC0, 0x4F, 0x79, 0x69, 0xE8}};
// {0000000C-0000-0000-C000-000000000046}
constexpr GUID kIidStream = {
    0x0000000C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The classes of the three kinds, in kind order.
constexpr GUID kClasses[] = {
    // Microsoft.XMLHTTP
    {0xF6D90F16, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}},
    // MSXML2.ServerXMLHTTP
    {0xAFBA6B42, 0x5692, 0x48EA, {0x81, 0x41, 0xDC, 0x51, 0x7D, 0xCF, 0x0E, 0xF1}},
    // Msxml2.XMLHTTP.6.0
    {0x88D96A0A, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}},
};

// One reference to a COM interface, released with the owner.
template <class Interface> class ComRef {
public:
    ComRef() = default;
    ~ComRef() { Reset(); }
    ComRef(const ComRef &) = delete;
    ComRef &operator=(const ComRef &) = delete;
    ComRef(ComRef &&other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComRef &operator=(ComRef &&other) noexcept {
        if (this != &other) {
            Reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }

    Interface *operator->() const { return p_; }
    Interface *get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // Where a call stores a new reference; what was held is released first.
    Interface **Receive() {
        Reset();
        return &p_;
    }
    // The same, for calls that hand out an interface they were asked for by identifier.
    void **ReceiveAny() { return reinterpret_cast<void **>(Receive()); }
    void Reset() {
        if (p_ != nullptr) {
            std::exchange(p_, nullptr)->Release();
        }
    }

private:
    Interface *p_ = nullptr;
};

// UTF-16 text as a BSTR for a call (null when it cannot be allocated).
UniqueBstr Bstr(std::u16string_view text) {
    return UniqueBstr(SysAllocStringLen(reinterpret_cast<const OLECHAR *>(text.data()),
                                        static_cast<UINT>(text.size())));
}

// A BSTR handed back by a call: nullopt when the call failed. A null BSTR from a call that
// succeeded is an empty text, as COM reads it (an empty body may come back that way).
std::optional<std::u16string> TakeText(HRESULT hr, BSTR received) {
    const UniqueBstr owner(received);
    if (FAILED(hr)) {
        return std::nullopt;
    }
    if (!owner) {
        return std::u16string();
    }
    return std::u16string(reinterpret_cast<const char16_t *>(received), SysStringLen(received));
}

// The description the object left for its last failing call, or the system's text for the
// HRESULT when it left none.
std::u16string DescribeFailure(HRESULT hr) {
    ComRef<IErrorInfo> info;
    if (GetErrorInfo(0, info.Receive()) == S_OK && info) {
        BSTR description = nullptr;
        if (SUCCEEDED(info->GetDescription(&description))) {
            if (auto text = TakeText(S_OK, description); text && !text->empty()) {
                return std::move(*text);
            }
        }
    }
    return interop::HResultMessage(hr);
}

class StreamOfBody final : public ResponseStream {
public:
    explicit StreamOfBody(ComRef<IStream> stream) : stream_(std::move(stream)) {}

    HRESULT Seek(int64_t offset, SeekOrigin origin, uint64_t *newPosition) override {
        LARGE_INTEGER move{};
        move.QuadPart = offset;
        const DWORD from = origin == SeekOrigin::Begin     ? STREAM_SEEK_SET
                           : origin == SeekOrigin::Current ? STREAM_SEEK_CUR
                                                           : STREAM_SEEK_END;
        ULARGE_INTEGER position{};
        const HRESULT hr = stream_->Seek(move, from, &position);
        if (newPosition != nullptr) {
            *newPosition = position.QuadPart;
        }
        return hr;
    }

    HRESULT Read(void *buffer, ULONG size, ULONG *bytesRead) override {
        return stream_->Read(buffer, size, bytesRead);
    }

private:
    ComRef<IStream> stream_;
};

class XmlHttpObject final : public RequestObject {
public:
    explicit XmlHttpObject(ComRef<IXMLHTTPRequest> request) : request_(std::move(request)) {}

    HRESULT open(std::u16string_view method, std::u16string_view url, bool async) override {
        const UniqueBstr methodText = Bstr(method);
        const UniqueBstr urlText = Bstr(url);
        UniqueVariant asyncFlag;
        asyncFlag.get()->vt = VT_I2;
        asyncFlag.get()->iVal = async ? VARIANT_TRUE : 0;
        UniqueVariant user;
        UniqueVariant password;
        return Call([&] {
            return request_->open(methodText.get(), urlText.get(), *asyncFlag.get(), *user.get(),
                                  *password.get());
        });
    }

    HRESULT setRequestHeader(std::u16string_view name, std::u16string_view value) override {
        const UniqueBstr nameText = Bstr(name);
        const UniqueBstr valueText = Bstr(value);
        return Call([&] { return request_->setRequestHeader(nameText.get(), valueText.get()); });
    }

    HRESULT getAllResponseHeaders(std::optional<std::u16string> *headers) override {
        BSTR received = nullptr;
        const HRESULT hr = Call([&] { return request_->getAllResponseHeaders(&received); });
        *headers = TakeText(hr, received);
        return hr;
    }

    HRESULT send(const std::optional<std::u16string> &body) override {
        UniqueVariant content;
        if (body) {
            content.get()->vt = VT_BSTR;
            content.get()->bstrVal = Bstr(*body).release();
        }
        const HRESULT hr = Call([&] { return request_->send(*content.get()); });
        if (FAILED(hr)) {
            sendFailure_ = lastFailure_;
        }
        return hr;
    }

    HRESULT responseText(std::optional<std::u16string> *text) override {
        BSTR received = nullptr;
        const HRESULT hr = Call([&] { return request_->get_responseText(&received); });
        *text = TakeText(hr, received);
        return hr;
    }

    HRESULT responseStream(std::unique_ptr<ResponseStream> *stream) override {
        stream->reset();
        UniqueVariant value;
        const HRESULT hr = Call([&] { return request_->get_responseStream(value.get()); });
        const VARTYPE vt = value.get()->vt;
        if ((vt == VT_UNKNOWN || vt == VT_DISPATCH) && value.get()->punkVal != nullptr) {
            // Asked for, not assumed: an object that is no stream gives no body.
            ComRef<IStream> body;
            if (SUCCEEDED(value.get()->punkVal->QueryInterface(kIidStream, body.ReceiveAny()))) {
                *stream = std::make_unique<StreamOfBody>(std::move(body));
            }
        }
        return hr;
    }

    // Why the request did not complete when sending failed; otherwise the last failing call.
    std::u16string ErrorDescription() const override {
        return sendFailure_.empty() ? lastFailure_ : sendFailure_;
    }

private:
    // Makes one call of the object and keeps its description of a failure. The thread's error
    // information is cleared first, so a description left by an earlier call is never taken.
    template <class Method> HRESULT Call(Method &&method) {
        SetErrorInfo(0, nullptr);
        const HRESULT hr = method();
        if (FAILED(hr)) {
            lastFailure_ = DescribeFailure(hr);
        }
        return hr;
    }

    ComRef<IXMLHTTPRequest> request_;
    std::u16string sendFailure_;
    std::u16string lastFailure_;
};

std::unique_ptr<RequestObject> CreateXmlHttpObject(ObjectKind kind) {
    const auto index = static_cast<size_t>(kind);
    if (index >= std::size(kClasses)) {
        return nullptr;
    }
    ComRef<IXMLHTTPRequest> request;
    if (FAILED(CoCreateInstance(kClasses[index], nullptr, CLSCTX_ALL, kIidXmlHttpRequest,
                                request.ReceiveAny())) ||
        !request) {
        return nullptr;
    }
    return std::make_unique<XmlHttpObject>(std::move(request));
}

} // namespace

RequestObjectFactory DefaultRequestFactory() {
    return CreateXmlHttpObject;
}

// A single-threaded apartment on the calling thread. A thread whose COM was already set up
// another way keeps it: only an initialisation this call made is undone.
Apartment::Apartment()
    : initialised_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}

Apartment::~Apartment() {
    if (initialised_) {
        CoUninitialize();
    }
}

} // namespace kestrun::http
