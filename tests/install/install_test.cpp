// The installed tree as a host program's build sees it: `cmake --install` into a scratch prefix,
// a small C host built with pkg-config and with find_package, and the Debian packages unpacked
// into a scratch root.
#include "command.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testsupport::CommandResult;
using testsupport::RunCommand;
using testsupport::ScratchFolder;
using testsupport::ShellQuote;

// Flags the host must share with the libraries (a sanitizer runtime has to be linked first).
constexpr const char *kHostFlags = KESTRUN_HOST_FLAGS;
constexpr const char *kLibDir = KESTRUN_INSTALL_LIBDIR;

std::string Quiet(const std::string &command) {
    return command + " 2>&1";
}

bool Install(const std::string &prefix) {
    const CommandResult r =
        RunCommand(Quiet(ShellQuote(KESTRUN_CMAKE) + " --install " + ShellQuote(KESTRUN_BUILD_DIR) +
                         " --prefix " + ShellQuote(prefix)));
    EXPECT_EQ(r.status, 0) << r.output;
    return r.status == 0;
}

std::string Soname(const fs::path &library) {
    const CommandResult r =
        RunCommand("readelf -d " + ShellQuote(library.string()) + " | grep SONAME");
    const auto open = r.output.find('[');
    const auto close = r.output.find(']');
    return open == std::string::npos || close == std::string::npos
               ? std::string()
               : r.output.substr(open + 1, close - open - 1);
}

// Checks a tree laid out under `root` (a prefix, or the /usr of an unpacked package).
void ExpectLibraries(const fs::path &root, bool withDevLinks) {
    const fs::path lib = root / kLibDir;
    for (const std::string name : {"libkestrun", "liboleaut", "libquarn_bridge_safe_eval"}) {
        const fs::path real = lib / (name + ".so." KESTRUN_VERSION);
        EXPECT_TRUE(fs::is_regular_file(real)) << real;
        EXPECT_EQ(Soname(real), name + ".so." KESTRUN_VERSION_MAJOR);
        EXPECT_TRUE(fs::is_symlink(lib / (name + ".so." KESTRUN_VERSION_MAJOR))) << name;
        EXPECT_EQ(fs::exists(lib / (name + ".so")), withDevLinks) << name;
    }
    for (const std::string &helper : std::vector<std::string>{KESTRUN_HELPERS}) {
        EXPECT_TRUE(fs::is_regular_file(lib / "kestrun" / helper)) << helper;
    }
}

void ExpectDevFiles(const fs::path &root) {
    EXPECT_TRUE(fs::is_regular_file(root / "include/kestrun/kestrun.h"));
    EXPECT_TRUE(fs::is_regular_file(root / "include/kestrun/oleauto.h"));
    for (const char *pc : {"kestrun.pc", "oleaut.pc", "quarn_bridge_safe_eval.pc"}) {
        EXPECT_TRUE(fs::is_regular_file(root / kLibDir / "pkgconfig" / pc)) << pc;
    }
    EXPECT_TRUE(fs::is_regular_file(root / kLibDir / "cmake/Kestrun/KestrunConfig.cmake"));
    EXPECT_TRUE(fs::is_regular_file(root / kLibDir / "cmake/Kestrun/KestrunConfigVersion.cmake"));
}

// The installed command-line host finds the installed library without any environment.
void ExpectToolsRun(const fs::path &root) {
    const CommandResult r =
        RunCommand(Quiet("env -u LD_LIBRARY_PATH " + ShellQuote((root / "bin/kestrun").string()) +
                         " Base64Encode_GB abc"));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "YWJj\n");
    EXPECT_TRUE(fs::is_regular_file(root / "bin/safe-eval"));
}

void ExpectHostRuns(const std::string &program) {
    const CommandResult r = RunCommand(Quiet("env -u LD_LIBRARY_PATH " + ShellQuote(program)));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Base64Encode_GB: YWJj"), std::string::npos) << r.output;
}

