// The plugin's control-service requests and its success rule. The pages' tests check that these
// requests are the ones sent, and how job lists are read.
#include "services/control_service.h"

#include "tests/support/test_support.h"

namespace orv::test {
namespace {

using Strings = std::vector<std::string>;

TEST(ControlServiceRequests, CarryExactlyTheirKeysInOrder) {
  const Value full(Dictionary{{"Plist", "/Library/LaunchDaemons/a.plist"}, {"Label", "a"}});
  const Value start(make_start_one_request(full, true));
  EXPECT_EQ(keys_of(start), (Strings{"Label", "isStart", "flag", "Plist"}));
  EXPECT_EQ(start["Plist"], full["Plist"]);
  EXPECT_TRUE(start["isStart"] == Value(true) && start["flag"] == Value(0));
  // Label and Plist only when they are strings.
  EXPECT_EQ(keys_of(Value(make_start_one_request(Value(Dictionary{{"Label", "b"}}), false))),
            (Strings{"Label", "isStart", "flag"}));
  for (const Value& odd : {Value(Dictionary{{"Label", 7}, {"Plist", Array{}}}), Value("text")})
    EXPECT_EQ(keys_of(Value(make_start_one_request(odd, false))), (Strings{"isStart", "flag"}));

  const Value table(Dictionary{{"a", true}, {"b", false}});
  const Dictionary request = make_export_request("/var/mobile/Media/x", table);
  EXPECT_EQ(keys_of(Value(request)), (Strings{"path", "data"}));
  EXPECT_EQ(request.get("path"), Value("/var/mobile/Media/x"));
  EXPECT_TRUE(request.get("data").same_object(table));
}

TEST(ControlServiceRequests, SuccessNeedsAReplyWithNonNegativeStatus) {
  for (const Value& failed : {Value(), Value("status"), Value(Dictionary{{"status", -1}}),
                              Value(Dictionary{{"status", std::int64_t{0xFFFFFFFF}}})})
    EXPECT_FALSE(reply_succeeded(failed)) << failed.number_text();  // 0xFFFFFFFF reads as -1
  for (const Value& good : {Value(Dictionary{}), Value(Dictionary{{"status", 0}}),
                            Value(Dictionary{{"status", 3}}), Value(Dictionary{{"status", "-1"}})})
    EXPECT_TRUE(reply_succeeded(good));
}

}  // namespace
}  // namespace orv::test
