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

constexpr const char *kReplacePattern = R"(<(/?)(\w+)[^>]*>)";
constexpr const char *kReplaceFormat = "[$1$2]";

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

std::string StdRegexReplace(const std::string &text) {
    const std::regex re(kReplacePattern, std::regex::ECMAScript | std::regex::icase);
    return std::regex_replace(text, re, kReplaceFormat);
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
        benchmark::DoNotOptimize(StdRegexReplace(page));
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

// Keeps the console output and remembers the time per iteration of every benchmark.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (!run.error_occurred && run.run_type == Run::RT_Iteration) {
                // Adjusted time is in run.time_unit; the multiplier is units per second.
                const double perSecond = benchmark::GetTimeUnitMultiplier(run.time_unit);
                ms[run.benchmark_name()] = run.GetAdjustedRealTime() / perSecond * 1e3;
            }
        }
    }
    std::map<std::string, double> ms;
};

void PrintRatio(const RatioReporter &r, const std::string &ours, const std::string &peer) {
    const auto a = r.ms.find(ours);
    const auto b = r.ms.find(peer);
    if (a == r.ms.end() || b == r.ms.end() || a->second <= 0) {
        return;
    }
    const double ratio = b->second / a->second;
    std::printf("%-32s %10.4f ms  std::regex %10.4f ms  %7.1fx faster %s\n", ours.c_str(),
                a->second, b->second, ratio,
                ratio >= 20.0 ? "(goal 20x: met)" : "(goal 20x: MISSED)");
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
    for (const char *name : {"BM_NoHtml/10485760", "BM_RegexReplace/10485760"}) {
        const auto it = reporter.ms.find(name);
        if (it != reporter.ms.end()) {
            std::printf("%-32s %10.1f ms per 10 MB page %s\n", name, it->second,
                        it->second < 1000.0 ? "(goal < 1 s: met)" : "(goal < 1 s: MISSED)");
        }
    }
    return 0;
}
