// host/devhost/options.h - the development host's command line.
//
// plugin-host [--plugin PATH] [--export NAME] [--api-version X.Y.Z] [--region NAME]
//             [--locale NAME] [--port N] [--listen ADDRESS]
//             [--dev-quorvex-zv] [--help] [-- ARGUMENTS...]
//
// Each option with a value takes it as the next argument or after '='; a
// unique abbreviation of a long option names it (getopt_long).
// --dev-quorvex-zv means nothing to the host itself: like everything after
// "--", it is there for the plug-in, which reads the host's whole command
// line (argv as given) through "/korvoclient/command-line-args".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/common/plugin_library.h"
#include "sdk/contract/korvo_plugin.h"

namespace Korvo::Host::Dev {

inline constexpr const char* kDefaultRegion = "QUORVEX";
inline constexpr const char* kDefaultLocale = "en_US";
inline constexpr int kDefaultPort = 8787;
inline constexpr const char* kDefaultListen = "127.0.0.1";
inline constexpr uint32_t kDefaultApiMajor = KORVO_PLUGIN_API_MAJOR;

struct DevHostOptions {
    std::string pluginPath;
    std::string exportName;                  // empty: ExportNameFor(pluginPath)
    uint32_t apiMajor = kDefaultApiMajor;
    uint32_t apiMinor = 0;
    uint32_t apiPatch = 0;
    std::string region = kDefaultRegion;
    std::string locale = kDefaultLocale;
    int port = kDefaultPort;                 // 0: any free port
    std::string listen = kDefaultListen;
    // Host header names served besides the listening address and localhost.
    std::vector<std::string> allowedHosts;
    // Origins that may call from a page of theirs (CORS); none by default.
    std::vector<std::string> corsOrigins;
    // Swagger UI's files for /docs; empty: the build's default, if any.
    std::string webAssets;
    std::vector<std::string> commandLine;    // argv as given, program name first
};

struct ParsedOptions {
    enum class Outcome { Run, Help, Error };
    Outcome outcome = Outcome::Run;
    DevHostOptions options;
    std::string message;                     // for Error: one line saying what is wrong
};

// Reads argv; defaultPluginPath is what --plugin defaults to.
ParsedOptions ParseOptions(int argc, const char* const* argv, const std::string& defaultPluginPath);


// The --help text: every option with its default.
std::string HelpText(const std::string& defaultPluginPath);

}  // namespace Korvo::Host::Dev
