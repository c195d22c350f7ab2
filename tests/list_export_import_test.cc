// Export and import of the user policy table: the dialogs in order, what crosses the socket,
// which files are read, and names that try to leave the media directory.
#include <string>

#include "list/root_list_controller.h"
#include "platform/json/json.h"
#include "platform/plist/plist_file.h"
#include "services/control_service.h"
#include "services/localization.h"
#include "services/settings.h"
#include "tests/list_pages_fixture.h"
#include "tests/support/scripted_presenter.h"

namespace orv::test {
namespace {

class ExportImport : public PagesTest {
 protected:
  void SetUp() override {
    PagesTest::SetUp();
    std::filesystem::remove_all(root().real("/var/mobile/Media"));
  }

  std::shared_ptr<OrvaneRootListController> page =
      open<OrvaneRootListController>("OrvaneRootListController");
  ScopedPresenter presenter;

  // Headers of the dialogs shown so far, in order.
  Strings headers() {
    Strings out;
    for (const auto& dialog : presenter->shown())
      out.push_back(dialog.header);
    return out;
  }
  void write_policies(const std::string& name, const Value& table, PlistFormat format) {
    const auto file = root().real("/var/mobile/Media/" + name);
    std::filesystem::create_directories(file.parent_path());
    ASSERT_TRUE(write_plist_file_atomically(file, table, format));
  }
  static std::string imported(const std::string& path) { return localize("$IMPSUC") + ":" + path; }
  static std::string import_failed() { return localize("$IMPERR") + ":" + localize("$NOEXIST"); }
};

TEST_F(ExportImport, ExportSendsTheTableAndShowsTheOutcome) {
  page->onExport();
  setPref("usr_pol", Value("not a table"));
  page->onExport();
  EXPECT_EQ(presenter->shown().size(), 0u) << "nothing to export: no dialog at all";

  const Value table(Dictionary{{"com.example.a", Value(false)}, {"com.example.b", Value(true)}});
  setPref("usr_pol", table);
  presenter->cancel().text("");
  for (int i = 0; i < 2; ++i)
    page->onExport();
  EXPECT_TRUE(service->requests().empty()) << "no name given";
  presenter->text("backup.plist");
  page->onExport();

  ASSERT_EQ(presenter->shown().size(), 4u);
  EXPECT_EQ(presenter->shown()[2].message, localize("$INPUTNAME"));
  EXPECT_EQ(presenter->shown()[3].header, localize("$EXPSUC") + ":/var/mobile/Media/backup.plist");
  EXPECT_EQ(presenter->shown()[3].alternate_button, std::nullopt);
  auto sent = service->requests_named("export");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].user_info, Value(make_export_request("/var/mobile/Media/backup.plist", table)));

  for (auto reply :
       {std::optional<Value>(Value(Dictionary{{"status", Value(-1)}})), std::optional<Value>()}) {
    service->set_reply("export", reply);
    presenter->text("x");
    page->onExport();
    EXPECT_EQ(presenter->last_shown().header, localize("$EXPERR"));
  }
}

TEST_F(ExportImport, NamesThatClimbOutOfTheMediaDirectoryAreRefused) {
  setPref("usr_pol", Value(Dictionary{{"a", Value(false)}}));
  for (const char* name : {"../escape.plist", "a/../../b", "..", "x/.."}) {
    presenter->text(name);
    page->onExport();
    EXPECT_EQ(presenter->last_shown().header, localize("$EXPERR")) << name;
    presenter->ok().text(name);
    page->onImport();
    EXPECT_EQ(presenter->last_shown().header, import_failed()) << name;
  }
  EXPECT_TRUE(service->requests().empty()) << "nothing sent, no job list fetched";

  presenter->text("..hidden/x..");
  page->onExport();
  EXPECT_EQ(service->requests_named("export").size(), 1u) << "dots inside a name are fine";
}

TEST_F(ExportImport, ImportStopsTheFirstListedJobOfEveryStoppedEntry) {
  const Value first_dup = job("com.example.dup", {{"Plist", Value("/first")}});
  service->set_daemons({job("com.example.a"), first_dup,
                        job("com.example.dup", {{"Plist", Value("/second")}}),
                        job("com.apple.SpringBoard"), job("com.apple.backboardd"),
                        job("com.example.on"), job("com.example.odd")});
  write_policies("policies.plist",
                 Value(Dictionary{{"com.example.dup", Value(false)},
                                  {"com.example.on", Value(true)},
                                  {"com.example.gone", Value(false)},
                                  {"com.apple.SpringBoard", Value(false)},
                                  {"com.example.odd", Value("no")},
                                  {"com.apple.backboardd", Value(0)},
                                  {"com.example.a", Value(0)}}),
                 PlistFormat::Binary);
  service->set_status("startOne", -1);  // reported as imported whatever the stops answered
  presenter->ok().text("policies.plist");
  page->onImport();

  ASSERT_EQ(headers(),
            (Strings{localize("$STOPSYS"), "", imported("/var/mobile/Media/policies.plist")}));
  EXPECT_EQ(presenter->shown()[0].alternate_button, "CANCEL");
  ASSERT_EQ(request_names(), (Strings{"listAll", "startOne", "startOne"}));
  const auto stops = service->requests_named("startOne");
  EXPECT_EQ(stops[0].user_info, Value(make_start_one_request(first_dup, false)));
  EXPECT_EQ(stops[1].user_info, Value(make_start_one_request(job("com.example.a"), false)));
  EXPECT_EQ(getPref("usr_pol", Value()), Value()) << "import never writes the policy table";

  service->set_reply("listAll", std::nullopt);
  presenter->ok().text("policies.plist");
  page->onImport();
  EXPECT_EQ(presenter->last_shown().header, imported("/var/mobile/Media/policies.plist"))
      << "no job list";
}

// Declining the confirmation or the name ends an import silently; files that are not policy
// tables are refused.
TEST_F(ExportImport, ImportEndsSilentlyWhenDeclinedAndRefusesWhatIsNotAPolicyTable) {
  presenter->cancel().time_out().ok().cancel().ok().text("");
  for (int i = 0; i < 4; ++i)
    page->onImport();
  EXPECT_EQ(headers(), (Strings{localize("$STOPSYS"), localize("$STOPSYS"), localize("$STOPSYS"),
                                "", localize("$STOPSYS"), ""}));

  const auto media = root().real("/var/mobile/Media");
  write_file(media / "policies.json",
             write_json(Value(Dictionary{{"com.example.a", Value(false)}})).value_or(""));
  write_policies("empty.plist", Value(Dictionary{}), PlistFormat::Xml);
  write_policies("list.plist", Value(Array{"com.example.a"}), PlistFormat::Xml);
  write_file(media / "garbage.plist", "bplist00 but not really");
  for (const char* name :
       {"policies.json", "empty.plist", "list.plist", "garbage.plist", "missing"}) {
    presenter->ok().text(name);
    page->onImport();
    EXPECT_EQ(presenter->last_shown().header, import_failed()) << name;
  }
  EXPECT_TRUE(service->requests().empty());
}

}  // namespace
}  // namespace orv::test
