// The worst inputs a host can pass, 16 MiB each, through the exports as a host calls them:
// invalid GBK, text GBK cannot hold, texts made only of escapes or of "&", deeply nested markup,
// regular expressions made to backtrack and search markers that almost match everywhere. Each
// export also runs over ordinary text of the same size (the peer), and the end of the run prints
// the seconds per MiB of both and their ratio. Every conversion and codec is a single pass, so the
// worst input should cost about what ordinary text costs, and 16 MiB at most 2 s.
#include "kestrun.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kSize = 16u << 20;
constexpr double kMiB = 1024.0 * 1024.0;

// `unit` repeated to kSize bytes (cut to whole units).
std::string Repeat(const std::string &unit) {
    std::string out;
    out.reserve(kSize);
    while (out.size() + unit.size() <= kSize) {
        out += unit;
    }
    return out;
}

std::string Base64Of(const std::string &bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve(bytes.size() / 3 * 4 + 4);
    for (size_t i = 0; i + 2 < bytes.size(); i += 3) {
        const auto v = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i]) << 16 |
                                             static_cast<unsigned char>(bytes[i + 1]) << 8 |
                                             static_cast<unsigned char>(bytes[i + 2]));
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += kDigits[(v >> 6) & 63];
        out += kDigits[v & 63];
    }
    return out;
}

// Ordinary GBK prose ("中文文本，" and ASCII words) and its UTF-8 form.
const std::string kGbkProse = "\xD6\xD0\xCE\xC4\xCE\xC4\xB1\xBE\xA3\xAC plain words, ";
const std::string kUtf8Prose = "\xE4\xB8\xAD\xE6\x96\x87\xE6\x96\x87\xE6\x9C\xAC\xEF\xBC\x8C "
                               "plain words, ";
// A lead byte with a trail that is no trail, a byte that starts nothing, a lone lead at the end
// of each unit: invalid GBK everywhere.
const std::string kInvalidGbk = "\x81\x7F\xFF\x80\x81";
// Thai letters: valid UTF-8 that GBK cannot hold.
const std::string kUnmappableUtf8 = "\xE0\xB8\x81";

// A String variable holding GBK bytes, as a host makes it.
class RefString {
public:
    explicit RefString(const std::string &bytes)
        : value_(SysAllocStringByteLen(bytes.data(), static_cast<UINT>(bytes.size()))) {}
    ~RefString() { SysFreeString(value_); }
    RefString(const RefString &) = delete;
    RefString &operator=(const RefString &) = delete;
    BSTR *ref() { return &value_; }

private:
    BSTR value_;
};

// One call of an export over an input; returns the bytes of its String result (or a count).
using Call = std::function<size_t(const std::string &)>;

size_t Consume(BSTR result) {
    const size_t n = SysStringByteLen(result);
    SysFreeString(result);
    return n;
}

Call InString(BSTR (*exported)(const char *)) {
    return [exported](const std::string &in) { return Consume(exported(in.c_str())); };
}

Call RefStringCall(BSTR (*exported)(BSTR *)) {
    return [exported](const std::string &in) {
        RefString text(in);
        return Consume(exported(text.ref()));
    };
}

// Regex_Search with `pattern` and `limit`; gives the status it returns.
Call Search(const char *pattern, int16_t limit) {
    return [pattern, limit](const std::string &in) {
        RefString text(in);
        RefString expression(pattern);
        SAFEARRAY *matches = nullptr;
        const auto status = Regex_Search(text.ref(), expression.ref(), &matches, limit);
        SafeArrayDestroy(matches);
        return static_cast<size_t>(status);
    };
}

struct Case {
    const char *name;
    Call call;
    std::function<std::string()> worst;
    std::function<std::string()> ordinary;
    bool inFile = false; // the input is written to a file and the call gets the file's path
};

// The file an INI case reads and writes, beside the other temporary files of this process.
std::string IniPath(bool worst) {
    return "/tmp/kestrun-hostile-" + std::to_string(::getpid()) + (worst ? "-worst" : "-ordinary") +
           ".ini";
}

