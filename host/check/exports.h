// host/check/exports.h - the symbols a shared library exports, read from the
// file itself (ELF, 32- or 64-bit, or PE), without loading it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace Korvo::Host::Check {

struct ExportList {
    bool ok = false;
    std::string error;                // why the file could not be read, when !ok
    std::string format;               // "ELF32", "ELF64", "PE32" or "PE32+"
    std::vector<std::string> names;   // exported by name; "#<ordinal>" for one exported by ordinal only
};

// An ELF file's defined dynamic symbols of default or protected visibility
// (functions and objects, global or weak); a PE file's export directory.
// Every offset in the file is checked against its size: a damaged or hostile
// file gives an error, never a read outside it.
ExportList ReadExports(std::string_view bytes);
ExportList ReadExportsOfFile(const std::string& path);

}  // namespace Korvo::Host::Check
