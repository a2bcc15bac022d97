// The development host's command line: defaults, every option in both
// spellings, what is passed on to the plug-in, and the refusals.
#include "host/devhost/options.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace Korvo::Host::Dev {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr const char* kDefaultPlugin = "/build/libplugin.so";

ParsedOptions Parse(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "plugin-host");
    return ParseOptions(static_cast<int>(arguments.size()), arguments.data(), kDefaultPlugin);
}

TEST(OptionsTest, Defaults) {
    ParsedOptions parsed = Parse({});
    ASSERT_EQ(parsed.outcome, ParsedOptions::Outcome::Run);
    const DevHostOptions& options = parsed.options;
    EXPECT_EQ(options.pluginPath, kDefaultPlugin);
    EXPECT_EQ(options.apiMajor, 18u);
    EXPECT_EQ(options.apiMinor, 0u);
    EXPECT_EQ(options.apiPatch, 0u);
    EXPECT_EQ(options.region, "");
    EXPECT_EQ(options.locale, "en_US");
    EXPECT_EQ(options.port, 8787);
    EXPECT_EQ(options.listen, "127.0.0.1");
    EXPECT_THAT(options.commandLine, ElementsAre("plugin-host"));
}

TEST(OptionsTest, EveryOptionWithItsValueAfterItOrAfterEquals) {
    for (bool equals : {false, true}) {
        auto option = [equals](const char* name, const char* value) {
            return equals ? std::vector<std::string>{std::string(name) + "=" + value}
                          : std::vector<std::string>{name, value};
        };
        std::vector<std::string> texts;
        for (auto part : {option("--plugin", "/p.so"), option("--export", "load_x"), option("--api-version", "18.2.3"), option("--region", "OTHER"),
                          option("--locale", "de_DE"), option("--port", "0"), option("--listen", "0.0.0.0"),
                          option("--allow-host", "devbox.local"), option("--allow-host", "other"),
                          option("--cors-origin", "http://localhost:3000")}) {
            texts.insert(texts.end(), part.begin(), part.end());
        }
        std::vector<const char*> arguments;
        for (const std::string& text : texts) arguments.push_back(text.c_str());
        ParsedOptions parsed = Parse(arguments);
        ASSERT_EQ(parsed.outcome, ParsedOptions::Outcome::Run) << parsed.message;
        EXPECT_EQ(parsed.options.pluginPath, "/p.so");
        EXPECT_EQ(parsed.options.exportName, "load_x");
        EXPECT_EQ(parsed.options.apiMajor, 18u);
        EXPECT_EQ(parsed.options.apiMinor, 2u);
        EXPECT_EQ(parsed.options.apiPatch, 3u);
        EXPECT_EQ(parsed.options.region, "OTHER");
        EXPECT_EQ(parsed.options.locale, "de_DE");
        EXPECT_EQ(parsed.options.port, 0);
        EXPECT_EQ(parsed.options.listen, "0.0.0.0");
        EXPECT_THAT(parsed.options.allowedHosts, ::testing::ElementsAre("devbox.local", "other"));
        EXPECT_THAT(parsed.options.corsOrigins, ::testing::ElementsAre("http://localhost:3000"));
    }
}