// ReadINIValue or WriteINIValue on the file `path` names.
Call IniCall(bool write) {
    return [write](const std::string &path) -> size_t {
        RefString section("s");
        RefString key("k");
        RefString value("new value");
        RefString file(path);
        if (write) {
            return static_cast<size_t>(
                WriteINIValue(section.ref(), key.ref(), value.ref(), file.ref()));
        }
        return Consume(ReadINIValue(section.ref(), key.ref(), value.ref(), file.ref()));
    };
}

std::vector<Case> Cases() {
    const auto invalidGbk = [] { return Repeat(kInvalidGbk); };
    const auto gbkProse = [] { return Repeat(kGbkProse); };
    return {
        {"Base64Encode_UTF8 invalid GBK", InString(Base64Encode_UTF8), invalidGbk, gbkProse},
        {"Base64Decode_UTF8 invalid UTF-8", InString(Base64Decode_UTF8),
         [] { return Base64Of(Repeat("\xFF\xFE\xC3")); },
         [] { return Base64Of(Repeat(kUtf8Prose)); }},
        {"Base64Decode_UTF8 unmappable", InString(Base64Decode_UTF8),
         [] { return Base64Of(Repeat(kUnmappableUtf8)); },
         [] { return Base64Of(Repeat(kUtf8Prose)); }},
        {"UrlEncode_UTF8 invalid GBK", InString(UrlEncode_UTF8), invalidGbk, gbkProse},
        {"UrlDecode_UTF8 GBK bytes", InString(UrlDecode_UTF8), gbkProse,
         [] { return Repeat(kUtf8Prose); }},
        {"UrlDecode_UTF8 all escapes", InString(UrlDecode_UTF8), [] { return Repeat("%FF"); },
         [] { return Repeat("%41"); }},
        {"UnicodeEncode invalid GBK", InString(UnicodeEncode), invalidGbk, gbkProse},
        {"UnicodeDecode unmappable escapes", InString(UnicodeDecode),
         [] { return Repeat("\\u0e01"); }, [] { return Repeat("\\u4e2d"); }},
        {"HTMLEncode all &", InString(HTMLEncode), [] { return Repeat("&"); }, gbkProse},
        {"HTMLDecode all &", InString(HTMLDecode), [] { return Repeat("&"); },
         [] { return Repeat("&amp;&lt;x&gt; "); }},
        {"HTMLDecode all &amp;", InString(HTMLDecode), [] { return Repeat("&amp;"); },
         [] { return Repeat("&amp;&lt;x&gt; "); }},
        {"NoHTML all &", [](const std::string &in) { return Consume(NoHTML(in.c_str(), 15)); },
         [] { return Repeat("&"); }, [] { return Repeat("<p>" + kGbkProse + "</p>\r\n"); }},
        {"NoHTML deep nesting",
         [](const std::string &in) { return Consume(NoHTML(in.c_str(), 15)); },
         [] { return std::string(kSize / 2, '<') + std::string(kSize / 2, '>'); },
         [] { return Repeat("<p>" + kGbkProse + "</p>\r\n"); }},
        {"NoHTML unclosed tags",
         [](const std::string &in) { return Consume(NoHTML(in.c_str(), 15)); },
         [] { return Repeat("<script <style <b &nbsp"); },
         [] { return Repeat("<p>" + kGbkProse + "</p>\r\n"); }},
        {"StrToHex_UTF8 invalid GBK",
         [](const std::string &in) {
             RefString text(in);
             return Consume(StrToHex_UTF8(text.ref(), 1));
         },
         invalidGbk, gbkProse},
        {"HexToStr_UTF8 FF bytes", RefStringCall(HexToStr_UTF8), [] { return Repeat("FF"); },
         [] { return Repeat("E4B8AD"); }},
        {"MD532_UTF8 invalid GBK", InString(MD532_UTF8), invalidGbk, gbkProse},
        {"AESEncrypt_UTF8 invalid GBK",
         [](const std::string &in) {
             return Consume(AESEncrypt_UTF8(in.c_str(), "key", "iv", 1, 1, 1));
         },
         invalidGbk, gbkProse},
        {"Regex_Replace backtracking",
         [](const std::string &in) {
             RefString text(in);
             RefString pattern("(a|aa)+$");
             RefString format("x");
             return Consume(Regex_Replace(text.ref(), pattern.ref(), format.ref()));
         },
         [] { return Repeat("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa!"); }, gbkProse},
        {"Regex_Search backtracking", Search("(\\w+\\s?)*;", 0),
         [] { return Repeat("word word word word word word."); }, gbkProse},
        {"Regex_Search rescanning", Search("x*[yz]", -1), [] { return std::string(kSize, 'x'); },
         [] { return Repeat("xxxxxxxxz "); }},
        {"ReadINIValue short lines", IniCall(false), [] { return Repeat("k=v\r\n"); },
         [] { return Repeat("[section]\r\nkey name=" + kGbkProse + kGbkProse + "\r\n"); }, true},
        {"WriteINIValue short lines", IniCall(true), [] { return Repeat("k=v\r\n"); },
         [] { return Repeat("[section]\r\nkey name=" + kGbkProse + kGbkProse + "\r\n"); }, true},
        {"ExplodeData near-miss marker",
         [](const std::string &in) {
             RefString text(in);
             RefString start(std::string(1u << 20, 'a') + "b");
             RefString end("b");
             return Consume(ExplodeData(text.ref(), start.ref(), end.ref()));
         },
         [] { return std::string(kSize, 'a'); }, gbkProse},
    };
}

