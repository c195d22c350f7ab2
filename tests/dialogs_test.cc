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
std::vector<bool> alert_answers(bool with_cancel) {
  std::vector<bool> answers;
  alert("Alert", "Sure?", kAlertTimeout, with_cancel, [&](bool ok) { answers.push_back(ok); });
  return answers;
}

// Calls prompt and returns what its completion received (nullopt: it was not called).
std::optional<Value> prompt_answer() {
  std::optional<Value> got;
  prompt("", "Name?", "", [&](const Value& text) { got = text; });
  return got;
}

TEST(AlertTest, ShowsWhatItIsAskedAndCompletesWithTrueOnlyForOk) {
  ScopedPresenter presenter;
  // OK, cancel, time-out, a dialog that cannot be shown, and nothing scripted (left alone
  // until its time-out).
  presenter->ok().cancel().time_out().fail();
  for (bool expected : {true, false, false, false, false})
    EXPECT_EQ(alert_answers(true), std::vector<bool>{expected});
  orv::DialogRequest confirm = presenter->last_shown();
  EXPECT_EQ(confirm.default_button, "OK");
  EXPECT_EQ(confirm.alternate_button, "CANCEL");
  EXPECT_EQ(confirm.timeout, 888);  // the pages' alerts close after 888 s

  // Without cancel the completion is never called, whatever the answer.
  presenter->ok().cancel().fail();
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(alert_answers(false).empty());
  EXPECT_EQ(presenter->last_shown().alternate_button, std::nullopt);

  orv::set_dialog_presenter(nullptr);  // nothing can create a notification
  EXPECT_EQ(alert_answers(true), std::vector<bool>{false});
}

TEST(AlertTest, FromABackgroundThreadShowsOnTheMainThreadAndWaits) {
  ScopedPresenter presenter;
  presenter->ok();
  std::atomic<bool> finished{false};
  std::atomic<bool> completion_on_main{false};
  std::atomic<bool> completed_before_return{false};
  std::thread worker([&] {
    bool completed = false;
    alert("Alert", "From elsewhere", kAlertTimeout, true, [&](bool ok) {
      completed = ok;
      completion_on_main = orv::isMainThread();
    });
    completed_before_return = completed;
    finished = true;
  });
  while (!finished)
    orv::RunLoop::main().run_once(orv::Duration{0.05});
  worker.join();
  EXPECT_EQ(presenter->last_shown().thread, std::this_thread::get_id());
  EXPECT_TRUE(completion_on_main);
  EXPECT_TRUE(completed_before_return);
}

TEST(PromptTest, AsksWithOneFieldAndCompletesOnlyWhenConfirmed) {
  ScopedPresenter presenter;
  presenter->text("backup");
  EXPECT_EQ(prompt_answer(), Value("backup"));
  orv::DialogRequest shown = presenter->last_shown();
  EXPECT_EQ(shown.text_field_titles, std::vector<std::string>{""});
  EXPECT_EQ(shown.alternate_button, "CANCEL");
  presenter->cancel().time_out().fail();
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(prompt_answer(), std::nullopt);
  presenter->text("");
  EXPECT_EQ(prompt_answer(), Value(""));
  presenter->ok();  // confirmed with the field absent
  EXPECT_EQ(prompt_answer(), Value());
  orv::set_dialog_presenter(nullptr);
  EXPECT_EQ(prompt_answer(), std::nullopt);
}

}  // namespace
