#include "host/devhost/options.h"

#include <getopt.h>

#include <iterator>

#include <charconv>
#include <vector>

#include "host/devhost/host_services.h"

namespace Korvo::Host::Dev {

namespace {

constexpr int kMaxPort = 65535;
constexpr std::string_view kSeeHelp = " (see plugin-host --help)";

template <typename Number>
bool ParseNumber(std::string_view text, Number& out) {
    if (text.empty()) return false;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc() && end == text.data() + text.size();
}

bool ParseVersion(std::string_view text, DevHostOptions& options) {
    uint32_t parts[3];
    for (int i = 0; i < 3; ++i) {
        size_t dot = i < 2 ? text.find('.') : text.size();
        if (dot == std::string_view::npos) return false;
        if (!ParseNumber(text.substr(0, dot), parts[i])) return false;
        text = i < 2 ? text.substr(dot + 1) : std::string_view();
    }
    options.apiMajor = parts[0];
    options.apiMinor = parts[1];
    options.apiPatch = parts[2];
    return true;
}

ParsedOptions Failure(std::string message) {
    ParsedOptions parsed;
    parsed.outcome = ParsedOptions::Outcome::Error;
    parsed.message = "plugin-host: " + std::move(message) + std::string(kSeeHelp);
    return parsed;
}

bool IsCName(std::string_view text) {
    if (text.empty() || (text[0] >= '0' && text[0] <= '9')) return false;
    for (char c : text) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && !(c >= '0' && c <= '9') && c != '_') return false;
    }
    return true;
}

enum : int { kPlugin = 256, kExport, kApiVersion, kRegion, kLocale, kPort, kListen, kAllowHost, kCorsOrigin,
             kWebAssets, kHostAnswers, kHostAnswer, kFirstPluginOption };
constexpr option kHostOptions[] = {
    {"plugin", required_argument, nullptr, kPlugin},   {"export", required_argument, nullptr, kExport},
    {"api-version", required_argument, nullptr, kApiVersion},
    {"region", required_argument, nullptr, kRegion},   {"locale", required_argument, nullptr, kLocale},
    {"port", required_argument, nullptr, kPort},       {"listen", required_argument, nullptr, kListen},
    {"help", no_argument, nullptr, 'h'},
    {"allow-host", required_argument, nullptr, kAllowHost},
    {"cors-origin", required_argument, nullptr, kCorsOrigin},
    {"web-assets", required_argument, nullptr, kWebAssets},
    {"host-answers", required_argument, nullptr, kHostAnswers},
    {"host-answer", required_argument, nullptr, kHostAnswer},
};
// "+": no reordering, and the first stray argument ends the options.
constexpr const char* kShortOptions = "+:h";

// The host's options and then the plug-in's, ended as getopt_long wants; the
// names point into pluginOptions.
std::vector<option> OptionTable(const std::vector<PluginOption>& pluginOptions) {
    std::vector<option> table(std::begin(kHostOptions), std::end(kHostOptions));
    for (size_t i = 0; i < pluginOptions.size(); ++i) {
        table.push_back(option{pluginOptions[i].name.c_str() + 2, no_argument, nullptr,
                               kFirstPluginOption + static_cast<int>(i)});
    }
    table.push_back(option{nullptr, 0, nullptr, 0});
    return table;
}

// The files of --host-answers, found before the command line is read in
// earnest: they declare options that may come before them. Everything else,
// errors included, is left to the real reading.
std::vector<std::string> AnswersFiles(int argc, char* const* arguments) {
    const std::vector<option> table = OptionTable({});
    std::vector<std::string> files;
    optind = 0;  // a full restart, for every call
    opterr = 0;
    for (int code; (code = getopt_long(argc, arguments, kShortOptions, table.data(), nullptr)) != -1;) {
        if (code == kHostAnswers && optarg != nullptr) files.emplace_back(optarg);
    }
    return files;
}

// Reads a string member of an object record; false when it is there but no
// string.
bool StringMember(const HostValue& object, std::string_view key, std::string& out) {
    for (uint32_t i = 0; i < object.data.object.count; ++i) {
        const HostValueMember& member = object.data.object.members[i];
        if (member.key == nullptr || key != member.key) continue;
        if (member.value.type != KORVO_VALUE_STRING) return false;
        out.assign(member.value.data.string.text, member.value.data.string.length);
    }
    return true;
}

}  // namespace

