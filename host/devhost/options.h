// host/devhost/options.h - the development host's command line.
//
// plugin-host [--plugin PATH] [--export NAME] [--api-version X.Y.Z] [--region NAME]
//             [--locale NAME] [--port N] [--listen ADDRESS]
//             [--host-answers FILE]... [--host-answer PATH=JSON]...
//             [PLUG-IN OPTIONS] [--help] [-- ARGUMENTS...]
//
// Each option with a value takes it as the next argument or after '='; a
// unique abbreviation of a long option names it (getopt_long).
// What is particular to one plug-in comes from its host answers file
// (host/common/host_answers.h): its answers, among them the region and
// locale it expects, which become the defaults of --region and --locale, and
// its own options. Those options mean nothing to the host itself: like
// everything after "--", they are there for the plug-in, which reads the
// host's whole command line (argv as given) through
// "/korvoclient/command-line-args".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/common/host_answers.h"
#include "host/common/host_value_json.h"
#include "host/common/plugin_library.h"
#include "sdk/contract/korvo_plugin.h"

namespace Korvo::Host::Dev {

// No installation region of its own: a plug-in's answers file gives the one
// it expects.
inline constexpr const char* kDefaultRegion = "";
inline constexpr const char* kDefaultLocale = "en_US";
inline constexpr int kDefaultPort = 8787;
inline constexpr const char* kDefaultListen = "127.0.0.1";
inline constexpr uint32_t kDefaultApiMajor = KORVO_PLUGIN_API_MAJOR;

struct DevHostOptions {
    std::string pluginPath;
    std::string exportName;                  // empty: ExportNameFor(pluginPath)
    uint32_t apiMajor = kDefaultApiMajor;
    uint32_t apiMinor = KORVO_PLUGIN_API_MINOR;
    uint32_t apiPatch = KORVO_PLUGIN_API_PATCH;
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
    // Fixed answers to the plug-in's requests, by path: the files' in their
    // order, then those of --host-answer; a later one for a path wins.
    std::vector<std::pair<std::string, OwnedHostValue>> answers;
    // The plug-in's own options, from its answers files.
    std::vector<PluginOption> pluginOptions;
};

struct ParsedOptions {
    enum class Outcome { Run, Help, Error };
    Outcome outcome = Outcome::Run;
    DevHostOptions options;
    std::string message;                     // for Error: one line saying what is wrong
};

// Reads argv; defaultPluginPath is what --plugin defaults to.
ParsedOptions ParseOptions(int argc, const char* const* argv, const std::string& defaultPluginPath);


// The --help text: every option with its default, then the plug-in's own
// options.
std::string HelpText(const std::string& defaultPluginPath, const std::vector<PluginOption>& pluginOptions = {});

}  // namespace Korvo::Host::Dev