// A plug-in's answers file, written for one test and removed after it.
class AnswersFile {
public:
    explicit AnswersFile(const std::string& text)
        : path_(std::filesystem::temp_directory_path() /
                ("options-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++) + ".txt")) {
        std::ofstream(path_) << text;
    }
    ~AnswersFile() { std::filesystem::remove(path_); }
    std::string Path() const { return path_.string(); }

private:
    static inline int counter_ = 0;
    std::filesystem::path path_;
};

constexpr const char* kPluginAnswers =
    "# a plug-in's\n"
    "/korvoclient/get_region_locale={\"region\":\"NORTH\",\"locale\":\"fr_FR\"}\n"
    "\n"
    "/app/settings={\"dark\":true}\n"
    "--plugin-debug  log every request\n";

TEST(OptionsTest, TheWholeCommandLineIsKeptForThePlugin) {
    AnswersFile file(kPluginAnswers);
    // The plug-in's option may come before the file that declares it.
    ParsedOptions parsed =
        Parse({"--plugin-debug", "--region", "OTHER", "--host-answers", file.Path().c_str(), "--", "--anything", "x"});
    ASSERT_EQ(parsed.outcome, ParsedOptions::Outcome::Run) << parsed.message;
    EXPECT_THAT(parsed.options.commandLine, ElementsAre("plugin-host", "--plugin-debug", "--region", "OTHER",
                                                        "--host-answers", file.Path(), "--", "--anything", "x"));
    EXPECT_EQ(parsed.options.region, "OTHER");
}

std::string AnswersJson(const DevHostOptions& options) {
    std::string json;
    for (const auto& [path, value] : options.answers) json += path + "=" + HostValueToJson(value.Record()) + "\n";
    return json;
}

TEST(OptionsTest, AnAnswersFileGivesAnswersTheRegionAndThePluginsOptions) {
    AnswersFile file(kPluginAnswers);
    ParsedOptions parsed = Parse({"--host-answers", file.Path().c_str(), "--host-answer", "/app/settings={}"});
    ASSERT_EQ(parsed.outcome, ParsedOptions::Outcome::Run) << parsed.message;
    EXPECT_EQ(parsed.options.region, "NORTH");
    EXPECT_EQ(parsed.options.locale, "fr_FR");
    // The command line's answer comes after the file's, and wins.
    EXPECT_EQ(AnswersJson(parsed.options),
              "/korvoclient/get_region_locale={\"region\":\"NORTH\",\"locale\":\"fr_FR\"}\n"
              "/app/settings={\"dark\":true}\n/app/settings={}\n");
    ASSERT_EQ(parsed.options.pluginOptions.size(), 1u);
    EXPECT_EQ(parsed.options.pluginOptions[0].name, "--plugin-debug");
    EXPECT_THAT(HelpText(kDefaultPlugin, parsed.options.pluginOptions),
                HasSubstr("The plug-in's options (from its answers file):\n  --plugin-debug        log every request\n"));

    ParsedOptions overridden = Parse({"--locale", "de_DE", "--host-answers", file.Path().c_str()});
    ASSERT_EQ(overridden.outcome, ParsedOptions::Outcome::Run) << overridden.message;
    EXPECT_EQ(overridden.options.region, "NORTH");
    EXPECT_EQ(overridden.options.locale, "de_DE");

    EXPECT_EQ(Parse({"--host-answers", file.Path().c_str(), "--plugin-debug=1"}).message,
              "plugin-host: unknown option '--plugin-debug' (see plugin-host --help)");
    // Without the file, the plug-in's option is nobody's.
    EXPECT_EQ(Parse({"--plugin-debug"}).message, "plugin-host: unknown option '--plugin-debug' (see plugin-host --help)");
}

TEST(OptionsTest, ABadAnswersFileIsRefusedWithItsLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"# fine\n/a=1\n/b={\n", ":3: the answer for /b is not JSON: "},
        {"/a=1\nplain words\n", ":2: expected PATH=JSON or --OPTION DESCRIPTION, not 'plain words'"},
        {"a=1\n", ":1: the path of an answer starts with '/', not 'a'"},
        {"\n--port  the plug-in's port\n", ":2: --port is an option of plugin-host itself"},
        {"--bad_name x\n", ":1: an option of the plug-in is --NAME (letters, digits and '-'), not '--bad_name'"},
        {"/korvoclient/get_region_locale={\"region\":7}\n",
         ":1: the answer for /korvoclient/get_region_locale is an object whose region and locale are strings"},
    };
    for (const auto& [text, message] : cases) {
        AnswersFile file(text);
        ParsedOptions parsed = Parse({"--host-answers", file.Path().c_str()});
        EXPECT_EQ(parsed.outcome, ParsedOptions::Outcome::Error) << text;
        EXPECT_THAT(parsed.message, HasSubstr("plugin-host: " + file.Path() + message)) << text;
    }
    EXPECT_EQ(Parse({"--host-answers", "/nonexistent/answers.txt"}).message,
              "plugin-host: cannot read the host answers file /nonexistent/answers.txt (see plugin-host --help)");
    EXPECT_EQ(Parse({"--host-answer", "/a=nojson"}).message.substr(0, 51),
              "plugin-host: --host-answer: the answer for /a is no");
}

TEST(OptionsTest, AUniqueAbbreviationNamesItsOption) {
    ParsedOptions parsed = Parse({"--reg", "OTHER", "--loc=de_DE"});
    ASSERT_EQ(parsed.outcome, ParsedOptions::Outcome::Run) << parsed.message;
    EXPECT_EQ(parsed.options.region, "OTHER");
    EXPECT_EQ(parsed.options.locale, "de_DE");
}

TEST(OptionsTest, AnEmptyRegionIsARegion) {
    ParsedOptions parsed = Parse({"--region="});
    ASSERT_EQ(parsed.outcome, ParsedOptions::Outcome::Run);
    EXPECT_EQ(parsed.options.region, "");
}

TEST(OptionsTest, HelpWinsOverRunning) {
    EXPECT_EQ(Parse({"--help"}).outcome, ParsedOptions::Outcome::Help);
    EXPECT_EQ(Parse({"--port", "1", "-h"}).outcome, ParsedOptions::Outcome::Help);
}

struct RefusalCase {
    std::vector<const char*> arguments;
    const char* message;
};

