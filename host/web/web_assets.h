// The web page's own files (HTML, script, style), compiled into the host from host/web/assets.
// They are the only files the web host ever serves.
#pragma once

#include <span>
#include <string_view>

namespace orv::host::web {

struct WebAsset {
  std::string_view path;  // "/index.html"
  std::string_view type;  // the Content-Type
  std::string_view body;
};

std::span<const WebAsset> web_assets();

}  // namespace orv::host::web
