#include "list/root_list_controller.h"

#include <string>

#include "platform/runloop/run_loop.h"
#include "services/control_service.h"
#include "services/descriptions.h"
#include "services/localization.h"
#include "services/settings.h"

using orv::Specifier;
using orv::SpecifierList;
using orv::Value;

namespace {

constexpr std::string_view kDetailPageClass = "OrvaneDetailController";
constexpr std::string_view kMultilineCellClass = "OrvaneMultilineCell";
// Jobs of this "Type" and above are the system's own; they are listed only on request.
constexpr std::int32_t kFirstSystemJobType = 10;

// The words every row's status line shares, translated once per rebuild rather than once per
// row: each translation reads the locale, and a long list has thousands of rows.
struct StatusWords {
  std::string status = localize("$STATUS");
  std::string running = localize("$RUNNING");
  std::string stopped = localize("$STOPPED");
};

// "<short description> <status word>:<running or stopped>". A missing "Pid" reads as 0 and so
// as running. A job unknown to the descriptions file is described by its record, if at all.
std::string status_line(const Value& record, std::string_view label, const StatusWords& words) {
  const bool running = record["Pid"].read_int32() >= 0;
  std::string line = get_desc(label, false, record["Description"].read_string().value_or(""));
  const std::string& state = running ? words.running : words.stopped;
  line.reserve(line.size() + 1 + words.status.size() + 1 + state.size());
  line.append(" ").append(words.status).append(":").append(state);
  return line;
}

// Every row names the same cell class; rows share one value instead of each building its own.
const Value& multiline_cell_class() {
  static const Value cell_class(kMultilineCellClass);
  return cell_class;
}

bool shown(const Value& record, bool show_system_jobs) {
  return show_system_jobs || record["Type"].read_int32() < kFirstSystemJobType;
}

}  // namespace

orv::PageMethods OrvaneRootListController::methods() {
  using Page = OrvaneRootListController;
  orv::MethodTable<Page> table;
  table.getter("getShowSys:", &Page::getShowSys)
      .setter("setShowSys:specifier:", &Page::setShowSys)
      .action("onRefresh", &Page::onRefresh)
      .action("onExport", &Page::onExport)
      .action("onImport", &Page::onImport);
  return std::move(table).build();
}

void OrvaneRootListController::init() {
  // Only weak references to the page: the timer stops once the host lets the page go.
  std::weak_ptr<ListController> page = weak_from_this();
  orv::Timer::scheduledTimerWithTimeInterval(
      kRefreshInterval, page,
      [page] {
        if (auto live = page.lock()) live->reloadSpecifiers();
      },
      true);
}

std::shared_ptr<SpecifierList> OrvaneRootListController::specifiers() {
  auto self = shared_from_this();
  auto rows = loadSpecifiersFromPlistName("Root", self);
  if (!rows) rows = std::make_shared<SpecifierList>();
  _specifiers = rows;
  parseLocalizationsForSpecifiers(*rows);

  const Value daemons = getAllDaemons();
  const bool show_system_jobs = getPref(kShowSystemKey, Value(false)).read_bool();
  const orv::Array* records = daemons.if_array();
  if (!records) return _specifiers;

  const StatusWords words;
  for (const Value& record : *records) {
    // Something that is not a record cannot be shown or opened: no row for it.
    if (!record.is_dictionary() || !shown(record, show_system_jobs)) continue;
    const Value& label = record["Label"];
    const std::string_view label_text = label.read_string().value_or("");
    std::optional<std::string> name;
    if (label.is_string()) name = label.as_string();

    auto row = Specifier::preferenceSpecifierNamed(
        std::move(name), self, "", "", std::string(kDetailPageClass), orv::PSLinkCell, "");
    row->setProperty(multiline_cell_class(), orv::PSCellClassKey);
    row->setProperty(Value(status_line(record, label_text, words)), "content");
    row->setProperty(Value(true), orv::PSEnabledKey);
    row->setProperty(label, orv::PSKeyNameKey);
    row->setProperty(record, "detail");
    rows->push_back(std::move(row));
  }
  return _specifiers;
}

// Group footers are resource texts the user reads as well, so they are translated alongside
// the labels; hosts show both as they find them.
void OrvaneRootListController::parseLocalizationsForSpecifiers(SpecifierList& specifiers) {
  for (const auto& specifier : specifiers) {
    const Value& label = specifier->propertyForKey(orv::PSTitleKey);
    if (label.is_string()) specifier->setName(localize(label.as_string()));
    const Value& footer = specifier->propertyForKey(orv::PSFooterTextGroupKey);
    if (footer.is_string()) specifier->setProperty(localize(footer), orv::PSFooterTextGroupKey);
  }
}

bool OrvaneRootListController::stopOne(const Value& record) {
  auto center = get_ipc();
  if (!center) return false;
  return send_start_one(*center, record, false);
}

void OrvaneRootListController::onRefresh() {
  reloadSpecifiers();
}

Value OrvaneRootListController::getShowSys(Specifier&) {
  return getPref(kShowSystemKey, Value(false));
}

void OrvaneRootListController::setShowSys(const Value& value, Specifier&) {
  setPref(kShowSystemKey, value);
  reloadSpecifiers();
}
