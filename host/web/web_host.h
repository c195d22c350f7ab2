// `orvane web`: the pages served to a browser. The pages live on the main thread, driven by
// its run loop as in the terminal UI (the list rebuilds itself every 10 seconds); the HTTP
// server's threads hand each request to it and wait for the outcome, for a bounded time.
#pragma once

#include <cstdio>
#include <string>

#include "host/bundle_loader.h"

namespace orv::host {

// Serves until SIGINT or SIGTERM; `listen` is "HOST:PORT" or empty for the default. The first
// line on `out` is the address to open, token included. Returns the exit status.
int run_web_host(const LoadedBundle& bundle, const std::string& listen, std::FILE* out,
                 std::FILE* err);

}  // namespace orv::host
