// The open page and an open dialog as the JSON the web page draws from. The rows are the
// terminal UI's own row views, so what a page shows follows the same rules in both.
#pragma once

#include <string>

#include "host/browser.h"
#include "host/dialog_box.h"
#include "host/job_log.h"
#include "host/web/web_state.h"
#include "platform/ui/user_notification.h"

namespace orv::host::web {

// The page as JSON, its rows apart: the head is {"lang", "titles", "depth", "message",
// "freshness", "texts": {...}, "log": {"label", "title"}} ("log" only on a job's page), or
// {"error"} for a page that cannot be written; each row is [kind, id, title, detail, flags,
// footer?]. A row's flags: 1 enabled, 2 on, 4 has a switch, 8 running, 16 is a job with a state.
PageJson page_json(const Browser& browser);

// The label of the job whose page is on top (the page with the job's "Alive" switch), or "".
std::string log_label(const Browser& browser);

// {"label", "cursor", "note", "entries": [{"time", "stream", "text"}]}: the job's entries after
// the cursor the page sent, or, with no entries, a note that says why (the service keeps no log
// for the job, or does not answer).
std::string log_json(const std::string& label, const tl::expected<LogPage, LogFailure>& fetched);

// {"role", "header", "message", "buttons", "focus", "field"}: focus is the index of the
// button that has it, or -1 for the text field; field is the field's title, or null.
std::string dialog_json(const DialogRequest& request, const DialogBox& box);

}  // namespace orv::host::web
