#include "platform/fs/media_files.h"

namespace orv {

std::optional<std::string> media_file_path(std::string_view name) {
  std::string_view rest = name;
  while (true) {
    const std::size_t slash = rest.find('/');
    if (rest.substr(0, slash) == "..") return std::nullopt;
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  return std::string(kMediaDirectory) + std::string(name);
}

std::string result_text(std::string_view outcome, std::string_view detail) {
  std::string text(outcome);
  text += ':';
  text += detail;
  return text;
}

bool result_names_file(std::string_view text, std::string_view path) {
  return text.ends_with(result_text("", path));
}

}  // namespace orv
