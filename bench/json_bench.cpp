// Parse and write speed of the json library on the shapes that could turn quadratic: a very
// wide object, a long array of numbers, and the forwarder's configuration file.

#include <benchmark/benchmark.h>

#include <string>

#include "json/parser.hpp"
#include "json/writer.hpp"

namespace relaydash {
namespace {

std::string wideObject(int members) {
  std::string text = "{";
  for (int i = 0; i < members; ++i) {
    if (i) text += ',';
    text += "\"member" + std::to_string(i) + "\":" + std::to_string(i);
  }
  return text + "}";
}

std::string numberArray(int count) {
  std::string text = "[";
  for (int i = 0; i < count; ++i) {
    if (i) text += ',';
    text += i % 2 ? std::to_string(i) : std::to_string(i) + ".25";
  }
  return text + "]";
}

const char kForwarderConfig[] = R"({
  "SX1301_conf": {
    "lorawan_public": true, "clksrc": 1, "antenna_gain": 0, /* dBi */
    "radio_0": {"enable": true, "type": "SX1257", "freq": 867500000, "rssi_offset": -166.0},
    "radio_1": {"enable": true, "type": "SX1257", "freq": 868500000, "rssi_offset": -166.0},
    "chan_multiSF_0": {"enable": true, "radio": 1, "if": -400000},
    "chan_multiSF_1": {"enable": true, "radio": 1, "if": -200000},
    "tx_lut_0": {"pa_gain": 0, "mix_gain": 8, "rf_power": -6, "dig_gain": 0}
  },
  "gateway_conf": {"gateway_ID": "AA555A0000000000", "server_address": "localhost",
                   "serv_port_up": 1680, "serv_port_down": 1680, "keepalive_interval": 10}
})";

void parse(benchmark::State& state, const std::string& text) {
  for (auto _ : state)
    benchmark::DoNotOptimize(parseJson(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void writeCompactInto(benchmark::State& state, const std::string& text) {
  JsonNodePtr value = parseJson(text);
  std::string out;
  for (auto _ : state) {
    out.clear();
    writeCompact(out, *value);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * out.size()));
}

void writePrettyInto(benchmark::State& state, const std::string& text) {
  JsonNodePtr value = parseJson(text);
  std::string out;
  for (auto _ : state) {
    out.clear();
    writePretty(out, *value);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * out.size()));
}

void BM_LookupInWideObject(benchmark::State& state) {
  JsonNodePtr value = parseJson(wideObject(100'000));
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(value->at("member" + std::to_string(i)));
    i = (i + 7919) % 100'000;
  }
}

const std::string kWideObject = wideObject(100'000);
const std::string kNumberArray = numberArray(1'000'000);
const std::string kConfig = kForwarderConfig;

BENCHMARK_CAPTURE(parse, object_100k_members, kWideObject)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(parse, array_1m_numbers, kNumberArray)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(parse, forwarder_config, kConfig)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(writeCompactInto, object_100k_members, kWideObject)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(writeCompactInto, array_1m_numbers, kNumberArray)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(writeCompactInto, forwarder_config, kConfig)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(writePrettyInto, object_100k_members, kWideObject)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(writePrettyInto, array_1m_numbers, kNumberArray)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(writePrettyInto, forwarder_config, kConfig)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LookupInWideObject);

}  // namespace
}  // namespace relaydash
