#include "host/web/page_model.h"

#include "host/host_texts.h"
#include "host/page_selectors.h"
#include "platform/json/json.h"
#include "platform/prefs/locale.h"

namespace orv::host::web {

namespace {

// The web page's own words, in the pages' language.
constexpr const char* kPageTexts[][2] = {
    {"filter", "Filter"},
    {"back", "Back"},
    {"running", "running"},
    {"stopped", "stopped"},
    {"busy", "Busy: answer the open dialog first"},
    {"offline", "The connection to orvane was lost; trying again…"},
    {"no_match", "No rows match the filter."},
    {"log_empty", "(no log lines yet)"},
};

const char* kind_name(RowKind kind) {
  switch (kind) {
    case RowKind::Group:
      return "group";
    case RowKind::Switch:
      return "switch";
    case RowKind::Button:
      return "button";
    case RowKind::Link:
      return "link";
    case RowKind::Text:
      break;
  }
  return "text";
}

// A row as [kind, id, title, detail, flags, footer]: a list of thousands of rows goes out at
// each rebuild, and names repeated in every row would make up nearly half of it.
constexpr std::int64_t kEnabled = 1, kOn = 2, kHasOn = 4, kRunning = 8, kHasRunning = 16;

Value row_value(const RowView& row) {
  std::int64_t flags = row.enabled ? kEnabled : 0;
  if (row.switch_on) flags |= kHasOn | (*row.switch_on ? kOn : 0);
  if (row.running) flags |= kHasRunning | (*row.running ? kRunning : 0);
  Array out{Value(kind_name(row.kind)), Value(row.identity), Value(row.title), Value(row.detail),
            Value(flags)};
  if (!row.footer.empty()) out.push_back(Value(row.footer));
  return Value(std::move(out));
}

Value texts() {
  Dictionary out;
  for (const auto& [key, english] : kPageTexts)
    out.set(key, Value(tr(english)));
  return Value(std::move(out));
}

// Text from outside (labels, file names) that is not valid UTF-8 cannot go into JSON; the
// page says so rather than showing nothing.
constexpr const char* kNotUtf8 = R"({"error":"the page holds text that is not valid UTF-8"})";

std::string json_or_error(const Value& value) {
  if (auto text = write_json(value)) return *text;
  return kNotUtf8;
}

}  // namespace

PageJson page_json(const Browser& browser) {
  Array titles;
  for (auto& title : browser.titles())
    titles.push_back(Value(title));
  Dictionary head{{"lang", Value(NSLocale::currentLocale().languageCode() == "zh" ? "zh" : "en")},
                  {"depth", Value(static_cast<std::int64_t>(browser.depth()))},
                  {"titles", Value(std::move(titles))},
                  {"message", Value(browser.message())},
                  {"freshness", Value(browser.freshness())},
                  {"texts", texts()}};
  if (std::string label = log_label(browser); !label.empty())
    head.set("log", Value(Dictionary{{"label", Value(label)},
                                     {"title", Value(tr_format("Log of {}", {label}))}}));
  PageJson page{json_or_error(Value(std::move(head))), {}};
  page.rows.reserve(browser.rows().size());
  for (const auto& row : browser.rows()) {
    auto text = write_json(row_value(row));
    if (!text) return {kNotUtf8, {}};
    page.rows.push_back(std::move(*text));
  }
  return page;
}

std::string dialog_json(const DialogRequest& request, const DialogBox& box) {
  Array buttons;
  for (const auto& title : box.buttons())
    buttons.push_back(Value(title));
  Dictionary dialog{
      {"role", Value(box.has_field() ? "dialog" : "alertdialog")},
      {"header", Value(request.header)},
      {"message", Value(request.message)},
      {"buttons", Value(std::move(buttons))},
      {"focus", Value(box.focus())},
      {"field", box.has_field() ? Value(request.text_field_titles.front()) : Value()}};
  return json_or_error(Value(std::move(dialog)));
}

std::string log_label(const Browser& browser) {
  if (browser.depth() < 2) return {};
  for (const auto& row : browser.rows())
    if (row.specifier && row.specifier->setter() == kAliveSetter) return browser.titles().back();
  return {};
}

std::string log_json(const std::string& label, const tl::expected<LogPage, LogFailure>& fetched) {
  std::string note;
  if (!fetched && fetched.error().trouble == LogTrouble::NoAnswer)
    note = tr_format("The control service does not answer ({}); trying again",
                     {fetched.error().words});
  else if (!fetched)
    note = tr(fetched.error().trouble == LogTrouble::UnknownLabel ? "no such job"
                                                                  : "no log is kept for this job");
  Dictionary head{{"label", Value(label)},
                  {"cursor", Value(fetched ? fetched->cursor : std::string())},
                  {"note", Value(note)}};
  std::string json = json_or_error(Value(std::move(head)));
  if (!json.ends_with('}')) return json;
  // Each entry is written as `orvane logs --json` writes it, with the host's local time.
  json.back() = ',';
  json += "\"entries\":[";
  for (const auto& line : fetched ? fetched->lines : std::vector<LogLine>{}) {
    if (json.back() != '[') json += ',';
    json += log_line_json(line);
  }
  return json + "]}";
}

}  // namespace orv::host::web
