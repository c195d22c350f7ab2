// The root page against a scripted control service: its rows, the show-system switch, the
// refresh, stopOne and the refresh timer.
#include <string>

#include "list/root_list_controller.h"
#include "services/descriptions.h"
#include "services/localization.h"
#include "services/settings.h"
#include "tests/list_pages_fixture.h"

namespace orv::test {
namespace {

constexpr std::size_t kRootEntries = 6;

class RootListPage : public PagesTest {
 protected:
  std::shared_ptr<OrvaneRootListController> page =
      open<OrvaneRootListController>("OrvaneRootListController");

  SpecifierList job_rows() {
    auto rows = page->specifiers();
    return SpecifierList(rows->begin() + kRootEntries, rows->end());
  }
  Names job_names() { return names(job_rows()); }
  SpecifierPtr show_system_switch() { return page->specifiers()->at(1); }

  static std::string status(const std::string& label, const char* state) {
    return get_desc(label, false) + " " + localize("$STATUS") + ":" + localize(state);
  }
};

TEST_F(RootListPage, JobRowsFollowTheReplyAndCarryTheirRecord) {
  const Value web = job("com.example.web", {{"Pid", Value(42)}, {"Type", Value(0)}});
  const Value idle =
      job("com.example.idle", {{"Pid", Value(-1)}, {"Type", Value(9)}, {"Description", Value(7)}});
  const Value zero = job("com.example.zero", {{"Pid", Value(0)}, {"Description", Value("Zero")}});
  const Value twin = job("com.example.web", {{"Pid", Value(-1)}});
  const Value odd_pid = job("com.example.odd", {{"Pid", Value("12")}});
  service->set_daemons({web, idle, Value("not a record"), zero, twin, job("com.example.nopid"),
                        odd_pid, Value(Array{})});

  auto rows = job_rows();
  ASSERT_EQ(names(rows), (Names{"com.example.web", "com.example.idle", "com.example.zero",
                                "com.example.web", "com.example.nopid", "com.example.odd"}));
  const std::vector<std::string> contents{
      status("com.example.web", "$RUNNING"),
      status("com.example.idle", "$STOPPED"),
      "Zero " + localize("$STATUS") + ":" + localize("$RUNNING"),
      status("com.example.web", "$STOPPED"),
      status("com.example.nopid", "$RUNNING"),
      status("com.example.odd", "$RUNNING")};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Specifier& row = *rows[i];
    EXPECT_EQ(row.propertyForKey("content"), Value(contents[i])) << i;
    EXPECT_EQ(row.propertyForKey("key"), Value(*row.name())) << i;
  }
  EXPECT_EQ(rows[0]->propertyForKey("detail"), web);
  EXPECT_EQ(rows[3]->propertyForKey("detail"), twin);
}

TEST_F(RootListPage, SystemJobsShowOnlyWhileTheSwitchIsOn) {
  service->set_daemons({job("sys.ten", {{"Type", Value(10)}}),
                        job("user.nine", {{"Type", Value(9)}}), job("untyped"),
                        job("odd.type", {{"Type", Value("20")}})});
  EXPECT_EQ(show_system_switch()->performGetter(), Value(false));
  EXPECT_EQ(job_names(), (Names{"user.nine", "untyped", "odd.type"}));

  const SpecifierPtr show_system = show_system_switch();
  service->clear_requests();
  EXPECT_TRUE(show_system->performSetter(Value(true)));
  EXPECT_EQ(getPref("show_sys", Value()), Value(true));
  EXPECT_EQ(request_names(), (Strings{"listAll"})) << "rebuilt at once";
  EXPECT_EQ(job_names(), (Names{"sys.ten", "user.nine", "untyped", "odd.type"}));

  show_system_switch()->performSetter(Value(false));
  EXPECT_EQ(getPref("show_sys", Value()), Value(false));
  EXPECT_EQ(job_names(), (Names{"user.nine", "untyped", "odd.type"}));
}

TEST_F(RootListPage, EveryRebuildAsksAgainAndMakesAFreshList) {
  service->set_daemons({job("a"), job("b")});
  auto first = page->specifiers();
  auto second = page->specifiers();
  EXPECT_NE(first, second);
  EXPECT_EQ(names(*first), names(*second));
  ASSERT_EQ(service->requests_named("listAll").size(), 2u);
  EXPECT_TRUE(service->requests_named("listAll")[0].user_info.is_null());
  EXPECT_EQ(service->socket_path().parent_path(), root().real("/var/run/orvane"))
      << "the page reached the service through the socket under the root";

  const SpecifierPtr refresh = page->specifiers()->at(2);
  service->clear_requests();
  EXPECT_TRUE(refresh->performAction());
  EXPECT_EQ(request_names(), (Strings{"listAll"}));

  // A service that lists nothing usable leaves the resource's localized entries alone.
  for (auto reply : {std::optional<Value>(), std::optional<Value>(Value(Dictionary{})),
                     std::optional<Value>(Value(Dictionary{{"data", Value("a, b")}})),
                     std::optional<Value>(Value(Dictionary{{"data", Dictionary{{"0", "a"}}}}))}) {
    service->set_reply("listAll", reply);
    EXPECT_EQ(names(*page->specifiers()),
              (Names{localize("$OPTIONS"), localize("$SHOWSYS"), localize("$REFRESH"),
                     localize("$EXPORT"), localize("$IMPORT"), localize("$DAEMONS")}));
  }
  EXPECT_EQ(page->specifiers()->at(5)->propertyForKey("footerText"),
            Value(localize("$DAEMONS_FOOTER")));
}

TEST_F(RootListPage, RefreshTimerTicksWhileThePageLivesAndStopsWithIt) {
  service->set_daemons({job("a")});
  auto listings = [&] { return service->requests_named("listAll").size(); };
  RunLoop::main().advance(Duration(9.9));
  EXPECT_EQ(listings(), 0u);
  RunLoop::main().advance(Duration(0.2));
  EXPECT_EQ(listings(), 1u);
  RunLoop::main().advance(Duration(10));
  EXPECT_EQ(listings(), 2u);

  std::weak_ptr<OrvaneRootListController> watched = page;
  page->specifiers();  // rows point back at the page, weakly
  page.reset();
  EXPECT_TRUE(watched.expired()) << "nothing else keeps a closed page alive";
  RunLoop::main().advance(Duration(30));
  EXPECT_EQ(listings(), 3u);
}

}  // namespace
}  // namespace orv::test
