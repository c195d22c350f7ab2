// The job page: the rows it builds from its record, the launch-option switches, and the
// "Alive" switch's start, stop, refusal and confirmation against a scripted service.
#include <string>
#include <tuple>

#include "detail/detail_controller.h"
#include "detail/multiline_cell.h"
#include "services/descriptions.h"
#include "services/localization.h"
#include "services/settings.h"
#include "tests/list_pages_fixture.h"
#include "tests/support/scripted_presenter.h"

namespace orv::test {
namespace {

class DetailPage : public PagesTest {
 protected:
  // The page as the host opens it: with a specifier that carries the record under "detail".
  std::shared_ptr<OrvaneDetailController> open_on(const Value& record) {
    auto page = open<OrvaneDetailController>("OrvaneDetailController");
    opener = Specifier::preferenceSpecifierNamed(
        std::string(record["Label"].read_string().value_or("")), nullptr, "", "",
        "OrvaneDetailController", PSLinkCell, "");
    opener->setProperty(record, "detail");
    page->setSpecifier(opener);
    return page;
  }
  static Value switch_value(OrvaneDetailController& page, std::size_t row) {
    return page.specifiers()->at(row)->performGetter();
  }

  // The pid row, the Alive, RunAtLoad and KeepAlive switches, the program text and the user of
  // a page without a Plist row.
  static std::string shown(const std::shared_ptr<OrvaneDetailController>& page) {
    auto rows = page->specifiers();
    if (rows->size() != 13) return "rows=" + std::to_string(rows->size());
    std::string switches;
    for (std::size_t row : {0, 1, 2})
      switches += switch_value(*page, row).read_bool() ? '1' : '0';
    return "pid=" + (*rows)[8]->name().value_or("-") + " switches=" + switches + " program=" +
           std::string((*rows)[10]->propertyForKey("content").read_string().value_or("?")) +
           " user=" + (*rows)[12]->name().value_or("-");
  }

