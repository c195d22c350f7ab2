#include "orvaned/systemd_unit_cache.h"

namespace orv::service {

void UnitCache::set_default_user(std::string user) {
  std::lock_guard lock(mutex_);
  default_user_ = std::move(user);
  for (auto& [name, entry] : units_)
    refresh_locked(entry);
}

void UnitCache::replace(const std::vector<ListedUnit>& units) {
  std::lock_guard lock(mutex_);
  std::map<std::string, Entry, std::less<>> kept;
  names_by_path_.clear();
  for (const ListedUnit& listed : units) {
    auto old = units_.find(listed.name);
    Entry entry = old != units_.end() ? std::move(old->second) : Entry{};
    entry.state.name = listed.name;
    entry.state.object_path = listed.object_path;
    entry.state.file_path = listed.file_path;
    if (!listed.unit_file_state.empty()) entry.state.unit_file_state = listed.unit_file_state;
    refresh_locked(entry);
    names_by_path_[listed.object_path] = listed.name;
    kept.insert_or_assign(listed.name, std::move(entry));
  }
  units_ = std::move(kept);
}

bool UnitCache::add(const std::string& name, const std::string& object_path) {
  std::lock_guard lock(mutex_);
  auto [it, added] = units_.try_emplace(name);
  it->second.state.name = name;
  it->second.state.object_path = object_path;
  names_by_path_[object_path] = name;
  refresh_locked(it->second);
  return added;
}

void UnitCache::unloaded(const std::string& name) {
  std::lock_guard lock(mutex_);
  auto it = units_.find(name);
  if (it == units_.end()) return;
  if (it->second.state.file_path.empty()) {
    names_by_path_.erase(it->second.state.object_path);
    units_.erase(it);
    return;
  }
  it->second.state.active_state = "inactive";
  it->second.state.main_pid = 0;
  refresh_locked(it->second);
}

UnitCache::Entry* UnitCache::find_path_locked(const std::string& object_path) {
  auto name = names_by_path_.find(object_path);
  if (name == names_by_path_.end()) return nullptr;
  auto entry = units_.find(name->second);
  return entry == units_.end() ? nullptr : &entry->second;
}

bool UnitCache::update(const std::string& object_path,
                       const std::function<void(UnitState&)>& change) {
  std::lock_guard lock(mutex_);
  Entry* entry = find_path_locked(object_path);
  if (!entry) return false;
  change(entry->state);
  refresh_locked(*entry);
  return true;
}

Array UnitCache::records() const {
  std::lock_guard lock(mutex_);
  Array out;
  out.reserve(units_.size());
  for (const auto& [name, entry] : units_)
    out.push_back(entry.record);
  return out;
}

std::optional<UnitState> UnitCache::find(std::string_view name) const {
  std::lock_guard lock(mutex_);
  auto it = units_.find(name);
  if (it == units_.end()) return std::nullopt;
  return it->second.state;
}

}  // namespace orv::service
