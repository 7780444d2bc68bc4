#include "Platform/ElfSection.hpp"

#include "Platform/FileSystem.hpp"

#include <cstring>
#include <elf.h>
#include <stdexcept>

namespace platform {
namespace {

std::string_view bytesAt(std::string_view image, std::uint64_t offset, std::uint64_t size, const std::string& origin) {
    if (offset > image.size() || size > image.size() - offset) throw std::runtime_error(origin + ": truncated ELF file");
    return image.substr(offset, size);
}

template <typename T>
T recordAt(std::string_view image, std::uint64_t offset, const std::string& origin) {
    std::string_view bytes = bytesAt(image, offset, sizeof(T), origin);
    T record;
    std::memcpy(&record, bytes.data(), sizeof(T));
    return record;
}

}  // namespace

std::optional<std::string> elfSection(std::string_view image, const std::string& sectionName, const std::string& origin) {
    auto header = recordAt<Elf64_Ehdr>(image, 0, origin);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
        header.e_shentsize != sizeof(Elf64_Shdr) || header.e_shstrndx >= header.e_shnum) {
        throw std::runtime_error(origin + ": not an ELF64 file");
    }
    auto sectionAt = [&](std::uint64_t index) {
        return recordAt<Elf64_Shdr>(image, header.e_shoff + index * sizeof(Elf64_Shdr), origin);
    };
    auto names = sectionAt(header.e_shstrndx);
    std::string_view nameTable = bytesAt(image, names.sh_offset, names.sh_size, origin);
    for (std::uint16_t index = 0; index < header.e_shnum; ++index) {
        auto section = sectionAt(index);
        if (section.sh_name >= nameTable.size() || section.sh_type == SHT_NOBITS) continue;
        std::string_view name = nameTable.substr(section.sh_name);
        if (name.substr(0, name.find('\0')) == sectionName) return std::string(bytesAt(image, section.sh_offset, section.sh_size, origin));
    }
    return std::nullopt;
}

std::optional<std::string> readElfSection(const std::string& path, const std::string& sectionName) {
    return elfSection(readWholeFile(path), sectionName, path);
}

}  // namespace platform