  SpecifierPtr opener;
  ScopedPresenter presenter;
};

TEST_F(DetailPage, FullRecordGivesFifteenRowsInOrder) {
  auto page = open_on(
      job("com.example.web", {{"Pid", Value(42)},
                              {"Plist", Value("/Library/LaunchDaemons/web.plist")},
                              {"ProgramArguments", Value(Array{"/bin/sleep", "100", "a b"})},
                              {"Program", Value("/bin/other")},
                              {"RunAtLoad", Value(true)},
                              {"KeepAlive", Value(false)},
                              {"User", Value("root")}}));
  auto rows = page->specifiers();
  EXPECT_EQ(names(*rows),
            (Names{"Alive", "RunAtLoad", "KeepAlive", "", "", "Label", "com.example.web", "Pid",
                   "42", "Plist", "", "Program", "", "User", "root"}));
  for (std::size_t row : {0, 1, 2})
    EXPECT_EQ(switch_value(*page, row), Value(row != 2)) << row;
  EXPECT_EQ((*rows)[4]->propertyForKey("content"), Value(get_desc("com.example.web", true)));
  EXPECT_EQ((*rows)[10]->propertyForKey("content"), Value("/Library/LaunchDaemons/web.plist"));
  EXPECT_EQ((*rows)[12]->propertyForKey("content"), Value("/bin/sleep 100 a b"));
  EXPECT_TRUE(service->requests().empty()) << "built from the record alone";
  EXPECT_NE(page->specifiers(), rows) << "every build makes a fresh list";

  auto described = open_on(job("com.example.unlisted", {{"Description", Value("Own text")}}));
  EXPECT_EQ(described->specifiers()->at(4)->propertyForKey("content"), Value("Own text"));
}

TEST_F(DetailPage, MissingAndOddValuesTakeTheDefaults) {
  const std::pair<Value, std::string> cases[] = {
      {job("a"), "pid=- switches=100 program= user=mobile"},  // no Pid counts as running
      {job("a", {{"Pid", Value(-1)}}), "pid=-1 switches=000 program= user=mobile"},
      {job("a", {{"Pid", Value(0)}}), "pid=0 switches=100 program= user=mobile"},
      {job("a", {{"Pid", Value("123")},
                 {"RunAtLoad", Value("yes")},
                 {"KeepAlive", Value(Dictionary{{"SuccessfulExit", Value(false)}})},
                 {"User", Value(0)}}),
       "pid=- switches=101 program= user=mobile"},  // kept alive under conditions
      {job("a", {{"Program", Value("/bin/true")}}),
       "pid=- switches=100 program=/bin/true user=mobile"},
      {job("a", {{"ProgramArguments", Value(Array{"/bin/echo", Value(7), "x"})}}),
       "pid=- switches=100 program=/bin/echo x user=mobile"},
      {job("a", {{"ProgramArguments", Value("/bin/sh -c")}, {"Program", Value("/bin/true")}}),
       "pid=- switches=100 program= user=mobile"},
      {Value("com.example.web"), "pid=- switches=100 program= user=mobile"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(shown(open_on(cases[i].first)), cases[i].second) << i;
  EXPECT_EQ(shown(open<OrvaneDetailController>("OrvaneDetailController")),
            "pid=- switches=100 program= user=mobile")
      << "opened without a specifier";
}

class AliveSwitch : public DetailPage {
 protected:
  // Flips "Alive" on a page opened on `label` (running, with a Plist) and returns the page.
  std::shared_ptr<OrvaneDetailController> flip(const std::string& label, bool on) {
    auto page = open_on(job(label, {{"Pid", Value(10)}, {"Plist", Value("/L/" + label)}}));
    page->specifiers()->at(0)->performSetter(Value(on));
    return page;
  }
  Value policy() { return getPref("usr_pol", Value()); }
};

// Starting is never confirmed, protected jobs are never stopped, and other jobs whose label
// holds the (case-sensitive) system marker are stopped only after the user confirms.
TEST_F(AliveSwitch, StopsOnlyWhatTheGuardsAndTheUserAllow) {
  enum Answer { kLeftAlone, kOk, kCancel, kTimeOut };
  // The job, the switch's new state, the answer, the dialog's header key (nullptr: no dialog) and
  // the requests sent.
  const std::tuple<const char*, bool, Answer, const char*, Strings> cases[] = {
      {"com.apple.SpringBoard", true, kLeftAlone, nullptr, {"startOne", "listAll"}},
      {"com.apple.SpringBoard", false, kLeftAlone, "$STOPKEY", {"listAll"}},
      {"com.apple.backboardd", false, kLeftAlone, "$STOPKEY", {"listAll"}},
      {"com.apple.SpringBoardX", false, kOk, "$STOPSYS", {"startOne", "listAll", "listAll"}},
      {"org.example.com.apple.helper", false, kCancel, "$STOPSYS", {"listAll", "listAll"}},
      {"com.apple.locationd", false, kTimeOut, "$STOPSYS", {"listAll", "listAll"}},
      {"COM.APPLE.upper", false, kLeftAlone, nullptr, {"startOne", "listAll"}},
  };
  for (const auto& [label, on, answer, dialog, sent_requests] : cases) {
    root().reset_settings();
    service->clear_requests();
    if (answer == kOk) presenter->ok();
    if (answer == kCancel) presenter->cancel();
    if (answer == kTimeOut) presenter->time_out();
    const std::size_t dialogs = presenter->shown().size();
    flip(label, on);

    ASSERT_EQ(request_names(), sent_requests) << label;
    const bool sent = sent_requests.front() == "startOne";
    if (sent) {
      EXPECT_EQ(service->requests()[0].user_info,
                Value(Dictionary{{"Label", label},
                                 {"isStart", on},
                                 {"flag", 0},
                                 {"Plist", "/L/" + std::string(label)}}));
    }
    EXPECT_EQ(policy(), sent ? Value(Dictionary{{label, Value(on)}}) : Value()) << label;
    ASSERT_EQ(presenter->shown().size(), dialogs + (dialog ? 1 : 0)) << label;
    if (!dialog) continue;
    EXPECT_EQ(presenter->last_shown().header, localize(dialog)) << label;
    EXPECT_EQ(presenter->last_shown().alternate_button.has_value(), answer != kLeftAlone);
  }
}

TEST_F(AliveSwitch, ChoiceIsRecordedWhateverTheReply) {
  service->set_status("startOne", -1);
  flip("com.example.a", true);
  service->set_reply("startOne", std::nullopt);
  flip("com.example.b", false);
  open_on(job("com.example.c"))->startOne(true);  // no Plist
  EXPECT_EQ(policy(), Value(Dictionary{{"com.example.a", Value(true)},
                                       {"com.example.b", Value(false)},
                                       {"com.example.c", Value(true)}}));
}

TEST_F(AliveSwitch, RefreshTakesTheFirstFreshRecordOrKeepsTheOldOne) {
  const Value fresh = job("com.example.web", {{"Pid", Value(-1)}});
  service->set_daemons({job("other"), fresh, job("com.example.web", {{"Pid", Value(5)}})});
  auto page = flip("com.example.web", false);
  EXPECT_EQ(opener->propertyForKey("detail"), fresh);
  EXPECT_EQ(switch_value(*page, 0), Value(false));

  const Value old = opener->propertyForKey("detail");
  service->set_daemons({job("other")});
  page->updateCell();
  EXPECT_TRUE(opener->propertyForKey("detail").same_object(old)) << "the job vanished";
  service->set_reply("listAll", std::nullopt);
  page->updateCell();
  EXPECT_TRUE(opener->propertyForKey("detail").same_object(old));
  EXPECT_EQ(service->requests_named("listAll").size(), 3u);
}

TEST(MultilineCell, AnyStyleComesOutSubtitleWithWrappedUnlimitedDetail) {
  const std::string text = "Manages the network interfaces. It restarts when it exits.";
  auto row = Specifier::preferenceSpecifierNamed("com.example.job", nullptr, "", "", "",
                                                 PSStaticTextCell, "");
  row->setProperty(Value(text), "content");
  OrvaneMultilineCell cell;
  ASSERT_EQ(cell.initWithStyle(static_cast<UITableViewCellStyle>(99), "multi", row), &cell);
  EXPECT_EQ(cell.style(), UITableViewCellStyle::Subtitle);
  EXPECT_EQ(cell.textLabel().text, "com.example.job");
  EXPECT_EQ(cell.detailTextLabel().text, text);
  EXPECT_EQ(cell.detailTextLabel().numberOfLines, 0);
  EXPECT_EQ(cell.detailTextLabel().lineBreakMode, NSLineBreakByWordWrapping);
  // Odd content, or no row at all, gives an empty detail.
  row->setProperty(Value(12), "content");
  for (const SpecifierPtr& content : {row, SpecifierPtr()}) {
    OrvaneMultilineCell empty;
    EXPECT_EQ(empty.initWithStyle(UITableViewCellStyle::Default, "", content), &empty);
    EXPECT_EQ(empty.detailTextLabel().text, "");
  }
}

}  // namespace
}  // namespace orv::test
