// kestrun: a command-line host for libkestrun.so.
//
// Loads the library at run time and binds each export by its name, as a Visual Basic program
// does. Text arguments are taken as UTF-8 from the terminal and handed over as GBK bytes; GBK
// results are printed back as UTF-8. One call from the command line, or a session of calls, one
// per line, from a file, standard input or an interactive prompt, sharing $variables.
#include "cli_usage.h"
#include "export_table.h"
#include "session.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#ifdef KESTRUN_LINE_EDITING
#include <cstdlib>
#include <editline/readline.h>
#endif

namespace {

using kestrun_cli::kUsage;
using kestrun_cli::Session;

int Usage(std::FILE *to, int status) {
    std::fputs(kUsage, to);
    std::fputs("\nexports (kestrun help NAME for one):\n", to);
    for (const auto &info : kestrun_cli::BuiltInExports()) {
        std::fprintf(to, "  %s\n", kestrun_cli::Signature(info).c_str());
    }
    return status;
}

// Reads one line of any length; false at the end of the input.
bool ReadLine(std::FILE *in, std::string &line) {
    line.clear();
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, in) != nullptr) {
        line += buffer;
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
            return true;
        }
    }
    return !line.empty();
}

// Reads the next line at the prompt, with line editing and history where the build has them.
bool ReadPromptLine(std::string &line) {
#ifdef KESTRUN_LINE_EDITING
    struct Free {
        void operator()(char *p) const { std::free(p); }
    };
    const std::unique_ptr<char, Free> read(readline("kestrun> "));
    if (!read) {
        return false;
    }
    line = read.get();
    if (line.find_first_not_of(" \t") != std::string::npos) {
        add_history(read.get());
    }
    return true;
#else
    std::fputs("kestrun> ", stdout);
    std::fflush(stdout);
    return ReadLine(stdin, line);
#endif
}

int RunSession(Session &session, std::FILE *in, bool prompt) {
    bool allSucceeded = true;
    std::string line;
    int number = 0;
    while (prompt ? ReadPromptLine(line) : ReadLine(in, line)) {
        ++number;
        if (prompt && (line == "quit" || line == "exit")) {
            break;
        }
        allSucceeded = session.RunLine(line, prompt ? 0 : number) && allSucceeded;
    }
    if (prompt) {
        std::fputs("\n", stdout);
    }
    return allSucceeded ? 0 : 1;
}

struct FileClose {
    void operator()(std::FILE *f) const { std::fclose(f); }
};

} // namespace

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    bool hex = false;
    bool echo = false;
    while (!args.empty() && (args[0] == "-x" || args[0] == "-e")) {
        (args[0] == "-x" ? hex : echo) = true;
        args.erase(args.begin());
    }
    Session session(stdout, stderr, hex);
    session.EchoLines(echo);
    if (args.empty()) {
        const bool terminal = isatty(STDIN_FILENO) != 0;
        if (terminal) {
            std::printf("kestrun %s: one call per line, help [NAME] for the exports, "
                        "Ctrl-D to end\n",
                        KESTRUN_VERSION);
        }
        return RunSession(session, stdin, terminal);
    }
    const std::string &first = args[0];
    if (first == "--help" || first == "-h") {
        return Usage(stdout, 0);
    }
    if (first == "--version") {
        std::printf("kestrun %s (%s)\n", KESTRUN_VERSION, KESTRUN_SONAME);
        return 0;
    }
    if (first == "help") {
        if (args.size() == 1) {
            return Usage(stdout, 0);
        }
        const auto *info = kestrun_cli::FindExport(kestrun_cli::BuiltInExports(), args[1]);
        if (info == nullptr) {
            std::fprintf(stderr, "kestrun: no export named %s\n", args[1].c_str());
            return 2;
        }
        std::fputs(kestrun_cli::DescribeExport(*info).c_str(), stdout);
        return 0;
    }
    if (first == "-f") {
        if (args.size() != 2) {
            return Usage(stderr, 2);
        }
        if (args[1] == "-") {
            return RunSession(session, stdin, false);
        }
        std::unique_ptr<std::FILE, FileClose> file(std::fopen(args[1].c_str(), "r"));
        if (!file) {
            std::fprintf(stderr, "kestrun: cannot read %s: %s\n", args[1].c_str(),
                         std::strerror(errno));
            return 2;
        }
        return RunSession(session, file.get(), false);
    }
    if (!first.empty() && first[0] == '-') {
        std::fprintf(stderr, "kestrun: unknown option %s\n", first.c_str());
        return Usage(stderr, 2);
    }
    if (kestrun_cli::FindExport(kestrun_cli::BuiltInExports(), first) == nullptr) {
        std::fprintf(stderr, "kestrun: no export named %s\n", first.c_str());
        return Usage(stderr, 2);
    }
    return session.RunCommandLine(args) ? 0 : 1;
}