// Inputs are made once per case and kept for both runs.
const std::string &Input(const Case &c, bool worst) {
    static std::map<std::string, std::string> inputs;
    const std::string key = std::string(c.name) + (worst ? "/worst" : "/ordinary");
    auto it = inputs.find(key);
    if (it == inputs.end()) {
        it = inputs.emplace(key, worst ? c.worst() : c.ordinary()).first;
    }
    return it->second;
}

void Run(benchmark::State &state, const Case &c, bool worst) {
    const std::string &input = Input(c, worst);
    const std::string path = IniPath(worst);
    if (c.inFile) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << input;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(c.call(c.inFile ? path : input));
    }
    if (c.inFile) {
        std::remove(path.c_str());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

// Keeps the console output and remembers the real time per iteration of every run.
class SecondsReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (!run.error_occurred && run.run_type == Run::RT_Iteration) {
                const std::string name = run.benchmark_name();
                seconds[name.substr(0, name.find("/iterations"))] =
                    run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            }
        }
    }
    std::map<std::string, double> seconds;
};

} // namespace

int main(int argc, char **argv) {
    const std::vector<Case> cases = Cases();
    for (const Case &c : cases) {
        for (const bool worst : {true, false}) {
            const std::string name = std::string(c.name) + (worst ? " [worst]" : " [ordinary]");
            benchmark::RegisterBenchmark(
                name.c_str(), [&c, worst](benchmark::State &state) { Run(state, c, worst); })
                ->Unit(benchmark::kMillisecond)
                ->Iterations(2);
        }
    }
    benchmark::Initialize(&argc, argv);
    SecondsReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-36s %12s %12s %8s %10s\n", "16 MiB through the export", "worst s/MiB",
                "ordinary", "ratio", "16 MiB");
    for (const Case &c : cases) {
        const auto worst = reporter.seconds.find(std::string(c.name) + " [worst]");
        const auto ordinary = reporter.seconds.find(std::string(c.name) + " [ordinary]");
        if (worst == reporter.seconds.end() || ordinary == reporter.seconds.end()) {
            continue;
        }
        const double worstMiB = static_cast<double>(Input(c, true).size()) / kMiB;
        const double ordinaryMiB = static_cast<double>(Input(c, false).size()) / kMiB;
        const double perMiB = worst->second / worstMiB;
        const double ordinaryPerMiB = ordinary->second / ordinaryMiB;
        std::printf("%-36s %12.4f %12.4f %7.1fx %8.2f s %s\n", c.name, perMiB, ordinaryPerMiB,
                    perMiB / ordinaryPerMiB, perMiB * 16.0,
                    perMiB * 16.0 <= 2.0 ? "(goal 2 s: met)" : "(goal 2 s: missed)");
    }
    benchmark::Shutdown();
    return 0;
}
