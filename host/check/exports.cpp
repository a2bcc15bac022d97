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

// Identification bytes at the start of every ELF file.
constexpr uint64_t kElfClassAt = 4;     // EI_CLASS
constexpr uint64_t kElfEncodingAt = 5;  // EI_DATA
constexpr uint8_t kElfClass32 = 1, kElfClass64 = 2;
constexpr uint8_t kElfLittleEndian = 1;

// Where the fields this reader needs lie, which differs between the classes.
struct ElfLayout {
    // File header.
    uint64_t sectionTableAt;     // e_shoff
    uint64_t sectionHeaderSize;  // e_shentsize
    uint64_t sectionCount;       // e_shnum
    // Section header.
    uint64_t sectionHeaderBytes;  // the least e_shentsize that holds the fields below
    uint64_t sectionType;         // sh_type
    uint64_t sectionOffset;       // sh_offset
    uint64_t sectionSize;         // sh_size
    uint64_t sectionLink;         // sh_link: a symbol table's string table
    uint64_t sectionEntrySize;    // sh_entsize
    // Symbol.
    uint64_t symbolBytes;  // the least sh_entsize that holds the fields below
    uint64_t symbolName;   // st_name
    uint64_t symbolInfo;   // st_info: binding and type
    uint64_t symbolOther;  // st_other: visibility
    uint64_t symbolIndex;  // st_shndx
};
constexpr ElfLayout kElf32Layout{
    .sectionTableAt = 0x20, .sectionHeaderSize = 0x2E, .sectionCount = 0x30,
    .sectionHeaderBytes = 40, .sectionType = 0x04, .sectionOffset = 0x10, .sectionSize = 0x14,
    .sectionLink = 0x18, .sectionEntrySize = 0x24,
    .symbolBytes = 16, .symbolName = 0, .symbolInfo = 12, .symbolOther = 13, .symbolIndex = 14,
};
constexpr ElfLayout kElf64Layout{
    .sectionTableAt = 0x28, .sectionHeaderSize = 0x3A, .sectionCount = 0x3C,
    .sectionHeaderBytes = 64, .sectionType = 0x04, .sectionOffset = 0x18, .sectionSize = 0x20,
    .sectionLink = 0x28, .sectionEntrySize = 0x38,
    .symbolBytes = 24, .symbolName = 0, .symbolInfo = 4, .symbolOther = 5, .symbolIndex = 6,
};

constexpr uint32_t kShtDynsym = 11;
constexpr uint16_t kShnUndef = 0;
constexpr uint8_t kStbGlobal = 1, kStbWeak = 2;
constexpr uint8_t kSttObject = 1, kSttFunc = 2;
constexpr uint8_t kStvDefault = 0, kStvProtected = 3;
// st_info holds the binding above the type; st_other's low bits the visibility.
constexpr unsigned kSymbolBindingShift = 4;
constexpr uint8_t kSymbolTypeMask = 0xF;
constexpr uint8_t kSymbolVisibilityMask = 0x3;

