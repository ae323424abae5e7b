// The request object on libcurl, and the apartment as libcurl's counted global initialisation.
#include "kestrun/automation/http/charset.h"
#include "kestrun/automation/http/curl_request.h"
#include "kestrun/automation/http/request_wire.h"
#include "kestrun/interop/codepage.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

namespace kestrun::http {
namespace {

using interop::WideToUtf8;

constexpr HRESULT kPending = static_cast<HRESULT>(0x8000000A);     // E_PENDING
constexpr HRESULT kInvalidSeek = static_cast<HRESULT>(0x80030001); // STG_E_INVALIDFUNCTION
constexpr HRESULT kBadPointer = static_cast<HRESULT>(0x80030009);  // STG_E_INVALIDPOINTER

// Redirects followed before the request fails, as many as browsers follow.
constexpr long kMaxRedirects = 20;

// libcurl's receive buffer: large bodies arrive in fewer, larger pieces.
constexpr long kReceiveBufferBytes = 256 * 1024;

// A body is received into one buffer sized from its Content-Length up to this much at once; a
// larger (or unannounced) length grows the buffer as the bytes arrive, so a false length cannot
// make the object allocate more than it receives by much.
constexpr curl_off_t kMaxReserveBytes = curl_off_t{256} << 20;

struct EasyCleanup {
    void operator()(CURL *easy) const { curl_easy_cleanup(easy); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;

struct SlistFree {
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, SlistFree>;

std::u16string Ascii(std::string_view text) {
    return std::u16string(text.begin(), text.end());
}

long Milliseconds(std::chrono::milliseconds ms) {
    return static_cast<long>(std::clamp<std::chrono::milliseconds::rep>(ms.count(), 0, 0x7FFFFFFF));
}

// The body handed out by responseStream: shares the bytes with the object that received them.
class BodyStream final : public ResponseStream {
public:
    explicit BodyStream(std::shared_ptr<const interop::GrowingResult> body)
        : body_(std::move(body)) {}

    HRESULT Seek(int64_t offset, SeekOrigin origin, uint64_t *newPosition) override {
        int64_t base = 0;
        switch (origin) {
        case SeekOrigin::Begin:
            base = 0;
            break;
        case SeekOrigin::Current:
            base = static_cast<int64_t>(position_);
            break;
        case SeekOrigin::End:
            base = static_cast<int64_t>(body_->size());
            break;
        }
        if ((offset < 0 && base + offset < 0) || (offset > 0 && base > INT64_MAX - offset)) {
            return kInvalidSeek;
        }
        position_ = static_cast<uint64_t>(base + offset);
        if (newPosition != nullptr) {
            *newPosition = position_;
        }
        return S_OK;
    }

    HRESULT Read(void *buffer, ULONG size, ULONG *bytesRead) override {
        if (buffer == nullptr && size > 0) {
            return kBadPointer;
        }
        const uint64_t available = position_ < body_->size() ? body_->size() - position_ : 0;
        const auto count = static_cast<ULONG>(std::min<uint64_t>(available, size));
        if (count > 0) {
            std::memcpy(buffer, body_->View().data() + position_, count);
        }
        position_ += count;
        if (bytesRead != nullptr) {
            *bytesRead = count;
        }
        return S_OK;
    }

private:
    std::shared_ptr<const interop::GrowingResult> body_;
    uint64_t position_ = 0;
};

class CurlRequest final : public RequestObject {
public:
    CurlRequest(EasyHandle easy, ObjectKind kind, RequestOptions options)
        : easy_(std::move(easy)), kind_(kind), options_(std::move(options)) {}

    HRESULT open(std::u16string_view method, std::u16string_view url, bool async) override {
        state_ = State::Created;
        headerLines_.clear();
        if (async) {
            return Fail(E_INVALIDARG, u"Only synchronous requests are supported");
        }
        std::string methodText = WideToUtf8(method);
        if (!IsHttpToken(methodText)) {
            return Fail(E_INVALIDARG, u"Invalid request method");
        }
        if (url.empty()) {
            return Fail(E_INVALIDARG, u"Empty URL");
        }
        method_ = std::move(methodText);
        url_ = EncodeUrlForWire(WideToUtf8(url));
        state_ = State::Opened;
        return S_OK;
    }

    HRESULT setRequestHeader(std::u16string_view name, std::u16string_view value) override {
        if (state_ != State::Opened) {
            return Fail(E_UNEXPECTED, u"The request is not open");
        }
        const std::string nameText = WideToUtf8(name);
        const std::string valueText = WideToUtf8(value);
        if (!IsHttpToken(nameText)) {
            return Fail(E_INVALIDARG, u"Invalid header name");
        }
        if (valueText.find_first_of("\r\n") != std::string::npos) {
            return Fail(E_INVALIDARG, u"Invalid header value");
        }
        headerLines_.push_back(HeaderLineFor(nameText, valueText));
        return S_OK;
    }

    HRESULT getAllResponseHeaders(std::optional<std::u16string> *headers) override {
        if (headers == nullptr) {
            return E_POINTER;
        }
        headers->reset();
        if (state_ != State::Done) {
            return Fail(kPending, NotDoneReason());
        }
        *headers = DecodeHeaderText(responseHeaders_);
        return S_OK;
    }

    HRESULT send(const std::optional<std::u16string> &body) override {
        std::string payload = body ? WideToUtf8(*body) : std::string();
        return SendPayload(body.has_value(), payload);
    }

    HRESULT sendBytes(std::string_view body) override {
        return SendPayload(true, std::string(body));
    }

    HRESULT status(int32_t *code, std::u16string *reason) override {
        if (code == nullptr || reason == nullptr) {
            return E_POINTER;
        }
        if (state_ != State::Done) {
            return Fail(kPending, NotDoneReason());
        }
        long status = 0;
        curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status);
        *code = static_cast<int32_t>(status);
        *reason = DecodeHeaderText(reason_);
        return S_OK;
    }

    Failure LastFailure() const override { return failureKind_; }

    HRESULT SendPayload(bool hasBody, const std::string &payload) {
        if (state_ != State::Opened && state_ != State::Done && state_ != State::Failed) {
            return Fail(E_UNEXPECTED, u"The request is not open");
        }
        responseHeaders_.clear();
        reason_.clear();
        received_ = std::make_shared<interop::GrowingResult>();
        headersComplete_ = false;
        callbackFailure_ = nullptr;
        failureKind_ = Failure::None;
        const CURLcode code = Perform(hasBody, payload);
        if (callbackFailure_) {
            state_ = State::Failed;
            failureKind_ = Failure::Other;
            std::rethrow_exception(callbackFailure_);
        }
        if (code != CURLE_OK) {
            state_ = State::Failed;
            failureKind_ = FailureOf(code);
            failure_ = Ascii(errorBuffer_[0] != '\0' ? errorBuffer_ : curl_easy_strerror(code));
            return Fail(E_FAIL, failure_);
        }
        char *contentType = nullptr;
        curl_easy_getinfo(easy_.get(), CURLINFO_CONTENT_TYPE, &contentType);
        charset_ = contentType != nullptr ? CharsetOf(contentType) : std::string();
        state_ = State::Done;
        return S_OK;
    }

    HRESULT responseText(std::optional<std::u16string> *text) override {
        if (text == nullptr) {
            return E_POINTER;
        }
        text->reset();
        if (state_ != State::Done) {
            return Fail(kPending, NotDoneReason());
        }
        *text = DecodeBody(received_->View(), charset_);
        return S_OK;
    }

    HRESULT responseStream(std::unique_ptr<ResponseStream> *stream) override {
        if (stream == nullptr) {
            return E_POINTER;
        }
        stream->reset();
        if (state_ != State::Done) {
            return Fail(kPending, NotDoneReason());
        }
        *stream = std::make_unique<BodyStream>(received_);
        return S_OK;
    }

    std::optional<interop::GrowingResult> TakeBody(bool asText) override {
        if (state_ != State::Done || received_.use_count() != 1) {
            return std::nullopt; // no response, or a stream handed out shares the bytes
        }
        interop::GrowingResult body = std::move(*received_);
        received_ = std::make_shared<interop::GrowingResult>();
        if (asText) {
            DecodeBodyToAnsi(body, charset_);
        }
        return body;
    }

    std::u16string ErrorDescription() const override { return lastError_; }

private:
    enum class State { Created, Opened, Done, Failed };

    HRESULT Fail(HRESULT hr, std::u16string description) {
        lastError_ = std::move(description);
        return hr;
    }

    static Failure FailureOf(CURLcode code) {
        switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return Failure::Resolve;
        case CURLE_COULDNT_CONNECT:
            return Failure::Connect;
        case CURLE_OPERATION_TIMEDOUT:
            return Failure::Timeout;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CACERT_BADFILE:
            return Failure::Certificate;
        default:
            return Failure::Other;
        }
    }

    std::u16string NotDoneReason() const {
        return state_ == State::Failed ? failure_ : u"The response has not been received";
    }

    CURLcode Perform(bool hasBody, const std::string &payload) {
        CURL *h = easy_.get();
        curl_easy_reset(h);
        errorBuffer_[0] = '\0';
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer_);
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_URL, url_.c_str());
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        // Behaviour is set by arguments alone: no proxy from the environment, no .netrc.
        curl_easy_setopt(h, CURLOPT_PROXY, "");
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
        // Compressed bodies are asked for and handed out decoded, as a browser does.
        curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
        if (kind_ != ObjectKind::Server) {
            // The browser-side objects keep the cookies a response sets for the rest of the
            // request, so a redirect chain that logs in carries its session along. The
            // server-side object keeps none.
            curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");
        }
        const RequestLimits &limits = options_.limits;
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, Milliseconds(limits.connect));
        curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, Milliseconds(limits.total));
        if (limits.stall.count() > 0) {
            const long seconds = std::max<long>(1, (Milliseconds(limits.stall) + 999) / 1000);
            curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
            curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, seconds);
        }
        if (!options_.trustedCertificates.empty()) {
            curl_easy_setopt(h, CURLOPT_CAINFO, options_.trustedCertificates.c_str());
            curl_easy_setopt(h, CURLOPT_CAPATH, nullptr);
        }

        if (method_ == "GET") {
            curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
        } else if (method_ == "HEAD") {
            curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
        } else {
            if (method_ != "POST") {
                curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method_.c_str());
            }
            if (hasBody || method_ == "POST") {
                curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                                 static_cast<curl_off_t>(payload.size()));
                curl_easy_setopt(h, CURLOPT_POSTFIELDS, payload.c_str());
            }
        }

        HeaderList list;
        auto append = [&list](const std::string &line) {
            curl_slist *grown = curl_slist_append(list.get(), line.c_str());
            if (grown == nullptr) {
                throw std::bad_alloc();
            }
            list.release();
            list.reset(grown);
        };
        bool expectGiven = false;
        for (const std::string &line : headerLines_) {
            append(line);
            expectGiven = expectGiven || HeaderLineNames(line, "Expect");
        }
        if (!expectGiven) {
            append("Expect:"); // a browser sends its body at once, without waiting for a go-ahead
        }
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, list.get());

        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &CurlRequest::OnHeader);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CurlRequest::OnBody);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, this);

        const CURLcode code = curl_easy_perform(h);
        // The list dies at the end of this function: leave the handle pointing at nothing.
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
        return code;
    }

    // A header line of some response. A status line starts a new response (an interim one, or
    // the next hop of a redirect), so only the final response's lines remain; lines after the
    // blank line that ends the block (trailers) are left out.
    static size_t OnHeader(char *data, size_t size, size_t count, void *self) noexcept {
        auto *request = static_cast<CurlRequest *>(self);
        const size_t total = size * count;
        try {
            std::string_view line(data, total);
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
                line.remove_suffix(1);
            }
            if (line.starts_with("HTTP/")) {
                // "HTTP/1.1 200 OK": the reason phrase follows the second blank (none in HTTP/2).
                const size_t codeAt = line.find(' ');
                const size_t reasonAt =
                    codeAt == std::string_view::npos ? codeAt : line.find(' ', codeAt + 1);
                request->reason_ = reasonAt == std::string_view::npos
                                       ? std::string()
                                       : std::string(line.substr(reasonAt + 1));
                request->responseHeaders_.clear();
                request->received_->Clear();
                request->headersComplete_ = false;
            } else if (line.empty()) {
                request->headersComplete_ = true;
            } else if (!request->headersComplete_) {
                request->responseHeaders_.append(line);
                request->responseHeaders_.append("\r\n");
            }
            return total;
        } catch (...) {
            request->callbackFailure_ = std::current_exception();
            return 0;
        }
    }

    static size_t OnBody(char *data, size_t size, size_t count, void *self) noexcept {
        auto *request = static_cast<CurlRequest *>(self);
        const size_t total = size * count;
        try {
            interop::GrowingResult &received = *request->received_;
            if (received.size() == 0) {
                // The first bytes of a response: room for all of it when its length is known.
                curl_off_t length = -1;
                curl_easy_getinfo(request->easy_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T,
                                  &length);
                if (length > 0) {
                    received.Reserve(static_cast<size_t>(std::min(length, kMaxReserveBytes)));
                }
            }
            received.Append(std::string_view(data, total));
            return total;
        } catch (...) {
            request->callbackFailure_ = std::current_exception();
            return 0;
        }
    }

    EasyHandle easy_;
    ObjectKind kind_;
    RequestOptions options_;
    State state_ = State::Created;
    std::string method_;
    std::string url_;
    std::vector<std::string> headerLines_;
    std::string responseHeaders_;
    std::string reason_; // of the final response's status line
    Failure failureKind_ = Failure::None;
    bool headersComplete_ = false;
    // The body, received straight into the storage of the String result it becomes.
    std::shared_ptr<interop::GrowingResult> received_ = std::make_shared<interop::GrowingResult>();
    std::string charset_;
    std::exception_ptr callbackFailure_;
    std::u16string failure_;
    std::u16string lastError_;
    char errorBuffer_[CURL_ERROR_SIZE] = {};
};

} // namespace

std::unique_ptr<RequestObject> CreateCurlRequest(ObjectKind kind, const RequestOptions &options) {
    EasyHandle easy(curl_easy_init());
    if (!easy) {
        return nullptr;
    }
    return std::make_unique<CurlRequest>(std::move(easy), kind, options);
}

RequestObjectFactory DefaultRequestFactory() {
    return [](ObjectKind kind) { return CreateCurlRequest(kind, RequestOptions{}); };
}

Apartment::Apartment() : initialised_(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK) {}

Apartment::~Apartment() {
    if (initialised_) {
        curl_global_cleanup();
    }
}

} // namespace kestrun::http
