#include "services/dialogs.h"

#include <atomic>
#include <optional>
#include <thread>
#include <vector>

#include "platform/runloop/run_loop.h"
#include "platform/ui/user_notification.h"
#include "tests/support/scripted_presenter.h"
#include "tests/support/test_support.h"

namespace {

using orv::Value;
using orv::test::ScopedPresenter;

// Calls alert with a completion that records its answers.
std::vector<bool> alert_answers(const std::string& message, const std::string& header,
                                bool with_cancel) {
  std::vector<bool> answers;
  alert(message, header, 888, with_cancel, [&](bool ok) { answers.push_back(ok); });
  return answers;
}

// Calls prompt and returns what its completion received (nullopt: it was not called).
std::optional<Value> prompt_answer() {
  std::optional<Value> got;
  prompt("", "Name?", "", [&](const Value& text) { got = text; });
  return got;
}

TEST(AlertTest, ShowsHeaderMessageAndButtonsAsAsked) {
  ScopedPresenter presenter;
  presenter->ok().ok();
  alert("Alert", "Stop it?", 888, true, {});
  orv::DialogRequest confirm = presenter->last_shown();
  EXPECT_EQ(confirm.header, "Stop it?");
  EXPECT_EQ(confirm.message, "Alert");
  EXPECT_EQ(confirm.default_button, "OK");
  EXPECT_EQ(confirm.alternate_button, "CANCEL");
  EXPECT_EQ(confirm.other_button, std::nullopt);
  EXPECT_EQ(confirm.timeout, 888);
  EXPECT_EQ(confirm.flags, 3u);
  EXPECT_TRUE(confirm.text_field_titles.empty());

  alert("", "Done", 888, false, {});
  orv::DialogRequest notice = presenter->last_shown();
  EXPECT_EQ(notice.header, "Done");
  EXPECT_EQ(notice.message, "");
  EXPECT_EQ(notice.alternate_button, std::nullopt);
}

TEST(AlertTest, CompletionGetsTrueOnlyForOk) {
  ScopedPresenter presenter;
  presenter->ok();
  EXPECT_EQ(alert_answers("Alert", "Sure?", true), std::vector<bool>{true});
  presenter->cancel();
  EXPECT_EQ(alert_answers("Alert", "Sure?", true), std::vector<bool>{false});
  presenter->time_out();
  EXPECT_EQ(alert_answers("Alert", "Sure?", true), std::vector<bool>{false});
  // Nothing scripted: left alone until the 888 seconds are up.
  EXPECT_EQ(alert_answers("Alert", "Sure?", true), std::vector<bool>{false});
  // A dialog that cannot be shown is no confirmation.
  presenter->fail();
  EXPECT_EQ(alert_answers("Alert", "Sure?", true), std::vector<bool>{false});
}

TEST(AlertTest, WithoutCancelTheCompletionIsNeverCalled) {
  ScopedPresenter presenter;
  presenter->ok().cancel().fail();
  EXPECT_TRUE(alert_answers("", "Exported", false).empty());
  EXPECT_TRUE(alert_answers("", "Exported", false).empty());
  EXPECT_TRUE(alert_answers("", "Exported", false).empty());
  EXPECT_EQ(presenter->shown_count(), 2u);
}

TEST(AlertTest, NoPresenterMeansNotShownAndFlagsUntouched) {
  auto previous = orv::dialog_presenter();
  orv::set_dialog_presenter(nullptr);
  orv::CFOptionFlags flags = 42;
  EXPECT_EQ(orv::CFUserNotificationDisplayAlert(1, 3, {}, {}, {}, Value("h"), Value("m"), {}, {},
                                                {}, &flags),
            -1);
  EXPECT_EQ(flags, 42u);
  EXPECT_EQ(alert_answers("", "x", true), std::vector<bool>{false});
  orv::set_dialog_presenter(previous);
}

TEST(AlertTest, FromABackgroundThreadShowsOnTheMainThreadAndWaits) {
  ScopedPresenter presenter;
  presenter->ok();
  std::atomic<bool> finished{false};
  std::atomic<bool> completion_on_main{false};
  std::atomic<bool> completed_before_return{false};
  std::thread worker([&] {
    bool completed = false;
    alert("Alert", "From elsewhere", 888, true, [&](bool ok) {
      completed = ok;
      completion_on_main = orv::isMainThread();
    });
    completed_before_return = completed;
    finished = true;
  });
  while (!finished)
    orv::RunLoop::main().run_once(orv::Duration{0.05});
  worker.join();
  ASSERT_EQ(presenter->shown_count(), 1u);
  EXPECT_EQ(presenter->last_shown().thread, std::this_thread::get_id());
  EXPECT_TRUE(completion_on_main);
  EXPECT_TRUE(completed_before_return);
}

TEST(PromptTest, AsksWithOneFieldAndACancelButton) {
  ScopedPresenter presenter;
  presenter->text("backup");
  EXPECT_EQ(prompt_answer(), Value("backup"));
  orv::DialogRequest shown = presenter->last_shown();
  EXPECT_EQ(shown.header, "");
  EXPECT_EQ(shown.message, "Name?");
  EXPECT_EQ(shown.text_field_titles, std::vector<std::string>{""});
  EXPECT_EQ(shown.alternate_button, "CANCEL");
  EXPECT_EQ(shown.default_button, std::nullopt);
  EXPECT_EQ(shown.timeout, 0);
  EXPECT_EQ(shown.flags, 3u);
  EXPECT_EQ(shown.thread, std::this_thread::get_id());
}

TEST(PromptTest, CompletionOnlyWhenConfirmed) {
  ScopedPresenter presenter;
  presenter->cancel();
  EXPECT_EQ(prompt_answer(), std::nullopt);
  presenter->time_out();
  EXPECT_EQ(prompt_answer(), std::nullopt);
  presenter->fail();
  EXPECT_EQ(prompt_answer(), std::nullopt);
  presenter->text("");
  EXPECT_EQ(prompt_answer(), Value(""));
  presenter->ok();  // confirmed with the field absent
  EXPECT_EQ(prompt_answer(), Value());
  orv::set_dialog_presenter(nullptr);  // nothing can create a notification
  EXPECT_EQ(prompt_answer(), std::nullopt);
}

TEST(UserNotificationTest, CreateReadsFieldsAndAnswersOnce) {
  ScopedPresenter presenter;
  presenter->answer({orv::kCFUserNotificationOtherResponse, {"a", "b"}});
  orv::Dictionary dict{
      {orv::kCFUserNotificationTextFieldTitlesKey, Value(orv::Array{Value("first"), Value(3)})},
      {orv::kCFUserNotificationAlertHeaderKey, Value(7)}};
  orv::SInt32 error = 1;
  auto n = orv::CFUserNotificationCreate(orv::kCFAllocatorDefault, 30, 3, &error, dict);
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(presenter->shown_count(), 0u);  // shown when the answer is awaited
  orv::CFOptionFlags flags = 0;
  EXPECT_EQ(orv::CFUserNotificationReceiveResponse(n, 10, &flags), 0);
  EXPECT_EQ(flags, orv::kCFUserNotificationOtherResponse);
  EXPECT_EQ(orv::CFUserNotificationReceiveResponse(n, 0, &flags), 0);
  EXPECT_EQ(presenter->shown_count(), 1u);
  orv::DialogRequest shown = presenter->last_shown();
  EXPECT_EQ(shown.text_field_titles, (std::vector<std::string>{"first", ""}));
  EXPECT_EQ(shown.header, "");
  EXPECT_EQ(shown.timeout, 10);
  const char* values = orv::kCFUserNotificationTextFieldValuesKey;
  EXPECT_EQ(orv::CFUserNotificationGetResponseValue(n, values, 1), Value("b"));
  EXPECT_TRUE(orv::CFUserNotificationGetResponseValue(n, values, 2).is_null());
  EXPECT_TRUE(orv::CFUserNotificationGetResponseValue(n, values, -1).is_null());
  EXPECT_TRUE(orv::CFUserNotificationGetResponseValue(n, "Other", 0).is_null());
  orv::CFRelease(n);

  orv::set_dialog_presenter(nullptr);
  EXPECT_EQ(orv::CFUserNotificationCreate(nullptr, 0, 3, &error, dict), nullptr);
  EXPECT_EQ(error, -1);
  EXPECT_EQ(orv::CFUserNotificationReceiveResponse(nullptr, 0, &flags), -1);
}

}  // namespace