// getopt_long does the reading (long options with "=value" or the next
// argument, "--" ending them, unique abbreviations); the checks of each value
// and the messages are the host's own.
ParsedOptions ParseOptions(int argc, const char* const* argv, const std::string& defaultPluginPath) {
    ParsedOptions parsed;
    DevHostOptions& options = parsed.options;
    options.pluginPath = defaultPluginPath;
    for (int i = 0; i < argc; ++i) options.commandLine.emplace_back(argv[i] ? argv[i] : "");

    // getopt_long wants writable argv; the texts themselves stay untouched.
    std::vector<char*> arguments;
    for (std::string& argument : options.commandLine) arguments.push_back(argument.data());
    arguments.push_back(nullptr);

    HostAnswers fromFiles;
    for (const std::string& file : AnswersFiles(argc, arguments.data())) {
        std::string error;
        if (!ReadHostAnswers(file, fromFiles, error)) return Failure(error);
    }
    const std::vector<option> table = OptionTable(fromFiles.options);
    for (const PluginOption& pluginOption : fromFiles.options) {
        for (const option& hostOption : kHostOptions) {
            if (pluginOption.name.substr(2) == hostOption.name) {
                return Failure(pluginOption.where + ": " + pluginOption.name + " is an option of plugin-host itself");
            }
        }
    }
    options.pluginOptions = fromFiles.options;
    std::vector<HostAnswer> answers = std::move(fromFiles.answers);
    optind = 0;
    opterr = 0;

    bool help = false;
    bool regionGiven = false;
    bool localeGiven = false;
    const char* lastValue = nullptr;
    for (;;) {
        const int code = getopt_long(argc, arguments.data(), kShortOptions, table.data(), nullptr);
        if (code == -1) break;
        const std::string_view given = arguments[optind - 1];
        const std::string_view name = given.substr(0, given.find('='));
        const std::string_view value = optarg != nullptr ? std::string_view(optarg) : std::string_view();
        lastValue = optarg;
        if (code >= kFirstPluginOption) continue;  // the plug-in's, not the host's
        switch (code) {
            case 'h': help = true; break;
            case ':': return Failure(std::string(name) + " needs a value");
            case '?':
                // A long option unknown, ambiguous or given a value it does
                // not take; or a short option other than -h.
                if (given.substr(0, 2) == "--") return Failure("unknown option '" + std::string(name) + "'");
                return Failure("unexpected argument '" + std::string(given) + "'");
            case kPlugin:
                if (value.empty()) return Failure("--plugin needs a path");
                options.pluginPath = std::string(value);
                break;
            case kExport:
                if (!IsCName(value)) return Failure("--export needs a C function name, not '" + std::string(value) + "'");
                options.exportName = std::string(value);
                break;
            case kApiVersion:
                if (!ParseVersion(value, options)) {
                    return Failure("--api-version needs three numbers X.Y.Z, not '" + std::string(value) + "'");
                }
                break;
            case kRegion:
                options.region = std::string(value);
                regionGiven = true;
                break;
            case kLocale:
                options.locale = std::string(value);
                localeGiven = true;
                break;
            case kPort: {
                int port = -1;
                if (!ParseNumber(value, port) || port < 0 || port > kMaxPort) {
                    return Failure("--port needs a number from 0 to 65535, not '" + std::string(value) + "'");
                }
                options.port = port;
                break;
            }
            case kListen:
                if (value.empty()) return Failure("--listen needs an address");
                options.listen = std::string(value);
                break;
            case kAllowHost:
                if (value.empty() || value.find_first_of(":/ ") != std::string_view::npos) {
                    return Failure("--allow-host needs a host name without a port, not '" + std::string(value) + "'");
                }
                options.allowedHosts.emplace_back(value);
                break;
            case kWebAssets:
                if (value.empty()) return Failure("--web-assets needs a folder");
                options.webAssets = std::string(value);
                break;
            case kCorsOrigin:
                if (!(value.starts_with("http://") || value.starts_with("https://")) || value.ends_with("/")) {
                    return Failure("--cors-origin needs an origin such as http://localhost:3000, not '" +
                                   std::string(value) + "'");
                }
                options.corsOrigins.emplace_back(value);
                break;
            case kHostAnswers: break;  // read above
            case kHostAnswer: {
                HostAnswer answer;
                std::string error;
                if (!ParseHostAnswer(value, answer, error)) return Failure("--host-answer: " + error);
                answers.push_back(std::move(answer));
                break;
            }
            default: return Failure("unexpected argument '" + std::string(given) + "'");
        }
    }
    // Options end at "--" (the rest is the plug-in's) or at a stray argument.
    const bool endedByDashes = optind > 1 && std::string_view(arguments[optind - 1]) == "--" &&
                               arguments[optind - 1] != lastValue;
    if (optind < argc && !endedByDashes) {
        return Failure("unexpected argument '" + std::string(arguments[optind]) + "'");
    }

    for (HostAnswer& answer : answers) {
        const std::string where = answer.where.empty() ? "--host-answer" : answer.where;
        OwnedHostValue value;
        std::string error;
        if (!JsonToHostValue(answer.json, value, error)) {
            return Failure(where + ": the answer for " + answer.path + " is not JSON: " + error);
        }
        if (answer.path == kRegionLocalePath) {
            // The host builds this answer itself; the plug-in's says what
            // region and locale it expects, unless the command line says
            // otherwise.
            std::string region = options.region;
            std::string locale = options.locale;
            if (value.Record().type != KORVO_VALUE_OBJECT || !StringMember(value.Record(), "region", region) ||
                !StringMember(value.Record(), "locale", locale)) {
                return Failure(where + ": the answer for " + answer.path +
                               " is an object whose region and locale are strings");
            }
            if (!regionGiven) options.region = region;
            if (!localeGiven) options.locale = locale;
        }
        options.answers.emplace_back(std::move(answer.path), std::move(value));
    }
    if (help) parsed.outcome = ParsedOptions::Outcome::Help;
    return parsed;
}

