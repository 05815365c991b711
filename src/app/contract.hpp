#pragma once

#include <string>

namespace relaydash {

// What the web application knows of the server, written from the server's own tables: the
// version, every procedure and who may call it, every error code and its message, and the
// limits and times the page shows or keeps to. The build writes it as the page's
// lib/contract.js, so server and page never disagree.
std::string contractModule();

}  // namespace relaydash
