// Files for the tests on every platform: a private scratch folder removed afterwards, whole-file
// reads and writes, and where the library was loaded from.
#pragma once

#include "kestrun.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace testfiles {

// A name no other test run uses at the same time.
inline std::string UniqueName(std::string_view prefix, std::string_view suffix = "") {
    return std::string(prefix) + "-" + std::to_string(std::random_device{}()) +
           std::to_string(std::random_device{}()) + std::string(suffix);
}

class TempFolder {
public:
    explicit TempFolder(std::string_view prefix = "kestrun-test") {
        // create_directory fails on a name that exists: the folder is new and ours.
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const auto candidate = std::filesystem::temp_directory_path() / UniqueName(prefix);
            std::error_code error;
            if (std::filesystem::create_directory(candidate, error)) {
                path_ = candidate.string();
            }
        }
        if (path_.empty()) {
            throw std::runtime_error("no scratch folder could be made");
        }
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;

    // An absolute path inside the folder ("/" separates on every platform).
    std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

inline std::string ReadBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string &path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Names in the folder other than the given ones (leftover temporary files, for instance).
inline std::vector<std::string> Listing(const std::string &folder) {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

// The folder the library was loaded from: a bare file name given to an export is found there.
inline std::filesystem::path LibraryFolder() {
#ifdef _WIN32
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(L"Kestrun.dll"), module, MAX_PATH);
    return std::filesystem::path(module).parent_path();
#else
    Dl_info info{};
    dladdr(reinterpret_cast<const void *>(&ReadINIValue), &info);
    return std::filesystem::canonical(info.dli_fname).parent_path();
#endif
}

#ifdef _WIN32
// A named pipe (\\.\pipe\...) that this process serves and nobody writes to: what a FIFO is on
// POSIX systems. An export that opened it and read would wait for ever.
class ServedPipe {
public:
    ServedPipe() : name_(L"\\\\.\\pipe\\" + Wide(UniqueName("kestrun-test"))) {
        handle_ = CreateNamedPipeW(name_.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT,
                                   PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
    }
    ~ServedPipe() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
        }
    }
    ServedPipe(const ServedPipe &) = delete;
    ServedPipe &operator=(const ServedPipe &) = delete;

    bool served() const { return handle_ != INVALID_HANDLE_VALUE; }
    // The name as the exports take it (ASCII, so the same in every code page).
    std::string path() const { return std::string(name_.begin(), name_.end()); }

private:
    static std::wstring Wide(const std::string &ascii) {
        return std::wstring(ascii.begin(), ascii.end());
    }
    std::wstring name_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};
#endif

} // namespace testfiles
