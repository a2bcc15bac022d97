#include "host/check/exports.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>

namespace Korvo::Host::Check {

namespace {

// Little-endian reads at an offset, or nothing when they do not fit.
class Bytes {
public:
    explicit Bytes(std::string_view bytes) : bytes_(bytes) {}

    template <typename T>
    std::optional<T> Read(uint64_t offset) const {
        if (offset > bytes_.size() || bytes_.size() - offset < sizeof(T)) return std::nullopt;
        T value = 0;
        for (size_t i = 0; i < sizeof(T); ++i) {
            value |= static_cast<T>(static_cast<T>(static_cast<uint8_t>(bytes_[offset + i])) << (8 * i));
        }
        return value;
    }
    // The NUL-terminated text at offset, or nothing when it runs off the end.
    std::optional<std::string> Text(uint64_t offset) const {
        if (offset >= bytes_.size()) return std::nullopt;
        const size_t end = bytes_.find('\0', offset);
        if (end == std::string_view::npos) return std::nullopt;
        return std::string(bytes_.substr(offset, end - offset));
    }
    size_t Size() const noexcept { return bytes_.size(); }

private:
    std::string_view bytes_;
};

ExportList Failure(std::string error) {
    ExportList list;
    list.error = std::move(error);
    return list;
}

// ---- ELF

constexpr uint32_t kShtDynsym = 11;
constexpr uint8_t kStbGlobal = 1, kStbWeak = 2;
constexpr uint8_t kSttObject = 1, kSttFunc = 2;
constexpr uint8_t kStvDefault = 0, kStvProtected = 3;

ExportList ReadElf(const Bytes& file) {
    const std::optional<uint8_t> elfClass = file.Read<uint8_t>(4);
    const std::optional<uint8_t> encoding = file.Read<uint8_t>(5);
    if (!elfClass || (*elfClass != 1 && *elfClass != 2)) return Failure("an ELF file of an unknown class");
    if (!encoding || *encoding != 1) return Failure("a big-endian ELF file");
    const bool wide = *elfClass == 2;

    const auto word = [&](uint64_t offset) -> std::optional<uint64_t> {
        if (wide) return file.Read<uint64_t>(offset);
        const std::optional<uint32_t> narrow = file.Read<uint32_t>(offset);
        return narrow ? std::optional<uint64_t>(*narrow) : std::nullopt;
    };
    const std::optional<uint64_t> sectionsAt = word(wide ? 0x28 : 0x20);
    const std::optional<uint16_t> sectionSize = file.Read<uint16_t>(wide ? 0x3A : 0x2E);
    const std::optional<uint16_t> sectionCount = file.Read<uint16_t>(wide ? 0x3C : 0x30);
    if (!sectionsAt || !sectionSize || !sectionCount || *sectionSize < (wide ? 64u : 40u)) {
        return Failure("an ELF file without a readable section table");
    }

    ExportList list;
    list.format = wide ? "ELF64" : "ELF32";
    for (uint16_t s = 0; s < *sectionCount; ++s) {
        const uint64_t section = *sectionsAt + uint64_t{s} * *sectionSize;
        const std::optional<uint32_t> type = file.Read<uint32_t>(section + 4);
        if (!type) return Failure("an ELF section header lies outside the file");
        if (*type != kShtDynsym) continue;
        const std::optional<uint64_t> offset = word(section + (wide ? 0x18 : 0x10));
        const std::optional<uint64_t> size = word(section + (wide ? 0x20 : 0x14));
        const std::optional<uint32_t> link = file.Read<uint32_t>(section + (wide ? 0x28 : 0x18));
        const std::optional<uint64_t> entrySize = word(section + (wide ? 0x38 : 0x24));
        if (!offset || !size || !link || !entrySize || *entrySize < (wide ? 24u : 16u) || *link >= *sectionCount) {
            return Failure("a damaged ELF symbol table");
        }
        const uint64_t strings = *sectionsAt + uint64_t{*link} * *sectionSize;
        const std::optional<uint64_t> stringsAt = word(strings + (wide ? 0x18 : 0x10));
        if (!stringsAt) return Failure("a damaged ELF string table");
        if (*offset > file.Size() || *size > file.Size() - *offset) return Failure("an ELF symbol table past the end");
        for (uint64_t at = *offset; at + *entrySize <= *offset + *size; at += *entrySize) {
            const std::optional<uint32_t> name = file.Read<uint32_t>(at);
            const std::optional<uint8_t> info = file.Read<uint8_t>(at + (wide ? 4 : 12));
            const std::optional<uint8_t> other = file.Read<uint8_t>(at + (wide ? 5 : 13));
            const std::optional<uint16_t> index = file.Read<uint16_t>(at + (wide ? 6 : 14));
            if (!name || !info || !other || !index) return Failure("a damaged ELF symbol");
            const uint8_t binding = *info >> 4, symbolType = *info & 0xF, visibility = *other & 3;
            if (*index == 0) continue;  // undefined: imported, not exported
            if (binding != kStbGlobal && binding != kStbWeak) continue;
            if (symbolType != kSttFunc && symbolType != kSttObject) continue;
            if (visibility != kStvDefault && visibility != kStvProtected) continue;
            const std::optional<std::string> text = file.Text(*stringsAt + *name);
            if (!text) return Failure("an ELF symbol name past the end");
            list.names.push_back(*text);
        }
    }
    list.ok = true;
    return list;
}

// ---- PE

ExportList ReadPe(const Bytes& file) {
    const std::optional<uint32_t> header = file.Read<uint32_t>(0x3C);
    if (!header || file.Read<uint32_t>(*header) != std::optional<uint32_t>(0x00004550)) {
        return Failure("an MZ file without a PE header");
    }
    const uint64_t coff = uint64_t{*header} + 4;
    const std::optional<uint16_t> sectionCount = file.Read<uint16_t>(coff + 2);
    const std::optional<uint16_t> optionalSize = file.Read<uint16_t>(coff + 16);
    const uint64_t optional = coff + 20;
    const std::optional<uint16_t> magic = file.Read<uint16_t>(optional);
    if (!sectionCount || !optionalSize || !magic || (*magic != 0x10B && *magic != 0x20B)) {
        return Failure("a PE file with an unknown optional header");
    }
    const bool plus = *magic == 0x20B;
    const uint64_t directories = optional + (plus ? 112 : 96);
    const std::optional<uint32_t> directoryCount = file.Read<uint32_t>(optional + (plus ? 108 : 92));
    ExportList list;
    list.format = plus ? "PE32+" : "PE32";
    if (!directoryCount || *directoryCount == 0) {
        list.ok = true;
        return list;
    }
    const std::optional<uint32_t> exportRva = file.Read<uint32_t>(directories);
    if (!exportRva) return Failure("a PE data directory past the end");
    if (*exportRva == 0) {
        list.ok = true;  // no export directory: nothing exported
        return list;
    }

    const uint64_t sections = optional + *optionalSize;
    // The file offset of a relative virtual address, through the section
    // that holds it.
    const auto fileOffset = [&](uint32_t rva) -> std::optional<uint64_t> {
        for (uint16_t s = 0; s < *sectionCount; ++s) {
            const uint64_t section = sections + uint64_t{s} * 40;
            const std::optional<uint32_t> virtualSize = file.Read<uint32_t>(section + 8);
            const std::optional<uint32_t> virtualAddress = file.Read<uint32_t>(section + 12);
            const std::optional<uint32_t> rawSize = file.Read<uint32_t>(section + 16);
            const std::optional<uint32_t> rawAt = file.Read<uint32_t>(section + 20);
            if (!virtualSize || !virtualAddress || !rawSize || !rawAt) return std::nullopt;
            const uint32_t extent = std::max(*virtualSize, *rawSize);
            if (rva >= *virtualAddress && rva - *virtualAddress < extent) {
                return uint64_t{*rawAt} + (rva - *virtualAddress);
            }
        }
        return std::nullopt;
    };

    const std::optional<uint64_t> directory = fileOffset(*exportRva);
    if (!directory) return Failure("a PE export directory outside every section");
    const std::optional<uint32_t> ordinalBase = file.Read<uint32_t>(*directory + 16);
    const std::optional<uint32_t> functionCount = file.Read<uint32_t>(*directory + 20);
    const std::optional<uint32_t> nameCount = file.Read<uint32_t>(*directory + 24);
    const std::optional<uint32_t> namesRva = file.Read<uint32_t>(*directory + 32);
    const std::optional<uint32_t> ordinalsRva = file.Read<uint32_t>(*directory + 36);
    if (!ordinalBase || !functionCount || !nameCount || !namesRva || !ordinalsRva) {
        return Failure("a damaged PE export directory");
    }
    // Counts beyond what the file could hold are damage, not work to do.
    if (*nameCount > file.Size() / 4 || *functionCount > file.Size() / 4) return Failure("a damaged PE export directory");
    std::set<uint32_t> named;
    if (*nameCount > 0) {
        const std::optional<uint64_t> names = fileOffset(*namesRva);
        const std::optional<uint64_t> ordinals = fileOffset(*ordinalsRva);
        if (!names || !ordinals) return Failure("a damaged PE export name table");
        for (uint32_t i = 0; i < *nameCount; ++i) {
            const std::optional<uint32_t> nameRva = file.Read<uint32_t>(*names + uint64_t{i} * 4);
            const std::optional<uint16_t> ordinal = file.Read<uint16_t>(*ordinals + uint64_t{i} * 2);
            if (!nameRva || !ordinal) return Failure("a damaged PE export name table");
            const std::optional<uint64_t> nameAt = fileOffset(*nameRva);
            const std::optional<std::string> text = nameAt ? file.Text(*nameAt) : std::nullopt;
            if (!text) return Failure("a PE export name outside the file");
            list.names.push_back(*text);
            named.insert(*ordinal);
        }
    }
    // Entries exported by ordinal alone count as exports too.
    const std::optional<uint32_t> functionsRva = file.Read<uint32_t>(*directory + 28);
    const std::optional<uint64_t> functions =
        functionsRva && *functionCount > 0 ? fileOffset(*functionsRva) : std::nullopt;
    for (uint32_t i = 0; functions && i < *functionCount; ++i) {
        const std::optional<uint32_t> address = file.Read<uint32_t>(*functions + uint64_t{i} * 4);
        if (!address) return Failure("a damaged PE export address table");
        if (*address != 0 && named.count(i) == 0) list.names.push_back("#" + std::to_string(*ordinalBase + i));
    }
    list.ok = true;
    return list;
}

}  // namespace

ExportList ReadExports(std::string_view bytes) {
    const Bytes file(bytes);
    if (bytes.size() >= 4 && std::memcmp(bytes.data(), "\x7F" "ELF", 4) == 0) return ReadElf(file);
    if (bytes.size() >= 2 && std::memcmp(bytes.data(), "MZ", 2) == 0) return ReadPe(file);
    return Failure("neither an ELF nor a PE file");
}

ExportList ReadExportsOfFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return Failure("cannot open " + path);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return ReadExports(bytes);
}

}  // namespace Korvo::Host::Check