TEST(Install, PrefixHoldsLibrariesHeadersToolsAndHelpers) {
    ScratchFolder scratch("kestrun-install");
    const std::string prefix = scratch / "prefix with space";
    ASSERT_TRUE(Install(prefix));
    ExpectLibraries(prefix, true);
    ExpectDevFiles(prefix);
    ExpectToolsRun(prefix);
}

TEST(Install, HostsBuildWithPkgConfigAndFindPackage) {
    ScratchFolder scratch("kestrun-host");
    const std::string prefix = scratch / "prefix";
    ASSERT_TRUE(Install(prefix));

    // pkg-config, as a Makefile would use it.
    const std::string pkgConfig =
        "PKG_CONFIG_PATH=" + ShellQuote(prefix + "/" + kLibDir + "/pkgconfig") + " pkg-config ";
    const CommandResult flags =
        RunCommand(pkgConfig + "--cflags --libs kestrun quarn_bridge_safe_eval");
    ASSERT_EQ(flags.status, 0) << flags.output;
    const CommandResult libdir = RunCommand(pkgConfig + "--variable=libdir kestrun");
    ASSERT_EQ(libdir.status, 0);
    const std::string pcHost = scratch / "pc-host";
    const CommandResult built = RunCommand(
        Quiet(ShellQuote(KESTRUN_C_COMPILER) + " -std=c99 -Wall -Wextra -Werror " + kHostFlags +
              " " + ShellQuote(KESTRUN_HOST_SOURCE "/host.c") + " -o " + ShellQuote(pcHost) + " " +
              flags.output.substr(0, flags.output.find('\n')) + " -Wl,-rpath," +
              ShellQuote(libdir.output.substr(0, libdir.output.find('\n')))));
    ASSERT_EQ(built.status, 0) << built.output;
    ExpectHostRuns(pcHost);

    // find_package(Kestrun), as a CMake project would use it.
    const std::string hostBuild = scratch / "cmake-host";
    const CommandResult configured = RunCommand(
        Quiet(ShellQuote(KESTRUN_CMAKE) + " -S " + ShellQuote(KESTRUN_HOST_SOURCE) + " -B " +
              ShellQuote(hostBuild) + " -DCMAKE_PREFIX_PATH=" + ShellQuote(prefix) +
              " -DCMAKE_C_COMPILER=" + ShellQuote(KESTRUN_C_COMPILER) + " -DCMAKE_C_FLAGS=" +
              ShellQuote(kHostFlags) + " -DCMAKE_EXE_LINKER_FLAGS=" + ShellQuote(kHostFlags)));
    ASSERT_EQ(configured.status, 0) << configured.output;
    const CommandResult cmakeBuilt =
        RunCommand(Quiet(ShellQuote(KESTRUN_CMAKE) + " --build " + ShellQuote(hostBuild)));
    ASSERT_EQ(cmakeBuilt.status, 0) << cmakeBuilt.output;
    ExpectHostRuns(hostBuild + "/host");
}

// The package file whose name starts with `stem` and an underscore (the architecture follows).
std::string PackageFile(const ScratchFolder &folder, const std::string &stem) {
    for (const auto &entry : fs::directory_iterator(folder.path())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(stem + "_", 0) == 0 && entry.path().extension() == ".deb") {
            return entry.path().string();
        }
    }
    return folder / (stem + "_(missing).deb");
}

std::string DebField(const std::string &deb, const std::string &field) {
    return RunCommand("dpkg-deb -f " + ShellQuote(deb) + " " + field).output;
}

