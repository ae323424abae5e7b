// XMLHTTP_Get of a 10 MiB body from a server on 127.0.0.1, as bytes and as UTF-8 text turned into
// GBK, as a host calls it (BSTR variables in, the result BSTR freed), beside the inner function
// and the peers in the same run:
//   bytes: `curl -s -o /dev/null URL`, its CPU time as a child process; and, for reference,
//          libcurl's easy interface in this process writing to a callback that drops the bytes;
//   text:  Python's http.client reading the body, decoding it as UTF-8 and encoding it to GBK,
//          the CPU time of that work alone, measured by the Python process itself
//          (time.process_time around the request, after the imports and a first GBK encode).
// Ours is the CPU time of the calling thread, where libcurl does its work; the server runs on
// threads of its own and is not counted for anyone. The outputs are checked against the peers'
// before the timing.
#include "common/bstr_variable.h"
#include "common/ratio_table.h"
#include "kestrun.h"
#include "kestrun/automation/http/xmlhttp.h"
#include "loopback_server.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr size_t kBodyBytes = size_t{10} << 20;

struct Bodies {
    std::string bytes; // no zero byte, so the whole body is the result
    std::string utf8;  // Chinese and ASCII, every character in GBK
    std::string gbk;   // the same text in GBK
};
Bodies *bodies = nullptr;
httptest::LoopbackServer *server = nullptr;

Bodies MakeBodies() {
    Bodies b;
    b.bytes.resize(kBodyBytes);
    uint32_t seed = 7;
    for (char &c : b.bytes) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(1 + (seed >> 24) % 255);
    }
    // A page-like mix: a line of markup, then Chinese text with ASCII punctuation and numbers.
    const std::string line = "<p class=\"c\">\xE4\xBD\xA0\xE5\xA5\xBD\xEF\xBC\x8C\xE4\xB8\x96"
                             "\xE7\x95\x8C 2026 \xE6\x95\xB0\xE6\x8D\xAE\xE5\xBA\x93\xE4\xB8\xAD"
                             "\xE6\x96\x87\xE6\xB5\x8B\xE8\xAF\x95 \xE2\x80\x94 test</p>\n";
    const std::string lineGbk = "<p class=\"c\">\xC4\xE3\xBA\xC3\xA3\xAC\xCA\xC0\xBD\xE7 2026 "
                                "\xCA\xFD\xBE\xDD\xBF\xE2\xD6\xD0\xCE\xC4\xB2\xE2\xCA\xD4 "
                                "\xA1\xAA test</p>\n";
    while (b.utf8.size() + line.size() <= kBodyBytes) {
        b.utf8 += line;
        b.gbk += lineGbk;
    }
    return b;
}

httptest::Response Serve(const httptest::Request &request) {
    httptest::Response r;
    if (request.target == "/bytes") {
        r.headerLines = {"Content-Type: application/octet-stream"};
        r.body = bodies->bytes;
    } else {
        r.headerLines = {"Content-Type: text/html; charset=utf-8"};
        r.body = bodies->utf8;
    }
    return r;
}

double Seconds(const timeval &t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

// Runs a program; its standard output (if `output` is given) is collected. Returns the child's
// CPU seconds, or -1 when it could not run or failed.
double RunChild(const std::vector<std::string> &args, std::string *output) {
    std::vector<std::string> copies = args;
    std::vector<char *> argv;
    for (std::string &a : copies) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    int pipeFds[2] = {-1, -1};
    if (pipe(pipeFds) != 0) {
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    rusage before{};
    getrusage(RUSAGE_CHILDREN, &before);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        close(pipeFds[0]);
        return -1;
    }
    char chunk[4096];
    ssize_t n = 0;
    while ((n = read(pipeFds[0], chunk, sizeof chunk)) > 0) {
        if (output != nullptr) {
            output->append(chunk, static_cast<size_t>(n));
        }
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return -1;
    }
    rusage after{};
    getrusage(RUSAGE_CHILDREN, &after);
    return Seconds(after.ru_utime) - Seconds(before.ru_utime) + Seconds(after.ru_stime) -
           Seconds(before.ru_stime);
}

// The Python peer: prints the CPU seconds of the request, the decode and the encode, then (when
// asked) the GBK bytes' length and a checksum of them.
const char kPythonPeer[] = R"(import http.client, sys, time, zlib
''.encode('gbk'); b''.decode('utf-8')
start = time.process_time()
connection = http.client.HTTPConnection('127.0.0.1', int(sys.argv[1]))
connection.request('GET', '/text')
data = connection.getresponse().read()
gbk = data.decode('utf-8', 'replace').encode('gbk', 'replace')
spent = time.process_time() - start
print(spent, len(gbk), zlib.crc32(gbk))
)";

std::vector<std::string> PythonArgs() {
    return {"python3", "-c", kPythonPeer, std::to_string(server->Port())};
}

std::string CurlUrl(const char *path) {
    return server->Url(path);
}

BSTR Get(const std::string &url, int32_t asText) {
    bench::BstrVariable address(url);
    bench::BstrVariable headers("");
    BSTR responseHeaders = nullptr;
    BSTR body = XMLHTTP_Get(&address.value, &headers.value, &responseHeaders, asText, 0);
    SysFreeString(responseHeaders);
    return body;
}

