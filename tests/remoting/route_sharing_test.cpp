// One compiled route matched from several threads at once, as the host's
// threads do with the routes the transport compiled at registration.
#include "sdk/remoting/routes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace Korvo {
namespace {

TEST(RouteSharingTest, ThreadsMatchOneRouteAtOnce) {
    const CompiledRoute routes[] = {CompileRoute("/v1/{+path}/x", nullptr, nullptr),
                                    CompileRoute("/v1/items/{id}/x", nullptr, nullptr)};
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                std::string id = std::to_string(t) + "-" + std::to_string(i);
                std::string path = "/v1/items/" + id + "/x";
                RouteMatch match;
                match.method = HttpMethod::Get;
                match.path = path;
                if (!MatchRoutes(match, routes) || match.pathParameters.size() != 1 ||
                    match.pathParameters.begin()->second != id)
                    ++wrong;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace Korvo
