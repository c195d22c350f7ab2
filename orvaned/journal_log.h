// A systemd unit's log, read from the journal: the entries its processes wrote and those the
// manager wrote about it, matched by unit name as a system or as a user manager records them.
// Entries come as the job directories' log gives them: the last lines, oldest first, only those
// after a cursor when one is given, each cut to kMaxLineBytes and escaped, all of them within
// kMaxPageTextBytes so a reply fits in one message.
#pragma once

#include <filesystem>
#include <string_view>

#include "orvaned/job_backend.h"
#include "platform/result.h"

namespace orv::service {

struct JournalPlace {
  enum class Kind { System, User, Directory };
  Kind kind = Kind::System;
  std::filesystem::path directory;  // for Kind::Directory: the journal files in it
  // How the unit is recorded: for a user manager's units (the current user's journal, or a
  // directory of one) by the user unit fields.
  bool user_units = false;
};

// The status of the page is Ok; a journal that cannot be opened or read is an error. A cursor
// that is not one of the journal's reads as no cursor.
Result<LogPage> read_journal(std::string_view unit, const LogQuery& query,
                             const JournalPlace& place);

}  // namespace orv::service
