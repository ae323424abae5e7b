// The shared object's dynamic symbol table and run-time dependencies, read from the ELF file.
#include <elf.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

struct DynamicInfo {
    std::set<std::string> defined_symbols;
    std::vector<std::string> needed;
};

template <class T> T read_at(const std::vector<char> &file, std::size_t offset) {
    T value{};
    if (offset + sizeof(T) <= file.size()) {
        std::memcpy(&value, file.data() + offset, sizeof(T));
    }
    return value;
}

std::string string_at(const std::vector<char> &file, const Elf64_Shdr &table, std::size_t index) {
    const std::size_t offset = table.sh_offset + index;
    if (index >= table.sh_size || offset >= file.size()) {
        return {};
    }
    return std::string(file.data() + offset, strnlen(file.data() + offset, file.size() - offset));
}

DynamicInfo read_dynamic_info(const char *path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> file((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
    DynamicInfo info;
    const auto header = read_at<Elf64_Ehdr>(file, 0);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64) {
        ADD_FAILURE() << path << " is not a 64-bit ELF file";
        return info;
    }
    std::vector<Elf64_Shdr> sections;
    for (std::size_t i = 0; i < header.e_shnum; ++i) {
        sections.push_back(read_at<Elf64_Shdr>(file, header.e_shoff + i * header.e_shentsize));
    }
    for (const Elf64_Shdr &section : sections) {
        if (section.sh_link >= sections.size()) {
            continue;
        }
        const Elf64_Shdr &strings = sections[section.sh_link];
        if (section.sh_type == SHT_DYNSYM) {
            for (std::size_t off = 0; off + sizeof(Elf64_Sym) <= section.sh_size;
                 off += sizeof(Elf64_Sym)) {
                const auto sym = read_at<Elf64_Sym>(file, section.sh_offset + off);
                const unsigned bind = ELF64_ST_BIND(sym.st_info);
                if (sym.st_shndx != SHN_UNDEF && bind != STB_LOCAL) {
                    info.defined_symbols.insert(string_at(file, strings, sym.st_name));
                }
            }
        } else if (section.sh_type == SHT_DYNAMIC) {
            for (std::size_t off = 0; off + sizeof(Elf64_Dyn) <= section.sh_size;
                 off += sizeof(Elf64_Dyn)) {
                const auto dyn = read_at<Elf64_Dyn>(file, section.sh_offset + off);
                if (dyn.d_tag == DT_NEEDED) {
                    info.needed.push_back(string_at(file, strings, dyn.d_un.d_val));
                }
            }
        }
    }
    return info;
}

bool allowed_dependency(const std::string &name) {
    if (name == "libc.so.6" || name == "libm.so.6" || name == "ld-linux-x86-64.so.2") {
        return true;
    }
#if SAFE_EVAL_SANITIZED
    // Sanitizer builds add their run-time libraries to every object.
    for (const char *runtime : {"libasan.so", "libubsan.so", "libtsan.so"}) {
        if (name.starts_with(runtime)) {
            return true;
        }
    }
#endif
    return false;
}

} // namespace

TEST(SafeEvalSurface, ExportsOnlyEvalAndFreeResultAndNeedsOnlyTheCLibrary) {
    const DynamicInfo info = read_dynamic_info(SAFE_EVAL_LIBRARY_PATH);
    EXPECT_EQ(info.defined_symbols, (std::set<std::string>{"eval", "free_result"}));
    EXPECT_TRUE(std::find(info.needed.begin(), info.needed.end(), "libc.so.6") !=
                info.needed.end());
    for (const std::string &name : info.needed) {
        EXPECT_TRUE(allowed_dependency(name)) << "unexpected dependency " << name;
    }
}
