#include "transport/status.hpp"

#include <algorithm>
#include <array>
#include <charconv>

namespace relaydash {
namespace {

struct StatusRow {
  int code;
  std::string_view text;
};

constexpr std::array kStatusTable = {
    StatusRow{100, "100 Continue"},
    StatusRow{101, "101 Switching Protocols"},
    StatusRow{200, "200 OK"},
    StatusRow{201, "201 Created"},
    StatusRow{202, "202 Accepted"},
    StatusRow{203, "203 Non-Authoritative Information"},
    StatusRow{204, "204 No Content"},
    StatusRow{205, "205 Reset Content"},
    StatusRow{206, "206 Partial Content"},
    StatusRow{300, "300 Multiple Choices"},
    StatusRow{301, "301 Moved Permanently"},
    StatusRow{302, "302 Found"},
    StatusRow{303, "303 See Other"},
    StatusRow{304, "304 Not Modified"},
    StatusRow{305, "305 Use Proxy"},
    StatusRow{307, "307 Temporary Redirect"},
    StatusRow{308, "308 Permanent Redirect"},
    StatusRow{400, "400 Bad Request"},
    StatusRow{401, "401 Unauthorized"},
    StatusRow{403, "403 Forbidden"},
    StatusRow{404, "404 Not Found"},
    StatusRow{405, "405 Method Not Allowed"},
    StatusRow{406, "406 Not Acceptable"},
    StatusRow{407, "407 Proxy Authentication Required"},
    StatusRow{408, "408 Request Timeout"},
    StatusRow{409, "409 Conflict"},
    StatusRow{410, "410 Gone"},
    StatusRow{411, "411 Length Required"},
    StatusRow{412, "412 Precondition Failed"},
    StatusRow{413, "413 Request Entity Too Large"},
    StatusRow{414, "414 Request-URI Too Long"},
    StatusRow{415, "415 Unsupported Media Type"},
    StatusRow{416, "416 Requested Range Not Satisfiable"},
    StatusRow{417, "417 Expectation Failed"},
    StatusRow{418, "418 I'm a teapot"},
    StatusRow{421, "421 Misdirected Request"},
    StatusRow{422, "422 Unprocessable Entity"},
    StatusRow{426, "426 Upgrade Required"},
    StatusRow{428, "428 Precondition Required"},
    StatusRow{429, "429 Too Many Requests"},
    StatusRow{431, "431 Request Header Fields Too Large"},
    StatusRow{451, "451 Unavailable For Legal Reasons"},
    StatusRow{500, "500 Internal Server Error"},
    StatusRow{501, "501 Not Implemented"},
    StatusRow{502, "502 Bad Gateway"},
    StatusRow{503, "503 Service Unavailable"},
    StatusRow{504, "504 Gateway Timeout"},
    StatusRow{505, "505 HTTP Version Not Supported"},
};

constexpr bool wellFormed() {
  for (std::size_t i = 0; i < kStatusTable.size(); ++i) {
    if (i > 0 && kStatusTable[i - 1].code >= kStatusTable[i].code) return false;
    const auto& t = kStatusTable[i].text;
    if (t.size() < 5 || t[3] != ' ') return false;
    if ((t[0] - '0') * 100 + (t[1] - '0') * 10 + (t[2] - '0') != kStatusTable[i].code) return false;
  }
  return true;
}
static_assert(wellFormed(), "the status table is sorted and each text starts with its code");

}  // namespace

std::string_view statusText(int code) noexcept {
  const auto row = std::lower_bound(kStatusTable.begin(), kStatusTable.end(), code,
                                    [](const StatusRow& r, int c) { return r.code < c; });
  if (row == kStatusTable.end() || row->code != code) return {};
  return row->text;
}

void appendStatusText(std::string& out, int code) {
  if (const std::string_view text = statusText(code); !text.empty()) {
    out.append(text);
    return;
  }
  char digits[16];
  const auto end = std::to_chars(digits, digits + sizeof digits, code).ptr;
  out.append(digits, end);
}

}  // namespace relaydash
