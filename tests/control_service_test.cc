// The plugin's control-service client: the exact request dictionaries, the success rule, and
// getAllDaemons against a real server on a real socket.
#include "services/control_service.h"

#include <cstdlib>
#include <mutex>

#include "tests/support/test_support.h"

namespace {

using orv::Array;
using orv::Dictionary;
using orv::Value;

std::vector<std::string> keys_of(const Dictionary& dictionary) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : dictionary)
    keys.push_back(key);
  return keys;
}

TEST(ControlServiceRequests, StartOneCarriesLabelBooleanIntegerFlagAndPlistOnlyWhenAString) {
  const Value full(Dictionary{{"Plist", "/Library/LaunchDaemons/a.plist"}, {"Label", "a"}});
  const Dictionary start = make_start_one_request(full, true);
  EXPECT_EQ(keys_of(start), (std::vector<std::string>{"Label", "isStart", "flag", "Plist"}));
  EXPECT_EQ(start.get("Label"), Value("a"));
  EXPECT_EQ(start.get("Plist"), Value("/Library/LaunchDaemons/a.plist"));
  ASSERT_TRUE(start.get("isStart").is_boolean());
  EXPECT_TRUE(start.get("isStart").read_bool());
  ASSERT_TRUE(start.get("flag").is_integer());
  EXPECT_EQ(start.get("flag").read_int64(), 0);

  const Dictionary stop = make_start_one_request(Value(Dictionary{{"Label", "b"}}), false);
  EXPECT_EQ(keys_of(stop), (std::vector<std::string>{"Label", "isStart", "flag"}));
  EXPECT_EQ(stop.get("isStart"), Value(false));
  EXPECT_EQ(stop.get("flag"), Value(0));

  const Value odd(Dictionary{{"Label", 7}, {"Plist", Array{}}});
  EXPECT_EQ(keys_of(make_start_one_request(odd, false)),
            (std::vector<std::string>{"isStart", "flag"}));
  EXPECT_EQ(keys_of(make_start_one_request(Value("not a record"), true)),
            (std::vector<std::string>{"isStart", "flag"}));
}

TEST(ControlServiceRequests, ExportCarriesExactlyPathAndData) {
  const Value table(Dictionary{{"a", true}, {"b", false}});
  const Dictionary request = make_export_request("/var/mobile/Media/x", table);
  EXPECT_EQ(keys_of(request), (std::vector<std::string>{"path", "data"}));
  EXPECT_EQ(request.get("path"), Value("/var/mobile/Media/x"));
  EXPECT_TRUE(request.get("data").same_object(table));
}

TEST(ControlServiceRequests, SuccessNeedsAReplyWithNonNegativeStatus) {
  EXPECT_FALSE(reply_succeeded(Value()));
  EXPECT_FALSE(reply_succeeded(Value("status")));
  EXPECT_TRUE(reply_succeeded(Value(Dictionary{})));
  EXPECT_TRUE(reply_succeeded(Value(Dictionary{{"status", 0}})));
  EXPECT_TRUE(reply_succeeded(Value(Dictionary{{"status", 3}})));
  EXPECT_FALSE(reply_succeeded(Value(Dictionary{{"status", -1}})));
  // Read as signed 32 bits: 0xFFFFFFFF is -1.
  EXPECT_FALSE(reply_succeeded(Value(Dictionary{{"status", std::int64_t{0xFFFFFFFF}}})));
  EXPECT_TRUE(reply_succeeded(Value(Dictionary{{"status", "-1"}})));
}

// A control service on the real socket of "msgport.orvane" that records what it receives.
class ControlServiceSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("ORVANE_RUNTIME_DIR", dir_.path().c_str(), 1);
    server_.emplace(orv::center_socket_path("msgport.orvane"));
    for (const char* message : {"listAll", "startOne", "export"}) {
      server_->register_handler(message, [this, message](const Value& info) {
        std::lock_guard lock(mutex_);
        received_.emplace_back(message, info);
        return replies_[message];
      });
    }
  }
  void TearDown() override {
    server_.reset();
    ::unsetenv("ORVANE_RUNTIME_DIR");
  }

  orv::test::TempDir dir_;
  std::mutex mutex_;
  std::map<std::string, std::optional<Value>> replies_;
  std::vector<std::pair<std::string, Value>> received_;
  std::optional<orv::MessagingCenterServer> server_;
};

TEST_F(ControlServiceSocketTest, GetAllDaemonsReturnsOnlyAnArrayOfData) {
  std::shared_ptr<orv::CPDistributedMessagingCenter> center = get_ipc();
  ASSERT_NE(center, nullptr);
  EXPECT_EQ(get_ipc(), center);
  EXPECT_EQ(center->name(), "msgport.orvane");

  EXPECT_TRUE(getAllDaemons().is_null()) << "no service listening";
  ASSERT_TRUE(server_->start());

  const Value records(Array{Value(Dictionary{{"Label", "a"}, {"Pid", -1}})});
  replies_["listAll"] = Value(Dictionary{{"data", records}, {"status", 0}});
  EXPECT_EQ(getAllDaemons(), records);
  ASSERT_EQ(received_.size(), 1u);
  EXPECT_TRUE(received_[0].second.is_null()) << "listAll carries no request dictionary";

  for (const Value& data : {Value("text"), Value(Dictionary{{"0", "a"}}), Value(5)}) {
    replies_["listAll"] = Value(Dictionary{{"data", data}});
    EXPECT_TRUE(getAllDaemons().is_null());
  }
  replies_["listAll"] = Value(Dictionary{});
  EXPECT_TRUE(getAllDaemons().is_null());
  replies_["listAll"] = std::nullopt;
  EXPECT_TRUE(getAllDaemons().is_null());
}

TEST_F(ControlServiceSocketTest, SendHelpersDeliverTheRequestAndApplyTheSuccessRule) {
  ASSERT_TRUE(server_->start());
  orv::CPDistributedMessagingCenter& center = *get_ipc();
  const Value record(Dictionary{{"Label", "com.x"}, {"Plist", "/p.plist"}, {"Pid", 4}});

  replies_["startOne"] = Value(Dictionary{{"status", 0}});
  EXPECT_TRUE(send_start_one(center, record, false));
  replies_["startOne"] = Value(Dictionary{{"status", -1}});
  EXPECT_FALSE(send_start_one(center, record, true));
  replies_["startOne"] = Value(Dictionary{});
  EXPECT_TRUE(send_start_one(center, record, true));
  replies_["startOne"] = std::nullopt;
  EXPECT_FALSE(send_start_one(center, record, true));

  const Value table(Dictionary{{"com.x", false}});
  replies_["export"] = Value(Dictionary{});
  EXPECT_TRUE(send_export(center, "/var/mobile/Media/p", table));
  replies_["export"] = Value(Dictionary{{"status", -5}});
  EXPECT_FALSE(send_export(center, "/var/mobile/Media/p", table));

  ASSERT_EQ(received_.size(), 6u);
  EXPECT_EQ(received_[0].second, Value(make_start_one_request(record, false)));
  EXPECT_TRUE(received_[0].second["isStart"].is_boolean());
  EXPECT_TRUE(received_[0].second["flag"].is_integer());
  EXPECT_EQ(received_[4].first, "export");
  EXPECT_EQ(received_[4].second,
            Value(Dictionary{{"path", "/var/mobile/Media/p"}, {"data", table}}));
}

}  // namespace
