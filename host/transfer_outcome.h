// How an export or import ended, read from the dialogs its page showed on the command line: the
// page asks for a file name, then reports its result in an alert that names the file only when
// the transfer succeeded. Pages that found nothing to do show no prompt at all.
#pragma once

#include <string_view>
#include <vector>

#include "host/cli_presenter.h"

namespace orv::host {

enum class TransferOutcome { NothingDone, Succeeded, Failed };

// The outcome for the file the user named `name`, from the dialogs shown in order.
TransferOutcome transfer_outcome(const std::vector<CommandLinePresenter::Shown>& shown,
                                 std::string_view name);

}  // namespace orv::host
