// XMLHTTP_Get, XMLHTTP_Post.
#include "kestrun.h"
#include "kestrun/automation/http/xmlhttp.h"
#include "kestrun/interop/frame.h"

#include <cstring>

using namespace kestrun::interop;
using kestrun::http::DefaultRequestFactory;
using kestrun::http::PerformXmlHttpResult;
using kestrun::http::Verb;

namespace {

// The header text is split in the caller's own variable: copies the split bytes (same length,
// only line breaks turned into zero bytes) back over the BSTR's data.
void WriteBackSplitHeaders(BSTR *variable, const std::string &split) {
    if (variable == nullptr || *variable == nullptr || split.empty()) {
        return;
    }
    std::memcpy(reinterpret_cast<char *>(*variable), split.data(), split.size());
}

BSTR Run(Verb verb, BSTR *url, BSTR *body, BSTR *requestHeaders, BSTR *responseHeaders,
         int32_t asText, int32_t objectKind) {
    return GuardString([&] {
        try {
            std::string headers = RefString(requestHeaders);
            auto outcome = PerformXmlHttpResult(verb, RefString(url), headers, RefString(body),
                                                asText, objectKind, DefaultRequestFactory());
            WriteBackSplitHeaders(requestHeaders, headers);
            WriteOutString(responseHeaders, outcome.responseHeaders);
            return outcome.result.Finish();
        } catch (...) {
            // The guard turns the exception into the result; the headers read as empty.
            WriteOutString(responseHeaders, "");
            throw;
        }
    });
}

} // namespace

KESTRUN_EXPORT BSTR KESTRUN_CALL XMLHTTP_Get(BSTR *url, BSTR *requestHeaders, BSTR *responseHeaders,
                                             int32_t asText, int32_t objectKind) {
    return Run(Verb::Get, url, nullptr, requestHeaders, responseHeaders, asText, objectKind);
}

KESTRUN_EXPORT BSTR KESTRUN_CALL XMLHTTP_Post(BSTR *url, BSTR *body, BSTR *requestHeaders,
                                              BSTR *responseHeaders, int32_t asText,
                                              int32_t objectKind) {
    return Run(Verb::Post, url, body, requestHeaders, responseHeaders, asText, objectKind);
}