void ExportGet(benchmark::State &state, const char *path, int32_t asText, size_t expected) {
    const std::string url = server->Url(path);
    for (auto _ : state) {
        BSTR body = Get(url, asText);
        if (SysStringByteLen(body) != expected) {
            state.SkipWithError("the body is not what the server sent");
        }
        SysFreeString(body);
    }
}

void InnerGet(benchmark::State &state, const char *path, int32_t asText, size_t expected) {
    const std::string url = server->Url(path);
    const auto factory = kestrun::http::DefaultRequestFactory();
    for (auto _ : state) {
        std::string headers;
        const auto outcome = kestrun::http::PerformXmlHttpResult(kestrun::http::Verb::Get, url,
                                                                 headers, {}, asText, 0, factory);
        if (outcome.result.size() != expected) {
            state.SkipWithError("the body is not what the server sent");
        }
    }
}

void BM_GetBytes_Export(benchmark::State &state) {
    ExportGet(state, "/bytes", 0, kBodyBytes);
}
void BM_GetBytes_Inner(benchmark::State &state) {
    InnerGet(state, "/bytes", 0, kBodyBytes);
}
void BM_GetBytes_Curl(benchmark::State &state) {
    const std::vector<std::string> args = {"curl", "-s", "-o", "/dev/null", CurlUrl("/bytes")};
    for (auto _ : state) {
        const double seconds = RunChild(args, nullptr);
        if (seconds < 0) {
            state.SkipWithError("curl did not run");
            break;
        }
        state.SetIterationTime(seconds);
    }
}

size_t Discard(char *, size_t size, size_t count, void *) {
    return size * count;
}

void BM_GetBytes_LibcurlDiscard(benchmark::State &state) {
    const std::string url = CurlUrl("/bytes");
    for (auto _ : state) {
        CURL *easy = curl_easy_init();
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Discard);
        if (curl_easy_perform(easy) != CURLE_OK) {
            state.SkipWithError("libcurl failed");
        }
        curl_easy_cleanup(easy);
    }
}

void BM_GetText_Export(benchmark::State &state) {
    ExportGet(state, "/text", 1, bodies->gbk.size());
}
void BM_GetText_Inner(benchmark::State &state) {
    InnerGet(state, "/text", 1, bodies->gbk.size());
}
void BM_GetText_Python(benchmark::State &state) {
    for (auto _ : state) {
        std::string output;
        if (RunChild(PythonArgs(), &output) < 0) {
            state.SkipWithError("python3 did not run");
            break;
        }
        state.SetIterationTime(std::strtod(output.c_str(), nullptr));
    }
}

BENCHMARK(BM_GetBytes_Export)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_GetBytes_Inner)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_GetBytes_Curl)->Unit(benchmark::kMillisecond)->Iterations(10)->UseManualTime();
BENCHMARK(BM_GetBytes_LibcurlDiscard)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_GetText_Export)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_GetText_Inner)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_GetText_Python)->Unit(benchmark::kMillisecond)->Iterations(10)->UseManualTime();

// The outputs agree: our bytes are the body, our text is the GBK text Python makes.
bool CheckOutputs() {
    BSTR bytes = Get(server->Url("/bytes"), 0);
    BSTR text = Get(server->Url("/text"), 1);
    const bool bytesOk = std::string(reinterpret_cast<const char *>(bytes),
                                     SysStringByteLen(bytes)) == bodies->bytes;
    const std::string ours(reinterpret_cast<const char *>(text), SysStringByteLen(text));
    SysFreeString(bytes);
    SysFreeString(text);
    std::string output;
    const bool python = RunChild(PythonArgs(), &output) >= 0;
    std::printf("bytes %s the body; text %s the expected GBK", bytesOk ? "equal" : "DIFFER FROM",
                ours == bodies->gbk ? "equals" : "DIFFERS FROM");
    if (python) {
        double spent = 0;
        size_t length = 0;
        unsigned long crc = 0;
        std::sscanf(output.c_str(), "%lf %zu %lu", &spent, &length, &crc);
        const unsigned long ourCrc =
            crc32(0, reinterpret_cast<const Bytef *>(ours.data()), static_cast<uInt>(ours.size()));
        std::printf(" and %s Python's",
                    length == ours.size() && crc == ourCrc ? "equals" : "DIFFERS FROM");
    } else {
        std::printf("; python3 is missing: its row is skipped");
    }
    std::printf("\n");
    return bytesOk && ours == bodies->gbk;
}

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    Bodies made = MakeBodies();
    bodies = &made;
    httptest::LoopbackServer loopback(&Serve);
    server = &loopback;
    if (!CheckOutputs()) {
        return 1;
    }
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    using bench::Goal;
    bench::PrintTable(reporter, {
                                    {"XMLHTTP_Get 10 MiB as bytes", "BM_GetBytes_Export",
                                     "BM_GetBytes_Curl", Goal::SpeedAtLeast, 1.0},
                                    {"  (libcurl in-process, discarding)", "BM_GetBytes_Export",
                                     "BM_GetBytes_LibcurlDiscard", Goal::SpeedAtLeast, 1.0},
                                    {"XMLHTTP_Get 10 MiB UTF-8 as text", "BM_GetText_Export",
                                     "BM_GetText_Python", Goal::SpeedAtLeast, 1.0},
                                });
    curl_global_cleanup();
    return 0;
}
