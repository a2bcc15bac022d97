// tests/contract/contract_codes_test.cpp - each code set's bounds and
// validity test, at the edges where a reader or writer would slip: the
// first code, the last, one past it, a gap, and a negative number cast in.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "sdk/contract/korvo_plugin.h"

namespace {

struct CodeSet {
    const char* name;
    KorvoBool (*isValid)(uint32_t);
    uint32_t last;
};

// Each set's last code, written out as the host team knows it: a set may
// grow, but then this table is updated on purpose.
const CodeSet kSets[] = {
    {"method", &KorvoMethodIsValid, 8},
    {"argument location", &KorvoArgumentLocationIsValid, 5},
    {"content code", &KorvoContentCodeIsValid, 3},
    {"type kind", &KorvoTypeKindIsValid, 19},
    {"value type", &KorvoValueTypeIsValid, 10},
    {"log level", &KorvoLogLevelIsValid, 3},
    {"subscribe flag", &KorvoSubscribeFlagIsValid, 1},
};

TEST(ContractCodesTest, EachSetIsValidFromZeroToItsLastCode) {
    for (const CodeSet& set : kSets) {
        SCOPED_TRACE(set.name);
        EXPECT_TRUE(set.isValid(0));
        EXPECT_TRUE(set.isValid(set.last));
        EXPECT_FALSE(set.isValid(set.last + 1));
        EXPECT_FALSE(set.isValid(UINT32_MAX));  // -1 written into a code field
    }
}

TEST(ContractCodesTest, LastMacrosNameTheLastCodes) {
    EXPECT_EQ(KORVO_METHOD_LAST, 8);
    EXPECT_EQ(KORVO_LOCATION_LAST, 5);
    EXPECT_EQ(KORVO_CONTENT_LAST, 3);
    EXPECT_EQ(KORVO_KIND_LAST, 19);
    EXPECT_EQ(KORVO_VALUE_LAST, 10);
    EXPECT_EQ(KORVO_LOG_LAST, 3);
    EXPECT_EQ(KORVO_SUBSCRIBE_LAST, 1);
}

TEST(ContractCodesTest, TheUnusedLocationIsNotValid) {
    EXPECT_TRUE(KorvoArgumentLocationIsValid(KORVO_LOCATION_PATH));
    EXPECT_FALSE(KorvoArgumentLocationIsValid(3));
    EXPECT_TRUE(KorvoArgumentLocationIsValid(KORVO_LOCATION_HEADER));
}

// A kind added to the set without a text would describe itself as "".
TEST(ContractCodesTest, EveryKindButNoneHasAText) {
    EXPECT_STREQ(KorvoTypeKindName(KORVO_KIND_NONE), "");
    for (uint32_t kind = 1; kind <= KORVO_KIND_LAST; ++kind) {
        EXPECT_NE(std::string(KorvoTypeKindName(kind)), "") << kind;
    }
    EXPECT_STREQ(KorvoTypeKindName(KORVO_KIND_LAST + 1), "");
}

}  // namespace