ExportList ReadElf(const Bytes& file) {
    const std::optional<uint8_t> elfClass = file.Read<uint8_t>(kElfClassAt);
    const std::optional<uint8_t> encoding = file.Read<uint8_t>(kElfEncodingAt);
    if (!elfClass || (*elfClass != kElfClass32 && *elfClass != kElfClass64)) {
        return Failure("an ELF file of an unknown class");
    }
    if (!encoding || *encoding != kElfLittleEndian) return Failure("a big-endian ELF file");
    const bool wide = *elfClass == kElfClass64;
    const ElfLayout& layout = wide ? kElf64Layout : kElf32Layout;

    // An address or size: as wide as the class.
    const auto word = [&](uint64_t offset) -> std::optional<uint64_t> {
        if (wide) return file.Read<uint64_t>(offset);
        const std::optional<uint32_t> narrow = file.Read<uint32_t>(offset);
        return narrow ? std::optional<uint64_t>(*narrow) : std::nullopt;
    };
    const std::optional<uint64_t> sectionsAt = word(layout.sectionTableAt);
    const std::optional<uint16_t> sectionSize = file.Read<uint16_t>(layout.sectionHeaderSize);
    const std::optional<uint16_t> sectionCount = file.Read<uint16_t>(layout.sectionCount);
    if (!sectionsAt || !sectionSize || !sectionCount || *sectionSize < layout.sectionHeaderBytes) {
        return Failure("an ELF file without a readable section table");
    }

    ExportList list;
    list.format = wide ? "ELF64" : "ELF32";
    for (uint16_t s = 0; s < *sectionCount; ++s) {
        const uint64_t section = *sectionsAt + uint64_t{s} * *sectionSize;
        const std::optional<uint32_t> type = file.Read<uint32_t>(section + layout.sectionType);
        if (!type) return Failure("an ELF section header lies outside the file");
        if (*type != kShtDynsym) continue;
        const std::optional<uint64_t> offset = word(section + layout.sectionOffset);
        const std::optional<uint64_t> size = word(section + layout.sectionSize);
        const std::optional<uint32_t> link = file.Read<uint32_t>(section + layout.sectionLink);
        const std::optional<uint64_t> entrySize = word(section + layout.sectionEntrySize);
        if (!offset || !size || !link || !entrySize || *entrySize < layout.symbolBytes || *link >= *sectionCount) {
            return Failure("a damaged ELF symbol table");
        }
        const uint64_t strings = *sectionsAt + uint64_t{*link} * *sectionSize;
        const std::optional<uint64_t> stringsAt = word(strings + layout.sectionOffset);
        if (!stringsAt) return Failure("a damaged ELF string table");
        if (*offset > file.Size() || *size > file.Size() - *offset) return Failure("an ELF symbol table past the end");
        for (uint64_t at = *offset; at + *entrySize <= *offset + *size; at += *entrySize) {
            const std::optional<uint32_t> name = file.Read<uint32_t>(at + layout.symbolName);
            const std::optional<uint8_t> info = file.Read<uint8_t>(at + layout.symbolInfo);
            const std::optional<uint8_t> other = file.Read<uint8_t>(at + layout.symbolOther);
            const std::optional<uint16_t> index = file.Read<uint16_t>(at + layout.symbolIndex);
            if (!name || !info || !other || !index) return Failure("a damaged ELF symbol");
            const uint8_t binding = *info >> kSymbolBindingShift, symbolType = *info & kSymbolTypeMask,
                          visibility = *other & kSymbolVisibilityMask;
            if (*index == kShnUndef) continue;  // undefined: imported, not exported
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

// The MZ header's pointer to the PE signature, and the signature ("PE\0\0").
constexpr uint64_t kPeHeaderPointerAt = 0x3C;  // e_lfanew
constexpr uint32_t kPeSignature = 0x00004550;
constexpr uint64_t kPeSignatureBytes = 4;
// COFF file header, after the signature.
constexpr uint64_t kCoffSectionCount = 2;        // NumberOfSections
constexpr uint64_t kCoffOptionalHeaderSize = 16; // SizeOfOptionalHeader
constexpr uint64_t kCoffHeaderBytes = 20;
// Optional header, after the COFF header; its magic tells PE32 from PE32+.
constexpr uint16_t kPe32Magic = 0x10B, kPe32PlusMagic = 0x20B;
constexpr uint64_t kPe32DirectoryCount = 92, kPe32PlusDirectoryCount = 108;  // NumberOfRvaAndSizes
constexpr uint64_t kPe32Directories = 96, kPe32PlusDirectories = 112;        // DataDirectory[0]: exports
// Section header.
constexpr uint64_t kSectionHeaderBytes = 40;
constexpr uint64_t kSectionVirtualSize = 8;
constexpr uint64_t kSectionVirtualAddress = 12;
constexpr uint64_t kSectionRawSize = 16;  // SizeOfRawData
constexpr uint64_t kSectionRawAt = 20;    // PointerToRawData
// Export directory.
constexpr uint64_t kExportOrdinalBase = 16;
constexpr uint64_t kExportFunctionCount = 20;
constexpr uint64_t kExportNameCount = 24;
constexpr uint64_t kExportFunctions = 28;  // AddressOfFunctions
constexpr uint64_t kExportNames = 32;      // AddressOfNames
constexpr uint64_t kExportOrdinals = 36;   // AddressOfNameOrdinals
// Entries of the export tables: addresses and name addresses, ordinals.
constexpr uint64_t kRvaBytes = 4;
constexpr uint64_t kOrdinalBytes = 2;

ExportList ReadPe(const Bytes& file) {
    const std::optional<uint32_t> header = file.Read<uint32_t>(kPeHeaderPointerAt);
    if (!header || file.Read<uint32_t>(*header) != std::optional<uint32_t>(kPeSignature)) {
        return Failure("an MZ file without a PE header");
    }
    const uint64_t coff = uint64_t{*header} + kPeSignatureBytes;
    const std::optional<uint16_t> sectionCount = file.Read<uint16_t>(coff + kCoffSectionCount);
    const std::optional<uint16_t> optionalSize = file.Read<uint16_t>(coff + kCoffOptionalHeaderSize);
    const uint64_t optional = coff + kCoffHeaderBytes;
    const std::optional<uint16_t> magic = file.Read<uint16_t>(optional);
    if (!sectionCount || !optionalSize || !magic || (*magic != kPe32Magic && *magic != kPe32PlusMagic)) {
        return Failure("a PE file with an unknown optional header");
    }
    const bool plus = *magic == kPe32PlusMagic;
    const uint64_t directories = optional + (plus ? kPe32PlusDirectories : kPe32Directories);
    const std::optional<uint32_t> directoryCount =
        file.Read<uint32_t>(optional + (plus ? kPe32PlusDirectoryCount : kPe32DirectoryCount));
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
            const uint64_t section = sections + uint64_t{s} * kSectionHeaderBytes;
            const std::optional<uint32_t> virtualSize = file.Read<uint32_t>(section + kSectionVirtualSize);
            const std::optional<uint32_t> virtualAddress = file.Read<uint32_t>(section + kSectionVirtualAddress);
            const std::optional<uint32_t> rawSize = file.Read<uint32_t>(section + kSectionRawSize);
            const std::optional<uint32_t> rawAt = file.Read<uint32_t>(section + kSectionRawAt);
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
    const std::optional<uint32_t> ordinalBase = file.Read<uint32_t>(*directory + kExportOrdinalBase);
    const std::optional<uint32_t> functionCount = file.Read<uint32_t>(*directory + kExportFunctionCount);
    const std::optional<uint32_t> nameCount = file.Read<uint32_t>(*directory + kExportNameCount);
    const std::optional<uint32_t> namesRva = file.Read<uint32_t>(*directory + kExportNames);
    const std::optional<uint32_t> ordinalsRva = file.Read<uint32_t>(*directory + kExportOrdinals);
    if (!ordinalBase || !functionCount || !nameCount || !namesRva || !ordinalsRva) {
        return Failure("a damaged PE export directory");
    }
    // Counts beyond what the file could hold are damage, not work to do.
    if (*nameCount > file.Size() / kRvaBytes || *functionCount > file.Size() / kRvaBytes) {
        return Failure("a damaged PE export directory");
    }
    std::set<uint32_t> named;
    if (*nameCount > 0) {
        const std::optional<uint64_t> names = fileOffset(*namesRva);
        const std::optional<uint64_t> ordinals = fileOffset(*ordinalsRva);
        if (!names || !ordinals) return Failure("a damaged PE export name table");
        for (uint32_t i = 0; i < *nameCount; ++i) {
            const std::optional<uint32_t> nameRva = file.Read<uint32_t>(*names + uint64_t{i} * kRvaBytes);
            const std::optional<uint16_t> ordinal = file.Read<uint16_t>(*ordinals + uint64_t{i} * kOrdinalBytes);
            if (!nameRva || !ordinal) return Failure("a damaged PE export name table");
            const std::optional<uint64_t> nameAt = fileOffset(*nameRva);
            const std::optional<std::string> text = nameAt ? file.Text(*nameAt) : std::nullopt;
            if (!text) return Failure("a PE export name outside the file");
            list.names.push_back(*text);
            named.insert(*ordinal);
        }
    }
    // Entries exported by ordinal alone count as exports too.
    const std::optional<uint32_t> functionsRva = file.Read<uint32_t>(*directory + kExportFunctions);
    const std::optional<uint64_t> functions =
        functionsRva && *functionCount > 0 ? fileOffset(*functionsRva) : std::nullopt;
    for (uint32_t i = 0; functions && i < *functionCount; ++i) {
        const std::optional<uint32_t> address = file.Read<uint32_t>(*functions + uint64_t{i} * kRvaBytes);
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