TEST(OptionsTest, RefusalsSayWhatIsWrong) {
    const RefusalCase cases[] = {
        {{"--bogus"}, "plugin-host: unknown option '--bogus' (see plugin-host --help)"},
        {{"--bogus=1"}, "plugin-host: unknown option '--bogus' (see plugin-host --help)"},
        {{"--help=1"}, "plugin-host: unknown option '--help' (see plugin-host --help)"},
        {{"--p", "1"}, "plugin-host: unknown option '--p' (see plugin-host --help)"},  // --plugin or --port
        {{"--region", "X", "stray"}, "plugin-host: unexpected argument 'stray' (see plugin-host --help)"},
        {{"-p"}, "plugin-host: unexpected argument '-p' (see plugin-host --help)"},
        {{"stray"}, "plugin-host: unexpected argument 'stray' (see plugin-host --help)"},
        {{"--port"}, "plugin-host: --port needs a value (see plugin-host --help)"},
        {{"--port", "x"}, "plugin-host: --port needs a number from 0 to 65535, not 'x' (see plugin-host --help)"},
        {{"--port", "65536"}, "plugin-host: --port needs a number from 0 to 65535, not '65536' (see plugin-host --help)"},
        {{"--port=-1"}, "plugin-host: --port needs a number from 0 to 65535, not '-1' (see plugin-host --help)"},
        {{"--port", "80x"}, "plugin-host: --port needs a number from 0 to 65535, not '80x' (see plugin-host --help)"},
        {{"--api-version", "18.0"},
         "plugin-host: --api-version needs three numbers X.Y.Z, not '18.0' (see plugin-host --help)"},
        {{"--api-version", "18.0.0.1"},
         "plugin-host: --api-version needs three numbers X.Y.Z, not '18.0.0.1' (see plugin-host --help)"},
        {{"--api-version", "18..0"},
         "plugin-host: --api-version needs three numbers X.Y.Z, not '18..0' (see plugin-host --help)"},
        {{"--api-version", "4294967296.0.0"},
         "plugin-host: --api-version needs three numbers X.Y.Z, not '4294967296.0.0' (see plugin-host --help)"},
        {{"--plugin="}, "plugin-host: --plugin needs a path (see plugin-host --help)"},
        {{"--allow-host", "evil:80"},
         "plugin-host: --allow-host needs a host name without a port, not 'evil:80' (see plugin-host --help)"},
        {{"--cors-origin", "localhost:3000"},
         "plugin-host: --cors-origin needs an origin such as http://localhost:3000, not 'localhost:3000' (see "
         "plugin-host --help)"},
        {{"--listen", ""}, "plugin-host: --listen needs an address (see plugin-host --help)"},
        {{"--export", ""}, "plugin-host: --export needs a C function name, not '' (see plugin-host --help)"},
        {{"--export", "1load"}, "plugin-host: --export needs a C function name, not '1load' (see plugin-host --help)"},
        {{"--export", "load-x"}, "plugin-host: --export needs a C function name, not 'load-x' (see plugin-host --help)"},
    };
    for (const RefusalCase& refusal : cases) {
        ParsedOptions parsed = Parse(refusal.arguments);
        EXPECT_EQ(parsed.outcome, ParsedOptions::Outcome::Error) << refusal.message;
        EXPECT_EQ(parsed.message, refusal.message);
    }
}

TEST(OptionsTest, HelpNamesEveryOptionAndTheDefaultLibrary) {
    const std::string help = HelpText(kDefaultPlugin);
    for (const char* option : {"--plugin PATH", "--export NAME", "--api-version X.Y.Z", "--region NAME", "--locale NAME", "--port N",
                               "--listen ADDRESS", "--allow-host NAME", "--cors-origin ORIGIN", "--host-answers FILE",
                               "--help", "-- "}) {
        EXPECT_THAT(help, HasSubstr(option));
    }
    EXPECT_THAT(help, HasSubstr(kDefaultPlugin));
    EXPECT_THAT(help, HasSubstr("GET /events"));
}

TEST(OptionsTest, TheExportComesFromTheLibrarysFileName) {
    const std::pair<const char*, const char*> cases[] = {
        {"build/plugin/libvbp-be-qem-quorvex-zv.so", "load_qem_quorvex_zv"},
        {"C:\\plugins\\vbp-be-qem-quorvex-zv.dll", "load_qem_quorvex_zv"},
        {"libvbp-be-greeter.so.1.2", "load_greeter"},
        {"/opt/x/notes.so", "load_notes"},
        {"libmy plug+in.so", "load_my_plug_in"},
        {"vbp-be-a.b.dll", "load_a"},
    };
    for (const auto& [path, exportName] : cases) EXPECT_EQ(ExportNameFor(path), exportName) << path;
}

}  // namespace
}  // namespace Korvo::Host::Dev
