// Export and import of the user policy table. Export hands the table to the control service,
// which writes the file; import reads the file here and stops every listed job it marks as
// stopped. Both report their outcome in one alert.
#include <functional>
#include <optional>
#include <string>

#include "list/root_list_controller.h"
#include "platform/fs/media_files.h"
#include "platform/plist/plist_file.h"
#include "services/control_service.h"
#include "services/dialogs.h"
#include "services/localization.h"
#include "services/protected_jobs.h"
#include "services/settings.h"

using orv::Value;

namespace {

void show_result(const std::string& text) {
  alert("", text, kAlertTimeout, false, nullptr);
}

// The prompt hands over the typed text, or null for an absent field; both empty and absent
// mean "nothing to do", so the callers see a plain string.
void ask_for_file_name(const std::function<void(const std::string&)>& then) {
  prompt("", localize("$INPUTNAME"), "",
         [&then](const Value& text) { then(std::string(text.read_string().value_or(""))); });
}

void export_table(const Value& table, const std::string& name) {
  if (name.empty()) return;
  const std::optional<std::string> path = orv::media_file_path(name);
  if (!path) return show_result(localize("$EXPERR"));
  auto center = get_ipc();
  if (!center) return;
  if (send_export(*center, *path, table))
    show_result(orv::result_text(localize("$EXPSUC"), *path));
  else
    show_result(localize("$EXPERR"));
}

// Only an explicit false or zero asks for a stop: a value of another kind (a string, a
// dictionary) is not read as "stopped", so an odd file never stops a job by accident.
bool marks_stopped(const Value& value) {
  return value.is_number() && !value.read_bool();
}

const Value* first_record_labelled(const Value& daemons, std::string_view label) {
  const orv::Array* records = daemons.if_array();
  if (!records) return nullptr;
  for (const Value& record : *records)
    if (record["Label"].read_string() == label) return &record;
  return nullptr;
}

}  // namespace

void OrvaneRootListController::onExport() {
  const Value table = getPref(kUserPolicyKey, Value(orv::Dictionary{}));
  const orv::Dictionary* entries = table.if_dictionary();
  if (!entries || entries->empty()) return;
  ask_for_file_name([table](const std::string& name) { export_table(table, name); });
}

void OrvaneRootListController::onImport() {
  alert("", localize("$STOPSYS"), kAlertTimeout, true, [this](bool confirmed) {
    if (!confirmed) return;
    ask_for_file_name([this](const std::string& name) { import_policies(name); });
  });
}

void OrvaneRootListController::import_policies(const std::string& name) {
  if (name.empty()) return;
  const std::string failure = orv::result_text(localize("$IMPERR"), localize("$NOEXIST"));
  const std::optional<std::string> path = orv::media_file_path(name);
  if (!path) return show_result(failure);
  const Value file = orv::dictionary_with_contents_of_file(*path);
  const orv::Dictionary* policies = file.if_dictionary();
  if (!policies || policies->empty()) return show_result(failure);

  const Value daemons = getAllDaemons();
  for (const auto& [label, choice] : *policies) {
    // The protected jobs stay up whatever a file says, as they do on the job page.
    if (!marks_stopped(choice) || is_protected_job(label)) continue;
    if (const Value* record = first_record_labelled(daemons, label)) stopOne(*record);
  }
  show_result(orv::result_text(localize("$IMPSUC"), *path));
}
