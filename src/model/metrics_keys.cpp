#include "model/metrics_keys.hpp"

namespace relaydash {

bool MetricsKeys::accepts(std::string_view /*key*/) {
  return false;
}

}  // namespace relaydash
