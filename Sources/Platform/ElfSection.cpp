#include "Platform/ElfSection.hpp"

#include "Platform/FileDescriptor.hpp"
#include "Platform/SystemError.hpp"

#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

std::string readAt(int fd, std::uint64_t offset, std::uint64_t size, const std::string& path) {
    if (size > 64 * 1024 * 1024) throw std::runtime_error(path + ": ELF section too large");
    std::string bytes(size, '\0');
    std::size_t done = 0;
    while (done < size) {
        ssize_t count = ::pread(fd, bytes.data() + done, size - done, static_cast<off_t>(offset + done));
        if (count < 0) throwSystemError("read " + path);
        if (count == 0) throw std::runtime_error(path + ": truncated ELF file");
        done += static_cast<std::size_t>(count);
    }
    return bytes;
}

template <typename T>
T readRecord(int fd, std::uint64_t offset, const std::string& path) {
    std::string bytes = readAt(fd, offset, sizeof(T), path);
    T record;
    std::memcpy(&record, bytes.data(), sizeof(T));
    return record;
}

}  // namespace

std::optional<std::string> readElfSection(const std::string& path, const std::string& sectionName) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) throwSystemError("open " + path);
    auto header = readRecord<Elf64_Ehdr>(fd.get(), 0, path);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
        header.e_shentsize != sizeof(Elf64_Shdr) || header.e_shstrndx >= header.e_shnum) {
        throw std::runtime_error(path + ": not an ELF64 file");
    }
    auto sectionAt = [&](std::uint64_t index) {
        return readRecord<Elf64_Shdr>(fd.get(), header.e_shoff + index * sizeof(Elf64_Shdr), path);
    };
    auto names = sectionAt(header.e_shstrndx);
    std::string nameTable = readAt(fd.get(), names.sh_offset, names.sh_size, path);
    for (std::uint16_t index = 0; index < header.e_shnum; ++index) {
        auto section = sectionAt(index);
        if (section.sh_name >= nameTable.size()) continue;
        if (std::strncmp(nameTable.c_str() + section.sh_name, sectionName.c_str(), nameTable.size() - section.sh_name) == 0 &&
            section.sh_type != SHT_NOBITS) {
            return readAt(fd.get(), section.sh_offset, section.sh_size, path);
        }
    }
    return std::nullopt;
}

}  // namespace platform
