// The checker's verdict on route templates: the shared grammar's refusals in
// the checker's words, and the rules a function served by path adds to it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/check/checks.h"

namespace Korvo::Host::Check {
namespace {

struct TemplateCase {
    const char* routeTemplate;
    const char* problem;  // empty: accepted
    std::vector<std::string> names;
};

TEST(CheckRouteTemplateTest, Table) {
    const TemplateCase cases[] = {
        {"/v1/items/{id}/{+rest}{#part}", "", {"id", "rest", "part"}},
        {"/v1/items", "", {}},
        // Literal whole, as the plug-in serves it.
        {"/v1/a}b", "", {}},
        {nullptr, "does not start with '/'", {}},
        {"", "does not start with '/'", {}},
        {"v1/{id}", "does not start with '/'", {}},
        {"/{a}/{a}", "names the parameter 'a' twice", {"a"}},
        // A name repeated before the grammar breaks is reported first.
        {"/{a}/{a}/{", "names the parameter 'a' twice", {"a"}},
        {"/{a}/{", "does not close the parameter opened at offset 5", {"a"}},
        {"/{a{b}", "opens a parameter inside another at offset 3", {}},
        {"/{a}}", "closes no parameter at offset 4", {"a"}},
        {"/{#}", "has a parameter without a name at offset 1", {}},
    };
    for (const TemplateCase& c : cases) {
        std::vector<std::string> names;
        EXPECT_EQ(CheckRouteTemplate(c.routeTemplate, names), c.problem) << (c.routeTemplate ? c.routeTemplate : "null");
        EXPECT_EQ(names, c.names) << (c.routeTemplate ? c.routeTemplate : "null");
    }
}

}  // namespace
}  // namespace Korvo::Host::Check
