// Reads what jobs write on their standard output and error: one thread waits on every job's
// pipes at once and cuts what comes into lines for the job's log store, and also appends the
// bytes as they came to the job's own log file when it names one. A line is at most
// kMaxLineBytes of the store (a longer one, or one that never ends, is cut into pieces), is
// escaped before it is stored, and a job that floods is slowed by its full pipe, never
// buffered without bound.
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "orvaned/log_store.h"
#include "platform/fs/file_descriptor.h"

namespace orv::service {

class OutputCapture {
 public:
  OutputCapture();
  ~OutputCapture();
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;

  // Reads the pipe until every writer closed it. `copy`, when valid, is a file the bytes are
  // appended to. The store must outlive this capture.
  void watch(FileDescriptor pipe, LogStore& store, LogStream stream, FileDescriptor copy);
  // Reads at once whatever the store's pipes hold now, so that lines a job wrote before it
  // exited are stored before the line about its exit.
  void drain(const LogStore& store);

 private:
  struct Source {
    FileDescriptor pipe;
    LogStore* store;
    LogStream stream;
    FileDescriptor copy;
    std::string partial;  // the bytes of a line not ended yet
  };
  enum class Read { More, Empty, Ended };

  void run();
  Read read_once(Source& source);
  void take(Source& source, std::string_view bytes);
  void copy_out(Source& source, std::string_view bytes);
  void close_source(int fd);

  FileDescriptor epoll_;
  FileDescriptor wake_;
  std::mutex mutex_;
  std::map<int, Source> sources_;  // by pipe descriptor
  std::thread thread_;
};

}  // namespace orv::service
