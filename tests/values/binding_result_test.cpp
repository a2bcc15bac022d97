#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "sdk/values/property.h"
#include "tests/support/binding_matchers.h"

namespace Korvo {
namespace {

using Testing::Failed;
using Testing::FailedWithMessage;
using Testing::HasMember;
using Testing::HasValue;
using Testing::IsEmptyValue;
using Testing::IsSigned;
using Testing::IsString;
using Testing::IsStructure;
using Testing::IsUnsigned;
using Testing::Succeeded;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::Pair;

TEST(BindingResultTest, NewResultSucceedsWithAnEmptyValue) {
    BindingResult result;
    EXPECT_TRUE(result.Succeeded());
    EXPECT_TRUE(static_cast<bool>(result));
    EXPECT_EQ(result.ErrorMessage(), "");
    EXPECT_THAT(result, HasValue(IsEmptyValue()));
}

TEST(BindingResultTest, ResultFromAPropertySucceeds) {
    BindingProperty five(5u);
    EXPECT_THAT(BindingResult(five), HasValue(IsUnsigned(5)));
    EXPECT_THAT(BindingResult(BindingProperty("x")), HasValue(IsString("x")));
}

TEST(BindingResultTest, FailureIsAStructureWithTheErrorMember) {
    BindingResult result;
    result.Value() = 3;
    result.Fail("A value for 'id' is required.");
    EXPECT_TRUE(result.Failed());
    EXPECT_EQ(result.ErrorMessage(), "A value for 'id' is required.");
    EXPECT_THAT(result.Value(), IsStructure(ElementsAre(Pair("error", IsString("A value for 'id' is required.")))));
    EXPECT_THAT(result, FailedWithMessage("A value for 'id' is required."));
}

TEST(BindingResultTest, FirstFailureWins) {
    BindingResult result = BindingResult::Failure("first");
    result.Fail("second");
    EXPECT_THAT(result, FailedWithMessage("first"));
}

TEST(BindingResultTest, ErrorMessageOfAnErrorMemberThatIsNotAString) {
    BindingResult result = BindingResult::Failure("text");
    result.Value().Member("error") = 42;
    EXPECT_TRUE(result.Failed());
    EXPECT_EQ(result.ErrorMessage(), "");
    result.Value().Clear();
    EXPECT_EQ(result.ErrorMessage(), "");
}

TEST(BindingResultTest, SucceededResultIgnoresAnErrorMember) {
    BindingResult result;
    result.Value().Member("error") = "not a failure";
    EXPECT_EQ(result.ErrorMessage(), "");
    EXPECT_THAT(result, HasValue(HasMember("error", IsString("not a failure"))));
}

TEST(BindingResultTest, CopiesAndMovesTakeTheFlagAlong) {
    BindingResult failed = BindingResult::Failure("broken");
    BindingResult copy = failed;
    EXPECT_THAT(copy, FailedWithMessage("broken"));
    BindingResult assigned;
    assigned = copy;
    EXPECT_THAT(assigned, FailedWithMessage("broken"));
    BindingResult moved = std::move(copy);
    EXPECT_THAT(moved, FailedWithMessage("broken"));
    moved = BindingResult(BindingProperty(1));
    EXPECT_THAT(moved, HasValue(IsSigned(1)));
}

TEST(BindingResultTest, FailMayQuoteTheResultsOwnText) {
    BindingResult result(BindingProperty("bad input"));
    result.Fail(result.Value().AsString());
    EXPECT_THAT(result, FailedWithMessage("bad input"));
}

TEST(BindingResultTest, EmptyMessageIsStillAFailure) {
    BindingResult result = BindingResult::Failure("");
    EXPECT_THAT(result, Failed());
    EXPECT_THAT(result.Value(), HasMember("error", IsString("")));
}

// The matchers say what went wrong in one line.
TEST(BindingMatchersTest, ExplainMismatches) {
    BindingResult failed = BindingResult::Failure("nope");
    ::testing::StringMatchResultListener listener;
    EXPECT_FALSE(::testing::ExplainMatchResult(HasValue(IsUnsigned(5)), failed, &listener));
    EXPECT_EQ(listener.str(), "failed with message \"nope\"");

    ::testing::StringMatchResultListener kindListener;
    EXPECT_FALSE(::testing::ExplainMatchResult(IsUnsigned(5), BindingProperty(5), &kindListener));
    EXPECT_EQ(kindListener.str(), "which is of kind signed");

    EXPECT_THAT(BindingResult(BindingProperty(1)), Not(FailedWithMessage(HasSubstr("x"))));
    EXPECT_THAT(BindingResult(BindingProperty(1)), Succeeded());
    EXPECT_THAT(failed, Not(Succeeded()));
    EXPECT_EQ(::testing::PrintToString(failed), "failure \"nope\"");
    EXPECT_EQ(::testing::DescribeMatcher<const BindingProperty&>(IsUnsigned(5)), "is an Unsigned that is equal to 5");
}

}  // namespace
}  // namespace Korvo
