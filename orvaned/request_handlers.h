// The three messages of the control service on the messaging center:
//   "listAll"  -> {"data": [daemon record, ...]}
//   "startOne" {"Label", "isStart", "flag"} -> {"status": n}, n < 0 on failure
//   "export"   {"path", "data"} -> {"status": n}, n < 0 on failure
// and one of its own:
//   "log"      {"Label", "lines", "after"} -> {"status": n, "entries": [...], "cursor": string}
#pragma once

#include "orvaned/job_backend.h"
#include "platform/ipc/messaging_center.h"

namespace orv::service {

enum class StartOneStatus : int { MissingLabel = -1 };

Value handle_list_all(const JobBackend& backend);
Value handle_start_one(JobBackend& backend, const Value& request);
Value handle_export(const Value& request);
// The last "lines" entries (default and upper bound in LogQuery) of the job's log, oldest first,
// only those after the cursor "after" when it is one of the log's; values of the wrong kind
// read as absent, lines below 1 as the default and above the bound as the bound.
Value handle_log(const JobBackend& backend, const Value& request);

// Registers the handlers, which may run at once for different clients (each is
// thread-safe); the backend must outlive the server.
void register_request_handlers(MessagingCenterServer& server, JobBackend& backend);

}  // namespace orv::service
