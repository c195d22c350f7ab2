#include "host/transfer_outcome.h"

#include "platform/fs/media_files.h"

namespace orv::host {

TransferOutcome transfer_outcome(const std::vector<CommandLinePresenter::Shown>& shown,
                                 std::string_view name) {
  const std::optional<std::string> path = media_file_path(name);
  bool prompted = false;
  TransferOutcome outcome = TransferOutcome::NothingDone;
  for (const auto& dialog : shown) {
    if (dialog.prompt) prompted = true;
    if (!prompted || dialog.prompt || dialog.confirmation) continue;
    outcome = path && result_names_file(dialog.header, *path) ? TransferOutcome::Succeeded
                                                              : TransferOutcome::Failed;
  }
  return outcome;
}

}  // namespace orv::host
