#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/quorvex_zv_plugin.h"

namespace Korvo::Client::QuorvexZV {
namespace {

TEST(HasCommandLineOptionTest, WholeElementWithTwoLeadingDashes) {
    struct Case {
        const char* option;
        std::vector<std::string> arguments;
        bool found;
    };
    const Case cases[] = {
        {"dev-quorvex-zv", {"--dev-quorvex-zv"}, true},
        {"--dev-quorvex-zv", {"app.exe", "--dev-quorvex-zv"}, true},
        {"dev-quorvex-zv", {"dev-quorvex-zv"}, false},
        {"dev-quorvex-zv", {"--dev-quorvex-zv=1"}, false},
        {"dev-quorvex-zv", {"--Dev-Quorvex-ZV"}, false},
        {"dev-quorvex-zv", {"---dev-quorvex-zv"}, false},
        {"dev-quorvex-zv", {"--dev-quorvex-zv "}, false},
        {"dev-quorvex-zv", {}, false},
        {"-x", {"---x"}, true},
        {"", {"--"}, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HasCommandLineOption(c.option, c.arguments), c.found)
            << c.option << " in " << ::testing::PrintToString(c.arguments);
    }
}

}  // namespace
}  // namespace Korvo::Client::QuorvexZV