std::string HelpText(const std::string& defaultPluginPath, const std::vector<PluginOption>& pluginOptions) {
    const std::string apiVersion = std::to_string(KORVO_PLUGIN_API_MAJOR) + "." +
                                   std::to_string(KORVO_PLUGIN_API_MINOR) + "." +
                                   std::to_string(KORVO_PLUGIN_API_PATCH);
    std::string text =
        "Usage: plugin-host [OPTIONS] [-- PLUG-IN ARGUMENTS...]\n"
        "\n"
        "Loads the plug-in library, starts it as the host core would and serves its API\n"
        "over HTTP/1.1, with every event the plug-in sends on a Server-Sent Events stream.\n"
        "\n"
        "Options:\n"
        "  --plugin PATH         plug-in library to load\n"
        "                        (default: " + defaultPluginPath + ")\n"
        "  --export NAME         the library's export to call (default: from the file name:\n"
        "                        libvbp-be-my-plugin.so or vbp-be-my-plugin.dll: load_my_plugin)\n"
        "  --api-version X.Y.Z   host plug-in API version handed to the plug-in (default: " + apiVersion + ");\n"
        "                        an incompatible version makes the plug-in end the process\n"
        "  --region NAME         region answered on /korvoclient/get_region_locale (default: the\n"
        "                        answers file's, else none)\n"
        "  --locale NAME         locale answered on /korvoclient/get_region_locale (default: the\n"
        "                        answers file's, else en_US)\n"
        "  --port N              TCP port (default: 8787); 0 picks a free one and prints it\n"
        "  --listen ADDRESS      address to listen on (default: 127.0.0.1, loopback only)\n"
        "  --allow-host NAME     also serve requests whose Host header names NAME (repeatable);\n"
        "                        by default only the listening address and localhost are\n"
        "                        served, so that no web page can reach the plug-in through\n"
        "                        a name of its own (DNS rebinding)\n"
        "  --cors-origin ORIGIN  let pages of ORIGIN (e.g. http://localhost:3000) call the API\n"
        "                        and listen to events (repeatable); by default writes and the\n"
        "                        event stream refuse every other origin and no CORS header is\n"
        "                        sent\n"
        "  --web-assets DIR      Swagger UI's files (swagger-ui-dist) for /docs (default: the\n"
        "                        repository's node_modules/swagger-ui-dist, from install-deps)\n"
        "  --host-answers FILE   what to answer the plug-in, and its own options, one a line\n"
        "                        (repeatable): PATH=JSON answers its GET PATH; --NAME TEXT is\n"
        "                        an option of the plug-in, accepted here and listed below. An\n"
        "                        answer for /korvoclient/get_region_locale gives the defaults\n"
        "                        of --region and --locale; /korvoclient/command-line-args is\n"
        "                        always this command line\n"
        "  --host-answer P=J     answer the plug-in's GET P with the JSON J (repeatable; after\n"
        "                        the files, and a later answer for a path wins)\n"
        "  -h, --help            print this help and exit\n"
        "  --                    everything after it goes to the plug-in only\n"
        "\n"
        "The plug-in sees this whole command line on /korvoclient/command-line-args.\n"
        "\n"
        "Endpoints:\n"
        "  <method> <path>       the plug-in's functions, e.g. GET /my-plugin/v1/items\n"
        "  GET /events[?name=N]  Server-Sent Events: every event the plug-in sends\n"
        "  GET /                 the live page of the plug-in's state\n"
        "  GET /docs             the API reference (Swagger UI), tried against this host\n"
        "  GET /openapi.json     the plug-in's API as an OpenAPI 3.1 document\n"
        "  GET /help             the plug-in's API description as JSON\n"
        "  GET /host/stats       the plug-in's memory counters, subscriptions, stream clients\n"
        "  POST /host/events/N   raise host event N; the JSON body is its payload\n"
        "  GET|POST /host/fixed  a fixed JSON answer that never reaches the plug-in: the\n"
        "                        baseline for load tests (bench/plugin_host_ratio.sh)\n"
        "\n"
        "SIGINT or SIGTERM stops the plug-in, unloads it and exits with status 0.\n";
    if (!pluginOptions.empty()) {
        text += "\nThe plug-in's options (from its answers file):\n";
        constexpr size_t kDescriptionColumn = 24;
        for (const PluginOption& pluginOption : pluginOptions) {
            std::string line = "  " + pluginOption.name;
            line += line.size() < kDescriptionColumn ? std::string(kDescriptionColumn - line.size(), ' ') : "  ";
            text += line + pluginOption.description + "\n";
        }
    }
    return text;
}

}  // namespace Korvo::Host::Dev
