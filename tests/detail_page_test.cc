// The job page: the rows it builds from its record, the launch-option switches, and the
// "Alive" switch's start, stop, refusal and confirmation against a scripted service.
#include <string>

#include "detail/detail_controller.h"
#include "detail/multiline_cell.h"
#include "list/root_list_controller.h"
#include "services/descriptions.h"
#include "services/localization.h"
#include "services/settings.h"
#include "tests/list_pages_fixture.h"
#include "tests/support/scripted_presenter.h"

namespace orv::test {
namespace {

using Names = std::vector<std::optional<std::string>>;
using Strings = std::vector<std::string>;

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
  static Value content(const SpecifierList& rows, std::size_t row) {
    return rows.at(row)->propertyForKey("content");
  }
  std::string program_of(Dictionary record) {
    record.set("Label", Value("x"));
    auto rows = open_on(Value(record))->specifiers();
    return std::string(content(*rows, rows->size() - 3).read_string().value_or("?"));
  }

  SpecifierPtr opener;
  ScopedPresenter presenter;
};

TEST_F(DetailPage, FullRecordGivesFifteenRowsInOrder) {
  const Value record =
      job("com.example.web", {{"Pid", Value(42)},
                              {"Plist", Value("/Library/LaunchDaemons/web.plist")},
                              {"ProgramArguments", Value(Array{"/bin/sleep", "100", "a b"})},
                              {"Program", Value("/bin/other")},
                              {"RunAtLoad", Value(true)},
                              {"KeepAlive", Value(false)},
                              {"User", Value("root")}});
  auto page = open_on(record);
  auto rows = page->specifiers();
  EXPECT_EQ(names(*rows),
            (Names{"Alive", "RunAtLoad", "KeepAlive", "", "", "Label", "com.example.web", "Pid",
                   "42", "Plist", "", "Program", "", "User", "root"}));
  EXPECT_EQ((*rows)[4]->cellType(), PSStaticTextCell);
  EXPECT_EQ((*rows)[1]->propertyForKey("enabled"), Value(false));
  for (std::size_t row : {0, 1, 2})
    EXPECT_EQ(switch_value(*page, row), Value(row != 2)) << row;
  EXPECT_EQ(content(*rows, 4), Value(get_desc("com.example.web", true)));
  EXPECT_EQ(content(*rows, 10), Value("/Library/LaunchDaemons/web.plist"));
  EXPECT_EQ(content(*rows, 12), Value("/bin/sleep 100 a b"));
  EXPECT_TRUE(service->requests().empty()) << "built from the record alone";

  auto again = page->specifiers();
  EXPECT_NE(again, rows);
  EXPECT_EQ(names(*again), names(*rows));
}

TEST_F(DetailPage, SparseRecordsTakeTheDefaults) {
  auto page = open_on(job("com.example.bare"));
  auto rows = page->specifiers();
  EXPECT_EQ(names(*rows),
            (Names{"Alive", "RunAtLoad", "KeepAlive", "", "", "Label", "com.example.bare", "Pid",
                   std::nullopt, "Program", "", "User", "mobile"}));
  EXPECT_EQ(switch_value(*page, 0), Value(true)) << "no Pid counts as running";
  EXPECT_EQ(switch_value(*page, 1), Value(false));
  EXPECT_EQ(content(*rows, 10), Value(""));
  for (int pid : {-1, 0}) {
    auto other = open_on(job("com.example.pid", {{"Pid", Value(pid)}}));
    EXPECT_EQ(other->specifiers()->at(8)->name(), std::to_string(pid));
    EXPECT_EQ(switch_value(*other, 0), Value(pid == 0));
  }
}

TEST_F(DetailPage, ProgramTextRules) {
  EXPECT_EQ(program_of({{"Program", Value("/bin/true")}}), "/bin/true");
  EXPECT_EQ(program_of({{"ProgramArguments", Value(Array{})}, {"Program", Value("/bin/true")}}),
            "");
  EXPECT_EQ(program_of({{"ProgramArguments", Value(Array{"/bin/echo", Value(7), "x"})}}),
            "/bin/echo x");
  EXPECT_EQ(
      program_of({{"ProgramArguments", Value("/bin/sh -c")}, {"Program", Value("/bin/true")}}), "");
  EXPECT_EQ(program_of({{"Program", Value(3)}}), "");
}

TEST_F(DetailPage, ValuesOfUnexpectedKindsStillBuildThePage) {
  Dictionary keep_alive_conditions{{"SuccessfulExit", Value(false)}};
  auto page = open_on(job("com.example.odd", {{"Pid", Value("123")},
                                              {"KeepAlive", Value(keep_alive_conditions)},
                                              {"RunAtLoad", Value("yes")},
                                              {"User", Value(0)}}));
  auto rows = page->specifiers();
  ASSERT_EQ(rows->size(), 13u);
  EXPECT_EQ(switch_value(*page, 0), Value(true)) << "a Pid string reads as 0";
  EXPECT_EQ((*rows)[8]->name(), std::nullopt);
  EXPECT_EQ(switch_value(*page, 1), Value(false));
  EXPECT_EQ(switch_value(*page, 2), Value(true)) << "kept alive under conditions";

  for (const Value& not_a_record : {Value("com.example.web"), Value(Array{}), Value()}) {
    auto broken = open_on(not_a_record);
    auto built = broken->specifiers();
    ASSERT_EQ(built->size(), 13u);
    EXPECT_EQ((*built)[6]->name(), std::nullopt);
    EXPECT_EQ(switch_value(*broken, 0), Value(true));
  }
  auto orphan = open<OrvaneDetailController>("OrvaneDetailController");
  EXPECT_EQ(orphan->specifiers()->size(), 13u) << "opened without a specifier";
}

class AliveSwitch : public DetailPage {
 protected:
  // Flips "Alive" on a page opened on `label` (running, with a Plist) and returns the page.
  std::shared_ptr<OrvaneDetailController> flip(const std::string& label, bool on) {
    const Value record =
        job(label, {{"Pid", Value(10)}, {"Plist", Value("/L/" + label + ".plist")}});
    auto page = open_on(record);
    page->specifiers()->at(0)->performSetter(Value(on));
    return page;
  }
  static Value stop_request(const std::string& label, bool is_start = false) {
    return Value(Dictionary{{"Label", Value(label)},
                            {"isStart", Value(is_start)},
                            {"flag", Value(0)},
                            {"Plist", Value("/L/" + label + ".plist")}});
  }
  Value policy() { return getPref("usr_pol", Value()); }
};

TEST_F(AliveSwitch, StartingIsNeverConfirmedAndIsRecorded) {
  flip("com.apple.SpringBoard", true);
  EXPECT_EQ(presenter->shown().size(), 0u);
  EXPECT_EQ(request_names(), (Strings{"startOne", "listAll"}));
  EXPECT_EQ(service->requests()[0].user_info, stop_request("com.apple.SpringBoard", true));
  EXPECT_EQ(policy(), Value(Dictionary{{"com.apple.SpringBoard", Value(true)}}));
}

TEST_F(AliveSwitch, ProtectedJobsAreNeverStopped) {
  for (const char* label : {"com.apple.SpringBoard", "com.apple.backboardd"}) {
    service->clear_requests();
    auto page = flip(label, false);
    EXPECT_EQ(request_names(), (Strings{"listAll"})) << label;
    EXPECT_EQ(switch_value(*page, 0), Value(true)) << "the record still shows it running";
  }
  ASSERT_EQ(presenter->shown().size(), 2u);
  const DialogRequest refusal = presenter->last_shown();
  EXPECT_EQ(refusal.header, localize("$STOPKEY"));
  EXPECT_EQ(refusal.alternate_button, std::nullopt);
  EXPECT_EQ(policy(), Value());
}

TEST_F(AliveSwitch, SystemJobsAreStoppedOnlyAfterConfirmation) {
  presenter->ok();
  flip("com.apple.SpringBoardX", false);
  EXPECT_EQ(request_names(), (Strings{"startOne", "listAll", "listAll"}));
  EXPECT_EQ(service->requests()[0].user_info, stop_request("com.apple.SpringBoardX"));
  ASSERT_EQ(presenter->shown().size(), 1u);
  EXPECT_EQ(presenter->last_shown().header, localize("$STOPSYS"));
  EXPECT_EQ(presenter->last_shown().alternate_button, "CANCEL");

  service->clear_requests();
  presenter->cancel().time_out();
  flip("org.example.com.apple.helper", false);
  flip("com.apple.locationd", false);
  EXPECT_EQ(request_names(), (Strings{"listAll", "listAll", "listAll", "listAll"}));
  EXPECT_EQ(presenter->shown().size(), 3u);
  EXPECT_EQ(policy(), Value(Dictionary{{"com.apple.SpringBoardX", Value(false)}}));

  service->clear_requests();
  flip("COM.APPLE.upper", false);
  EXPECT_EQ(presenter->shown().size(), 3u) << "the marker is case-sensitive";
  EXPECT_EQ(request_names(), (Strings{"startOne", "listAll"}));
}

TEST_F(AliveSwitch, ChoiceIsRecordedWhateverTheReply) {
  service->set_status("startOne", -1);
  flip("com.example.a", true);
  service->set_reply("startOne", std::nullopt);
  flip("com.example.b", false);
  auto with_no_plist = open_on(job("com.example.c"));
  with_no_plist->startOne(true);
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
  EXPECT_EQ(page->specifiers()->at(8)->name(), "-1");

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
  auto row = [](std::optional<std::string> name, Value content) {
    auto s = Specifier::preferenceSpecifierNamed(std::move(name), nullptr, "", "", "",
                                                 PSStaticTextCell, "");
    s->setProperty(std::move(content), "content");
    return s;
  };
  const std::string text = "Manages the network interfaces. It restarts when it exits.";
  for (auto style : {UITableViewCellStyle::Default, static_cast<UITableViewCellStyle>(99)}) {
    OrvaneMultilineCell cell;
    ASSERT_EQ(cell.initWithStyle(style, "multi", row("com.example.job", Value(text))), &cell);
    EXPECT_EQ(cell.style(), UITableViewCellStyle::Subtitle);
    EXPECT_EQ(cell.textLabel().text, "com.example.job");
    EXPECT_EQ(cell.detailTextLabel().text, text);
    EXPECT_EQ(cell.detailTextLabel().numberOfLines, 0);
    EXPECT_EQ(cell.detailTextLabel().lineBreakMode, NSLineBreakByWordWrapping);
  }
  // Missing or odd content, or no row at all, gives an empty detail.
  for (const SpecifierPtr& content :
       {row("Title", Value()), row(std::nullopt, Value(12)), SpecifierPtr()}) {
    OrvaneMultilineCell cell;
    EXPECT_EQ(cell.initWithStyle(UITableViewCellStyle::Default, "", content), &cell);
    EXPECT_EQ(cell.detailTextLabel().text, "");
  }
}

}  // namespace
}  // namespace orv::test
