// The systemd backend: the .service units of a systemd manager, reached over D-Bus. It loads
// the manager's units once at start and again after each reload, keeps them current from the
// manager's signals, and answers listings from that cache. Starts and stops are the manager's
// jobs, waited for until they end; stops of protected units are refused.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "orvaned/job_backend.h"
#include "orvaned/journal_log.h"
#include "orvaned/systemd_bus.h"
#include "orvaned/systemd_protection.h"
#include "orvaned/systemd_unit_cache.h"
#include "platform/result.h"

namespace orv::service {

class SystemdBackend final : public JobBackend {
 public:
  struct Settings {
    std::string bus = "system";
    std::vector<std::string> protected_units;
    std::chrono::milliseconds job_timeout{25'000};
  };

  explicit SystemdBackend(Settings settings);
  // The loop thread ends before the state it works on goes.
  ~SystemdBackend() override { loop_.stop(); }
  // Connects and loads the units; returns once they are loaded, or with why that failed.
  Status start();
  // Readable once the connection to the manager is lost: the units can no longer be followed.
  int lost_fd() const { return lost_.get(); }

  Array records() const override { return cache_.records(); }
  JobStatus start_job(std::string_view label) override;
  JobStatus stop_job(std::string_view label) override;
  // The unit's entries in the journal of the manager's machine (or of its user).
  LogPage read_log(const LogQuery& query) const override;

 private:
  struct JobWait;
  struct LoadRound;

  JobStatus run_job(std::string_view label, bool start);
  JournalPlace journal_place() const;
  // On the bus thread.
  void begin(sd_bus* bus);
  void follow_manager(sd_bus* bus);
  void subscribe(sd_bus* bus);
  void find_own_unit(sd_bus* bus);
  void load(sd_bus* bus);
  void finish_load(sd_bus* bus, LoadRound& round);
  void fetch_properties(sd_bus* bus, const std::string& object_path, const char* interface);
  void send_fetches(sd_bus* bus);
  void enqueue_job(sd_bus* bus, const std::shared_ptr<JobWait>& wait, const std::string& name,
                   bool start);
  void on_job_removed(sd_bus_message* signal);
  void on_unit_new(sd_bus* bus, sd_bus_message* signal);
  void on_unit_removed(sd_bus_message* signal);
  void on_properties_changed(sd_bus* bus, sd_bus_message* signal);
  void note_fetch_done();
  void on_lost();

  Settings settings_;
  StopProtection protection_;
  UnitCache cache_;
  BusLoop loop_;
  FileDescriptor lost_;

  // Bus thread only.
  // By job object path; the manager gives a second start of a unit the job of the first.
  std::multimap<std::string, std::shared_ptr<JobWait>> jobs_;
  std::uint64_t load_generation_ = 0;
  struct Fetch {
    std::string object_path;
    const char* interface;
  };
  std::deque<Fetch> fetch_queue_;
  std::size_t fetches_in_flight_ = 0;
  bool sending_ = false;
  // Units read after they had left the cache: the read loaded them again in the manager.
  std::set<std::string> loaded_by_reading_;
  bool listed_ = false;  // the first load's lists have arrived

  std::mutex load_mutex_;
  std::condition_variable loaded_;
  bool load_done_ = false;
  std::optional<std::string> load_failure_;
};

}  // namespace orv::service
