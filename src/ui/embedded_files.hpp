#pragma once

#include <array>
#include <span>
#include <string_view>

// The operator's web application as data: every file under assets/ui, embedded at build time.
// Nothing here knows HTTP; start-up hands the table to the handler that serves it.
namespace relaydash {

// One file of the embedded web application.
struct EmbeddedFile {
  std::string_view path;  // relative to the application's folder, "/" between directories
  std::string_view mimeType;
  std::string_view content;
};

// The web application, sorted by path. Lives as long as the program.
extern const std::span<const EmbeddedFile> uiFiles;

namespace detail {

struct MimeRow {
  std::string_view extension;
  std::string_view type;
};

inline constexpr std::array kMimeTypes = {
    MimeRow{".json", "application/json"},
    MimeRow{".txt", "text/plain"},
    MimeRow{".html", "text/html"},
    MimeRow{".js", "application/javascript"},
    MimeRow{".css", "text/css"},
    MimeRow{".jpg", "image/jpeg"},
    MimeRow{".png", "image/png"},
    MimeRow{".svg", "image/svg+xml"},
    MimeRow{".ico", "image/x-icon"},
    MimeRow{".woff2", "font/woff2"},
    MimeRow{".webmanifest", "application/manifest+json"},
};

}  // namespace detail

// The Content-Type for a file name, by its extension; the table's rows are typed with it when
// the program is built.
constexpr std::string_view mimeTypeFor(std::string_view path) noexcept {
  for (const detail::MimeRow& row : detail::kMimeTypes) {
    if (path.ends_with(row.extension)) return row.type;
  }
  return "application/octet-stream";
}

}  // namespace relaydash
