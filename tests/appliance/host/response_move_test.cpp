// The moving forms of the response: same answers and envelopes as the
// copying ones, and the once-only rule still holds.
#include <gtest/gtest.h>

#include "platform/webapi.h"
#include "tests/support/temp_root.h"

namespace {

Json::Value sampleData() {
  Json::Value data(Json::objectValue);
  data["cards"].append("x");
  data["name"] = "Zoë";
  return data;
}

TEST(ResponseMove, MovedSuccessEqualsCopiedOne) {
  ORVA::APIResponse copied;
  copied.SetSuccess(sampleData());
  const Json::Value data = sampleData();
  ORVA::APIResponse moved;
  moved.SetSuccess(Json::Value(data));
  EXPECT_TRUE(moved.IsSuccess());
  EXPECT_EQ(moved.Data(), data);
  EXPECT_EQ(moved.Envelope(), copied.Envelope());
  EXPECT_EQ(moved.TakeEnvelope(), copied.Envelope());
  EXPECT_TRUE(moved.Data().isNull());
  EXPECT_TRUE(moved.IsSuccess());
}

TEST(ResponseMove, SecondAnswerIsIgnoredEitherWay) {
  orva_test::TempRoot root;
  ORVA::APIResponse response;
  response.SetError(5, "first");
  response.SetSuccess(sampleData());
  EXPECT_FALSE(response.IsSuccess());
  EXPECT_EQ(response.AnswerCount(), 2);
  const Json::Value envelope = response.TakeEnvelope();
  EXPECT_EQ(envelope["error"]["code"], 5);
  EXPECT_EQ(envelope["error"]["detail"], "first");
  EXPECT_FALSE(envelope.isMember("data"));

  ORVA::APIResponse first;
  first.SetSuccess(Json::Value(1));
  first.SetSuccess(Json::Value(2));
  EXPECT_EQ(first.Data(), 1);
}

}  // namespace