TEST(Install, DebianPackagesUnpackIntoAWorkingTree) {
    ScratchFolder scratch("kestrun-deb");
    const CommandResult packed =
        RunCommand(Quiet(ShellQuote(KESTRUN_CPACK) + " --config " +
                         ShellQuote(KESTRUN_BUILD_DIR "/CPackConfig.cmake") + " -B " +
                         ShellQuote(scratch.path().string())));
    ASSERT_EQ(packed.status, 0) << packed.output;

    const std::string version = KESTRUN_VERSION;
    const std::string runtime =
        PackageFile(scratch, "libkestrun" KESTRUN_VERSION_MAJOR "_" + version);
    const std::string dev = PackageFile(scratch, "libkestrun-dev_" + version);
    const std::string tools = PackageFile(scratch, "kestrun-tools_" + version);
    const std::string root = scratch / "root";
    for (const std::string &deb : {runtime, dev, tools}) {
        ASSERT_TRUE(fs::is_regular_file(deb)) << deb << "\n" << packed.output;
        const CommandResult unpacked =
            RunCommand(Quiet("dpkg -x " + ShellQuote(deb) + " " + ShellQuote(root)));
        ASSERT_EQ(unpacked.status, 0) << unpacked.output;
    }

    // Dependencies come from the libraries actually linked, and the packages depend on each
    // other by exact version.
    const std::string runtimeDepends = DebField(runtime, "Depends");
    EXPECT_NE(runtimeDepends.find("libsqlite3-0"), std::string::npos) << runtimeDepends;
    EXPECT_NE(runtimeDepends.find("libc6"), std::string::npos) << runtimeDepends;
    const std::string exact = "libkestrun" KESTRUN_VERSION_MAJOR " (= " + version + ")";
    EXPECT_NE(DebField(dev, "Depends").find(exact), std::string::npos);
    EXPECT_NE(DebField(tools, "Depends").find(exact), std::string::npos);

    // The maintainer comes from the build's cache; the runtime package declares its libraries.
    EXPECT_EQ(DebField(runtime, "Maintainer"), KESTRUN_PACKAGE_MAINTAINER "\n");
    const CommandResult shlibs = RunCommand("dpkg-deb --ctrl-tarfile " + ShellQuote(runtime) +
                                            " | tar -xOf - ./shlibs ./triggers 2>&1");
    EXPECT_NE(shlibs.output.find("libkestrun " KESTRUN_VERSION_MAJOR " libkestrun"),
              std::string::npos)
        << shlibs.output;
    EXPECT_NE(shlibs.output.find("activate-noawait ldconfig"), std::string::npos) << shlibs.output;

    const fs::path usr = fs::path(root) / "usr";
    ExpectLibraries(usr, true);
    ExpectDevFiles(usr);
    ExpectToolsRun(usr);
    for (const std::string package :
         {"libkestrun" KESTRUN_VERSION_MAJOR, "libkestrun-dev", "kestrun-tools"}) {
        const fs::path doc = usr / "share/doc" / package;
        const CommandResult copyright =
            RunCommand("head -n1 " + ShellQuote((doc / "copyright").string()));
        EXPECT_EQ(copyright.output,
                  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n")
            << package;
        EXPECT_TRUE(fs::is_regular_file(doc / "changelog.gz")) << package;
    }
    for (const std::string page : {"kestrun.1.gz", "safe-eval.1.gz"}) {
        EXPECT_TRUE(fs::is_regular_file(usr / "share/man/man1" / page)) << page;
    }

    // lintian, where it is installed, finds no error in any of the three packages.
    if (KESTRUN_RUN_LINTIAN && RunCommand("command -v lintian").status == 0) {
        const CommandResult lintian = RunCommand(
            Quiet("lintian --fail-on error --tag-display-limit 0 " + ShellQuote(runtime) + " " +
                  ShellQuote(dev) + " " + ShellQuote(tools)));
        EXPECT_EQ(lintian.status, 0) << lintian.output;
        EXPECT_EQ(lintian.output.find("\nE: "), std::string::npos) << lintian.output;
        EXPECT_NE(lintian.output.rfind("E: ", 0), 0u) << lintian.output;
    } else {
        std::printf("lintian not run (not installed, or a sanitizer build)\n");
    }
}

} // namespace
