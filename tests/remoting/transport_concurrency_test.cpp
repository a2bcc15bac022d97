// Function callbacks running on many threads at once, as the host calls
// them: each call touches only its own records and reads the route.
#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sdk/binding/record_builder.h"
#include "sdk/remoting/transport.h"
#include "tests/remoting/transport_test_host.h"

namespace Korvo {
namespace {

using Testing::CallFunction;
using Testing::FindFunctionRecord;
using Testing::HostReply;

struct Note {
    std::string text;
    int32_t level = 0;
};

constexpr int kThreads = 4;
constexpr int kCallsPerThread = 300;

TEST(TransportConcurrencyTest, CallbacksRunInParallel) {
    HttpBaseTransport transport;
    RegisterRecord<Note>(transport, "Note").Field("text", &Note::text).Field("level", &Note::level);
    std::atomic<int> posted{0};
    transport
        .RegisterRoute(HttpMethod::Get, "/notes/{id}",
                       [](const HttpBaseTransport::Request& request, std::string id,
                          std::optional<int32_t> level) -> HandlerResult<Note> {
                           if (id == "none") return HandlerError(404, "No note " + id);
                           return Note{id + "@" + request.headers.at("who"), level.value_or(-1)};
                       })
        .PathArgument("id")
        .QueryArgument("level");
    transport
        .RegisterRoute(HttpMethod::Post, "/notes/{id}",
                       [&posted](std::string id, Note note) -> HandlerResult<std::string> {
                           ++posted;
                           return id + ":" + note.text;
                       })
        .PathArgument("id")
        .BodyArgument("note");
    const HostApiDescriptor descriptor = transport.BuildApiDescriptor();
    const HostFunctionRecord* get = FindFunctionRecord(descriptor, "GetNotesById");
    const HostFunctionRecord* post = FindFunctionRecord(descriptor, "PostNotesById");
    ASSERT_NE(get, nullptr);
    ASSERT_NE(post, nullptr);

    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back([&, thread] {
            const std::string who = "t" + std::to_string(thread);
            for (int call = 0; call < kCallsPerThread; ++call) {
                const std::string id = std::to_string(call);
                const std::string path = "/notes/" + id;
                HostReply reply;
                bool ok = true;
                switch (call % 4) {
                    case 0:
                        reply = CallFunction(*get, {.path = path.c_str(), .headers = {{"who", who.c_str()}},
                                                    .arguments = {{"level", Host::OwnedHostValue::Int(thread)}}});
                        ok = reply.json == "{\"level\":" + std::to_string(thread) + ",\"text\":\"" + id + "@" +
                                               who + "\"}";
                        break;
                    case 1:
                        reply = CallFunction(*post, {.method = KORVO_METHOD_POST, .path = path.c_str(),
                                                     .contentType = "application/json",
                                                     .body = "{\"text\":\"" + who + "\"}"});
                        ok = reply.json == "\"" + id + ":" + who + "\"";
                        break;
                    case 2:
                        reply = CallFunction(*get, {.path = "/notes/none", .headers = {{"who", who.c_str()}}});
                        ok = reply.error && reply.errorMessage == "No note none" && reply.status == 404;
                        break;
                    default:
                        reply = CallFunction(*get, {.path = (path + "?bogus=1").c_str()});
                        ok = reply.error && reply.errorMessage == "Unknown argument 'bogus' for 'GetNotesById'.";
                        break;
                }
                if (!ok || !reply.zeroAfterRelease) ++mismatches;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(posted, kThreads * kCallsPerThread / 4);
}

}  // namespace
}  // namespace Korvo
