// tests/plugin/plugin_test_support.h - the built plug-in library driven by
// the fake host, as the host core drives it.
//
// The library's path comes from the build (KORVO_PLUGIN_LIBRARY, the target
// file of vbp-be-qem-quorvex-zv). Under Wine a Unix path is reached through
// the Z: drive.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "host/testing/fake_host.h"
#include "sdk/platform/platform.h"

#ifndef KORVO_PLUGIN_LIBRARY
#error "KORVO_PLUGIN_LIBRARY names the built plug-in library"
#endif

namespace Korvo::Testing {

inline std::string PluginLibraryPath() {
    std::string path = KORVO_PLUGIN_LIBRARY;
#if defined(_WIN32)
    if (!path.empty() && path.front() == '/') {
        for (char& c : path) {
            if (c == '/') c = '\\';
        }
        path.insert(0, "Z:");
    }
#endif
    return path;
}

inline constexpr uint32_t kGet = KORVO_METHOD_GET;
inline constexpr uint32_t kPost = KORVO_METHOD_POST;
inline constexpr const char* kLocalePath = "/korvoclient/get_region_locale";
inline constexpr const char* kArgumentsPath = "/korvoclient/command-line-args";
inline constexpr const char* kStatesPath = "/qem-quorvex-zv/v1/ui-states";
inline constexpr const char* kStatesPrefix = "/qem-quorvex-zv/v1/ui-states/";
inline constexpr const char* kJson = "application/json";

inline Host::OwnedHostValue Locale(const std::string& region) {
    return Host::OwnedHostValue::Object({{"region", Host::OwnedHostValue::String(region)},
                                         {"locale", Host::OwnedHostValue::String("en_US")}});
}

inline Host::OwnedHostValue Arguments(const std::vector<std::string>& arguments) {
    std::vector<Host::OwnedHostValue> items;
    for (const std::string& argument : arguments) items.push_back(Host::OwnedHostValue::String(argument));
    return Host::OwnedHostValue::Array(std::move(items));
}

// The text of the first string member called name in a rendered JSON value
// (no escapes expected); "" when there is none.
inline std::string StringMember(const std::string& json, const std::string& name) {
    const std::string key = "\"" + name + "\":\"";
    const size_t at = json.find(key);
    if (at == std::string::npos) return "";
    const size_t start = at + key.size();
    const size_t end = json.find('"', start);
    return end == std::string::npos ? "" : json.substr(start, end - start);
}

// A fake host with the library loaded (not yet called).
class PluginFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(host_.Load(PluginLibraryPath())) << PluginLibraryPath();
    }

    // Loads the plug-in with the given host version.
    void LoadPlugin(uint32_t major = 18, uint32_t minor = 0, uint32_t patch = 0) {
        ASSERT_NE(host_.CallLoad(major, minor, patch), nullptr);
    }
    // Loads and starts it where the host answers with region and arguments;
    // returns the start-up verdict.
    bool LoadAndStart(const std::string& region = "QUORVEX", const std::vector<std::string>& arguments = {}) {
        host_.AnswerValue(kLocalePath, Locale(region));
        host_.AnswerValue(kArgumentsPath, Arguments(arguments));
        if (host_.CallLoad() == nullptr) return false;
        return host_.Start();
    }

    Host::FakeHost::CallResponse Post(const std::string& feature, const std::string& body,
                                      const std::string& contentType = kJson) {
        return host_.Call(kPost, kStatesPrefix + feature, body, contentType);
    }
    Host::FakeHost::CallResponse Get(const std::string& feature) { return host_.Call(kGet, kStatesPrefix + feature); }
    Host::FakeHost::CallResponse List() { return host_.Call(kGet, kStatesPath); }

    std::vector<std::string> EventNames() const {
        std::vector<std::string> names;
        for (const Host::FakeHost::Event& event : host_.Events()) names.push_back(event.name);
        return names;
    }
    std::vector<std::string> RequestPaths() const {
        std::vector<std::string> paths;
        for (const Host::FakeHost::Request& request : host_.Requests()) paths.push_back(request.path);
        return paths;
    }

    Host::FakeHost host_;
};

}  // namespace Korvo::Testing
