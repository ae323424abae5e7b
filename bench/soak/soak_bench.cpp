// One million mixed export calls on 2 threads, as hosts call them (BSTR variables in and out,
// arrays destroyed, results freed): the text codecs, MD5, AES on strings and on small files, QR
// codes written and scanned, INI values, SQLite, regular expressions, the text utilities, small
// VBScript programs and the safe evaluator. Resident memory (/proc/self/statm) is read before the
// first call, after half of the calls and after the last; what the second half adds must stay
// under 1 MiB, or something leaks per call. Dialogs, the clipboard and HTTP are left out: they
// need a desktop or a server.
#include "assembler.h"
#include "exports.h"
#include "kestrun.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

constexpr int64_t kCalls = 1000000;
constexpr int kThreads = 2;
constexpr double kGoalKiB = 1024;

// A host's String variable: ByRef in, or written by the export.
class Var {
public:
    explicit Var(std::string_view text = {})
        : value_(SysAllocStringByteLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Var() { SysFreeString(value_); }
    Var(const Var &) = delete;
    Var &operator=(const Var &) = delete;
    BSTR *ref() { return &value_; }

private:
    BSTR value_;
};

void Free(BSTR result) {
    benchmark::DoNotOptimize(result);
    SysFreeString(result);
}

uint64_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    uint64_t size = 0;
    uint64_t resident = 0;
    statm >> size >> resident;
    return resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

std::string Folder() {
    static const std::string folder = [] {
        char name[] = "/tmp/soak_bench.XXXXXX";
        return std::string(mkdtemp(name) != nullptr ? name : "/tmp");
    }();
    return folder;
}

const std::vector<std::uint8_t> &EvalProgram() {
    static const std::vector<std::uint8_t> program = [] {
        auto result = safe_eval_asm::assemble(
            "PUSH_INT 6\nPUSH_INT 7\nMUL\nPUSH_INT 42\nEQ\nPUSH_STR \"ab\"\n"
            "PUSH_STR \"cd\"\nADD\nPUSH_STR \"abcd\"\nEQ\nAND\n");
        auto *code = std::get_if<std::vector<std::uint8_t>>(&result);
        return code != nullptr ? *code : std::vector<std::uint8_t>{};
    }();
    return program;
}

std::atomic<int64_t> calls{0};
std::atomic<uint64_t> middleRss{0};

const char kGbk[] = "\xD6\xD0\xCE\xC4 text <b>&amp;</b> 123"; // "中文 text ..." in GBK

// One call (or a short pair that belongs together) of the kind numbered `n`.
void Call(int64_t n, int thread) {
    const std::string mine = Folder() + "/t" + std::to_string(thread);
    switch (n % 24) {
    case 0: {
        BSTR encoded = Base64Encode_UTF8(kGbk);
        Free(Base64Decode_UTF8(reinterpret_cast<const char *>(encoded)));
        Free(encoded);
        break;
    }
    case 1: {
        BSTR encoded = UrlEncode_GB(kGbk);
        Free(UrlDecode_UTF8(reinterpret_cast<const char *>(encoded)));
        Free(encoded);
        break;
    }
    case 2:
        Free(UnicodeDecode("\\u4e2d\\u6587 and \\u0041"));
        Free(UnicodeEncode(kGbk));
        break;
    case 3:
        Free(HTMLEncode(kGbk));
        Free(HTMLDecode("&lt;a&gt; &amp;amp; &#20013;"));
        break;
    case 4:
        Free(NoHTML("<p>para<br/>graph <script>x</script>&nbsp;end</p>", 15));
        break;
    case 5: {
        Var text(kGbk);
        BSTR hex = StrToHex_UTF8(text.ref(), 1);
        Var back{std::string_view(reinterpret_cast<const char *>(hex))};
        Free(HexToStr_UTF8(back.ref()));
        Free(hex);
        break;
    }
    case 6:
        Free(MD532_UTF8(kGbk));
        Free(MD516_GB(kGbk));
        break;
    case 7: {
        BSTR cipher = AESEncrypt_UTF8(kGbk, "key", "iv", 1, 1, 1);
        Free(AESDecrypt_UTF8(reinterpret_cast<const char *>(cipher), "key", "iv", 1, 1, 1));
        Free(cipher);
        break;
    }
    case 8: {
        BSTR cipher = AESEncrypt_GB(kGbk, "key", "iv", 2, 0, 0);
        Free(AESDecrypt_GB(reinterpret_cast<const char *>(cipher), "key", "iv", 2, 0, 0));
        Free(cipher);
        break;
    }
    case 9: {
        Var text("one 12 two 345 three 6789");
        Var pattern("\\d+");
        SAFEARRAY *matches = nullptr;
        benchmark::DoNotOptimize(Regex_Search(text.ref(), pattern.ref(), &matches, 0));
        SafeArrayDestroy(matches);
        break;
    }
    case 10: {
        Var text("2026-12-09 and 2027-01-02");
        Var pattern("(\\d+)-(\\d+)-(\\d+)");
        Var format("$3/$2/$1");
        Free(Regex_Replace(text.ref(), pattern.ref(), format.ref()));
        break;
    }
    case 11: {
        Var text("<title>\xD6\xD0\xCE\xC4</title><body>x</body>");
        Var start("<title>");
        Var end("</title>");
        Free(ExplodeData(text.ref(), start.ref(), end.ref()));
        Var a("kitten sitting");
        Var b("sitting kitten");
        benchmark::DoNotOptimize(StrCompare(a.ref(), b.ref()));
        break;
    }
    case 12: {
        Var items("a,b,c,d");
        Var separator(",");
        int32_t count = 0;
        Free(Permutation(items.ref(), separator.ref(), &count));
        Free(Combination(items.ref(), separator.ref(), &count));
        break;
    }
    case 13: {
        Var section("main");
        Var key("k" + std::to_string(n % 7));
        Var value("v" + std::to_string(n % 1000));
        Var file(mine + ".ini");
        benchmark::DoNotOptimize(WriteINIValue(section.ref(), key.ref(), value.ref(), file.ref()));
        Var fallback("none");
        Free(ReadINIValue(section.ref(), key.ref(), fallback.ref(), file.ref()));
        break;
    }
    case 14: {
        Var script("Dim a, b\na = 6 * 7\nb = UCase(\"x\") & a\n");
        Var error;
        benchmark::DoNotOptimize(RunVBScript(script.ref(), error.ref()));
        break;
    }
    case 15: {
        char *json = eval(EvalProgram().data(), EvalProgram().size(), 1000);
        benchmark::DoNotOptimize(json);
        free_result(json);
        break;
    }
    case 16:
        if (n % (24 * 20) == 16) { // SQLite: open, write, read, close
            intptr_t connection = 0;
            Var path(mine + ".db");
            Var message;
            if (SQLite_Open(&connection, path.ref(), message.ref()) == 1) {
                Var sql("create table if not exists t(k integer primary key, v text);"
                        "insert or replace into t values(" +
                        std::to_string(n % 50) + ", '\xD6\xD0\xCE\xC4');");
                SQLite_Execute(&connection, sql.ref(), message.ref());
                Var query("select k, v from t order by k limit 10");
                SAFEARRAY *rows = nullptr;
                SQLite_ReadData(&connection, query.ref(), &rows, message.ref());
                SafeArrayDestroy(rows);
                SQLite_Close(&connection);
            }
        } else {
            Free(MD532_GB(kGbk));
        }
        break;
    case 17:
        if (n % (24 * 50) == 17) { // the text-file cipher, both ways
            const std::string plain = mine + ".txt";
            const std::string cipher = mine + ".bin";
            const std::string back = mine + ".out";
            if (n % (24 * 50 * 10) == 17) {
                std::ofstream(plain) << "line one\nline two \xD6\xD0\xCE\xC4\n";
            }
            Free(AESEncryptTxtFile_GB(plain.c_str(), cipher.c_str(), "k", "i", 1));
            Free(AESDecryptTxtFile_GB(cipher.c_str(), back.c_str(), "k", "i", 1));
        } else {
            Free(Base64Encode_GB(kGbk));
        }
        break;
    case 18:
        if (n % (24 * 500) == 18) { // a QR code written, scanned and converted
            Var text("soak " + std::to_string(n));
            Var bmp(mine + ".bmp");
            Free(MakeQRCode(text.ref(), bmp.ref(), 0, 1, 90));
            Var error;
            Free(ScanQRImage(bmp.ref(), 1, error.ref(), 0)); // a BMP is not scanned: a message
            Var jpg(mine + ".jpg");
            Free(ImageToJPG(bmp.ref(), jpg.ref(), 80));
            Free(ScanQRImage(jpg.ref(), 1, error.ref(), 0));
            Var png(mine + ".png");
            Free(ImageToBMP(jpg.ref(), png.ref()));
        } else {
            Free(HTMLEncode("a < b & c"));
        }
        break;
    case 19: {
        Var script("Function Twice(x)\nTwice = x * 2\nEnd Function\n");
        Var name("Twice");
        SAFEARRAYBOUND bound{1, 0};
        SAFEARRAY *arguments = SafeArrayCreate(VT_VARIANT, 1, &bound);
        LONG index = 0;
        VARIANT argument;
        VariantInit(&argument);
        argument.vt = VT_I4;
        argument.lVal = static_cast<LONG>(n % 1000);
        SafeArrayPutElement(arguments, &index, &argument);
        VARIANT result;
        VariantInit(&result);
        Var error;
        benchmark::DoNotOptimize(
            RunVBFunction(script.ref(), name.ref(), &arguments, &result, error.ref()));
        VariantClear(&result);
        SafeArrayDestroy(arguments);
        break;
    }
    case 20: {
        Var hex("e4b8ade69687");
        Free(HexToStr_GB(hex.ref()));
        Free(UrlEncode_UTF8(kGbk));
        break;
    }
    case 21:
        Free(MD516_UTF8(kGbk));
        break;
    case 22: {
        Var text("x");
        Var pattern("(");
        Var format("y");
        Free(Regex_Replace(text.ref(), pattern.ref(), format.ref())); // a bad pattern's message
        break;
    }
    default:
        Free(Base64Decode_GB("5Lit5paH"));
        break;
    }
}

std::string Take(BSTR result) {
    std::string text = result != nullptr ? reinterpret_cast<const char *>(result) : "";
    SysFreeString(result);
    return text;
}

// The calls the soak repeats do their work (and do not just fail fast): a few results checked
// before the run.
bool CallsWork() {
    const std::string folder = Folder();
    Var script("Dim a\na = 6 * 7\n");
    Var error;
    Var text("qr text");
    Var bmp(folder + "/check.bmp");
    Var section("s");
    Var key("k");
    Var value("v");
    Var ini(folder + "/check.ini");
    Var fallback("none");
    intptr_t connection = 0;
    Var db(folder + "/check.db");
    Var message;
    char *json = eval(EvalProgram().data(), EvalProgram().size(), 1000);
    const bool evaluated = json != nullptr && std::string(json).find("true") != std::string::npos;
    free_result(json);
    const bool stored = SQLite_Open(&connection, db.ref(), message.ref()) == 1;
    SQLite_Close(&connection);
    return Take(MD532_GB("a")) == "0cc175b9c0f1b6a831c399e269772661" &&
           RunVBScript(script.ref(), error.ref()) == 1 && evaluated && stored &&
           Take(MakeQRCode(text.ref(), bmp.ref(), 0, 1, 90)) == "OK" &&
           WriteINIValue(section.ref(), key.ref(), value.ref(), ini.ref()) != 0 &&
           Take(ReadINIValue(section.ref(), key.ref(), fallback.ref(), ini.ref())) == "v";
}

void BM_Soak(benchmark::State &state) {
    const int thread = state.thread_index();
    for (auto _ : state) {
        const int64_t n = calls.fetch_add(1, std::memory_order_relaxed);
        Call(n, thread);
        if (n == kCalls / 2) {
            middleRss = ResidentBytes();
        }
    }
}
BENCHMARK(BM_Soak)
    ->Threads(kThreads)
    ->Iterations(kCalls / kThreads)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    if (EvalProgram().empty()) {
        std::fprintf(stderr, "the evaluator's program did not assemble\n");
        return 1;
    }
    const uint64_t start = ResidentBytes();
    if (!CallsWork()) {
        std::fprintf(stderr, "a call of the soak does not work here\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const uint64_t end = ResidentBytes();
    std::error_code ignored;
    std::filesystem::remove_all(Folder(), ignored);

    const double kib = 1024.0;
    const double growth = (static_cast<double>(end) - static_cast<double>(middleRss)) / kib;
    std::printf("\n%lld calls on %d threads; resident memory: start %.0f KiB, middle %.0f KiB, "
                "end %.0f KiB\n",
                static_cast<long long>(calls.load()), kThreads, static_cast<double>(start) / kib,
                static_cast<double>(middleRss.load()) / kib, static_cast<double>(end) / kib);
    std::printf("%-34s %12s %12s %10s %s\n", "work", "growth KiB", "goal KiB", "", "");
    std::printf("%-34s %12.0f %12.0f %10s %s\n", "RSS growth over the last half", growth, kGoalKiB,
                "", growth < kGoalKiB ? "ok" : "BELOW");
    return 0;
}
