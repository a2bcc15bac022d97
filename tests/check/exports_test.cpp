// The export reader on a real library and on damaged copies of it: every
// truncation and a sweep of corrupted bytes give an answer (exports or an
// error), never a read outside the file (the sanitizers watch).
#include "host/check/exports.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

namespace Korvo::Host::Check {
namespace {

std::string ReadAll(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(ExportsTest, ReadsTheOneExportOfAPlugin) {
    const ExportList exports = ReadExportsOfFile(KORVO_GOOD_FIXTURE);
    ASSERT_TRUE(exports.ok) << exports.error;
    EXPECT_EQ(exports.format, sizeof(void*) == 8 ? "ELF64" : "ELF32");
    EXPECT_THAT(exports.names, ::testing::ElementsAre("load_minimal"));

    const ExportList two = ReadExportsOfFile(KORVO_SECOND_EXPORT_FIXTURE);
    ASSERT_TRUE(two.ok) << two.error;
    EXPECT_THAT(two.names, ::testing::UnorderedElementsAre("load_minimal", "korvo_fixture_second_export"));
}

TEST(ExportsTest, DamagedFilesGiveAnAnswerNotACrash) {
    const std::string library = ReadAll(KORVO_GOOD_FIXTURE);
    ASSERT_GT(library.size(), 1024u);
    for (size_t size = 0; size < library.size(); size += 61) {
        const ExportList cut = ReadExports(std::string_view(library).substr(0, size));
        EXPECT_TRUE(cut.ok || !cut.error.empty()) << size;
    }
    std::string damaged = library;
    for (size_t at = 0; at < damaged.size(); at += 7) {
        const char kept = damaged[at];
        damaged[at] = static_cast<char>(0xFF);
        const ExportList read = ReadExports(damaged);
        EXPECT_TRUE(read.ok || !read.error.empty()) << at;
        damaged[at] = kept;
    }
    EXPECT_FALSE(ReadExports("MZ").ok);
    EXPECT_EQ(ReadExports("#!/bin/sh\n").error, "neither an ELF nor a PE file");
    EXPECT_EQ(ReadExportsOfFile("/nonexistent/library.so").error, "cannot open /nonexistent/library.so");
}

}  // namespace
}  // namespace Korvo::Host::Check
