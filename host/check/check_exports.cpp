// The export check: what the library file itself exports, read without
// loading it.
#include "host/check/check_support.h"

#include <string>

#include "host/check/exports.h"

namespace Korvo::Host::Check {

CheckVerdict CheckExport(const CheckSettings& settings) {
    const ExportList exports = ReadExportsOfFile(settings.library);
    if (!exports.ok) return Fail("cannot read the library's exports: " + exports.error);
    if (exports.names.size() == 1 && exports.names[0] == settings.exportName) {
        return Pass(settings.exportName + " alone (" + exports.format + ")");
    }
    std::string names;
    for (const std::string& name : exports.names) names += (names.empty() ? "" : ", ") + name;
    return Fail("exports [" + names + "] (" + exports.format + "); expected " + settings.exportName + " alone");
}

}  // namespace Korvo::Host::Check
