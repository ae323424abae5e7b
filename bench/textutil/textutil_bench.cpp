// NoHTML (option 15) and Regex_Replace over generated pages of 10 KB, 1 MB and 10 MB. At 10 KB
// the same pipelines built on std::regex run as the peer (its recursive matcher cannot take
// the larger pages), and the ratio is printed at the end.
#include "kestrun/codecs/nohtml.h"
#include "kestrun/textutil/text_utils.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <regex>
#include <string>

namespace {

// A page of ordinary markup: a style and a script block, then paragraphs with inline tags,
// entities, indentation and blank lines, repeated to `size` bytes.
std::string MakePage(size_t size) {
    const std::string head = "<html>\r\n<head>\r\n<title>Report &amp; notes</title>\r\n"
                             "<STYLE type=\"text/css\">\r\nbody { margin: 0 }\r\n"
                             "p.note { color: #333; }\r\n</style>\r\n"
                             "<script language=\"javascript\">\r\nvar a = 1 < 2;\r\n"
                             "function f(x) { return '<b>' + x + '</b>'; }\r\n</script>\r\n"
                             "</head>\r\n<body>\r\n";
    const std::string chunk =
        "\t<div class=\"row\">\r\n\t\t<p class=\"note\">Item &lt;42&gt; costs 3&nbsp;&times;"
        "&nbsp;7 &quot;units&quot; and <b>ships</b> <i>today</i>.</p>\r\n\r\n\r\n"
        "\t\t<a href=\"/x?a=1&amp;b=2\">more</a>  &copy; 2020\r\n\t</div>\r\n";
    std::string page = head;
    size_t blocks = 0;
    while (page.size() < size) {
        page += chunk;
        if (++blocks % 64 == 0) {
            page += "<script>\r\ndocument.write('<p>' + n + '</p>');\r\n</script>\r\n"
                    "<style>\r\n.c" +
                    std::to_string(blocks) + " { width: 1px }\r\n</style>\r\n";
        }
    }
    page += "</body>\r\n</html>\r\n";
    return page;
}

const std::string &Page(size_t size) {
    static std::map<size_t, std::string> pages;
    auto it = pages.find(size);
    if (it == pages.end()) {
        it = pages.emplace(size, MakePage(size)).first;
    }
    return it->second;
}

// Dense: every tag is rewritten (about 60 replacements per KB). Sparse: one short phrase per
// paragraph (about 6 per KB).
constexpr const char *kReplacePattern = R"(<(/?)(\w+)[^>]*>)";
constexpr const char *kReplaceFormat = "[$1$2]";
constexpr const char *kSparsePattern = R"(&copy;\s*(\d{4}))";
constexpr const char *kSparseFormat = "(c) $1";

std::string StdRegexNoHtml(const std::string &markup) {
    using std::regex;
    const auto ecma = regex::ECMAScript;
    std::string text = markup;
    text = std::regex_replace(
        text, regex(R"((\<style(.*?)\>[^]*?\<\/style>))", ecma | regex::icase), " ");
    text = std::regex_replace(
        text, regex(R"((\<script(.*?)\>[^]*?\<\/script>))", ecma | regex::icase), " ");
    text = std::regex_replace(text, regex(R"((\<.[^\<]*\>))", ecma), " ");
    text = std::regex_replace(text, regex(R"((\<\/[^\<]*\>))", ecma), " ");
    return kestrun::codecs::DecodeAndCollapse(std::move(text), 15);
}

std::string StdRegexReplace(const std::string &text, const char *pattern, const char *format) {
    const std::regex re(pattern, std::regex::ECMAScript | std::regex::icase);
    return std::regex_replace(text, re, format);
}

void BM_NoHtml(benchmark::State &state) {
    const std::string &page = Page(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(kestrun::codecs::NoHtml(page, 15));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void BM_NoHtmlStdRegex(benchmark::State &state) {
    const std::string &page = Page(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(StdRegexNoHtml(page));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void BM_RegexReplace(benchmark::State &state) {
    const std::string &page = Page(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            kestrun::textutil::ReplaceMatches(page, kReplacePattern, kReplaceFormat));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void BM_RegexReplaceStdRegex(benchmark::State &state) {
    const std::string &page = Page(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(StdRegexReplace(page, kReplacePattern, kReplaceFormat));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void BM_RegexReplaceSparse(benchmark::State &state) {
    const std::string &page = Page(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            kestrun::textutil::ReplaceMatches(page, kSparsePattern, kSparseFormat));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void BM_RegexReplaceSparseStdRegex(benchmark::State &state) {
    const std::string &page = Page(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(StdRegexReplace(page, kSparsePattern, kSparseFormat));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

constexpr int64_t k10K = 10 * 1024;
constexpr int64_t k1M = 1024 * 1024;
constexpr int64_t k10M = 10 * 1024 * 1024;

BENCHMARK(BM_NoHtml)->Arg(k10K)->Arg(k1M)->Arg(k10M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NoHtmlStdRegex)->Arg(k10K)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RegexReplace)->Arg(k10K)->Arg(k1M)->Arg(k10M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RegexReplaceStdRegex)->Arg(k10K)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RegexReplaceSparse)->Arg(k10K)->Arg(k1M)->Arg(k10M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RegexReplaceSparseStdRegex)->Arg(k10K)->Unit(benchmark::kMillisecond);

// Keeps the console output and remembers the real and CPU time per iteration of every
// benchmark, in milliseconds.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (!run.error_occurred && run.run_type == Run::RT_Iteration) {
                // Adjusted times are in run.time_unit; the multiplier is units per second.
                const double perSecond = benchmark::GetTimeUnitMultiplier(run.time_unit);
                realMs[run.benchmark_name()] = run.GetAdjustedRealTime() / perSecond * 1e3;
                cpuMs[run.benchmark_name()] = run.GetAdjustedCPUTime() / perSecond * 1e3;
            }
        }
    }
    std::map<std::string, double> realMs;
    std::map<std::string, double> cpuMs;
};

// The ratio uses CPU time, which other load on a shared machine disturbs least.
void PrintRatio(const RatioReporter &r, const std::string &ours, const std::string &peer) {
    const auto a = r.cpuMs.find(ours);
    const auto b = r.cpuMs.find(peer);
    if (a == r.cpuMs.end() || b == r.cpuMs.end() || a->second <= 0) {
        return;
    }
    const double ratio = b->second / a->second;
    std::printf("%-30s %9.4f ms  std::regex %9.4f ms (CPU)  %6.1fx faster %s\n", ours.c_str(),
                a->second, b->second, ratio,
                ratio >= 20.0 ? "(goal 20x: met)" : "(goal 20x: missed)");
}

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("\n");
    PrintRatio(reporter, "BM_NoHtml/10240", "BM_NoHtmlStdRegex/10240");
    PrintRatio(reporter, "BM_RegexReplace/10240", "BM_RegexReplaceStdRegex/10240");
    PrintRatio(reporter, "BM_RegexReplaceSparse/10240", "BM_RegexReplaceSparseStdRegex/10240");
    for (const char *name :
         {"BM_NoHtml/10485760", "BM_RegexReplace/10485760", "BM_RegexReplaceSparse/10485760"}) {
        const auto real = reporter.realMs.find(name);
        const auto cpu = reporter.cpuMs.find(name);
        if (real != reporter.realMs.end() && cpu != reporter.cpuMs.end()) {
            std::printf("%-30s %9.1f ms real, %9.1f ms CPU per 10 MB page %s\n", name, real->second,
                        cpu->second,
                        cpu->second < 1000.0 ? "(goal < 1 s: met)" : "(goal < 1 s: missed)");
        }
    }
    return 0;
}
