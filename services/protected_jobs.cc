#include "services/protected_jobs.h"

#include <array>

namespace {

constexpr std::array<std::string_view, 2> kProtectedJobs = {"com.apple.SpringBoard",
                                                            "com.apple.backboardd"};
constexpr std::string_view kSystemJobMarker = "com.apple";

}  // namespace

bool is_protected_job(std::string_view label) {
  for (std::string_view job : kProtectedJobs)
    if (label == job) return true;
  return false;
}

bool is_system_job(std::string_view label) {
  return label.find(kSystemJobMarker) != std::string_view::npos;
}
