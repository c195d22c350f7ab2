// The HTTP side of the web host: the page's own files, its state as JSON, a stream of state
// changes (Server-Sent Events), the three things the page asks for (act on a row, go back,
// answer a dialog), and the open job's log. Every request passes the guard before anything else
// sees it. Requests are served on the server's own threads; the handlers given here take them to
// the page thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "host/web/web_security.h"
#include "host/web/web_state.h"
#include "platform/value/value.h"

namespace orv::host::web {

struct Reply {
  int status = 200;
  std::string json;
};

// Each is called on an HTTP thread with the request's JSON object.
struct PageRequests {
  std::function<Reply(const Value&)> act;
  std::function<Reply(const Value&)> back;
  std::function<Reply(const Value&)> answer;
  // The open job's log entries after a cursor ("": the last ones); may wait for the service.
  std::function<Reply(const std::string&)> log;
};

class WebServer {
 public:
  WebServer(WebState& state, PageRequests requests);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Binds the address (port 0: a free one); the address as bound.
  Result<ListenAddress> bind(const ListenAddress& address);
  // Serves on the bound address until stop().
  void serve(RequestGuard guard);
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace orv::host::web
