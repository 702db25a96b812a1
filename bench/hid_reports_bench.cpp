// Cost of one HID report decode.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

#include "zelkolink.h"

namespace {

void BM_GameControllerReport(benchmark::State& state) {
  std::array<uint8_t, ZELKOLINK_GAME_CONTROLLER_REPORT_SIZE> report{};
  for (size_t k = 0; k < report.size(); ++k) report[k] = static_cast<uint8_t>(17 * k + 3);
  GameControllerState decoded{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(report);
    benchmark::DoNotOptimize(parse_hid_game_controller_device(&decoded, report.data(), 19));
    benchmark::DoNotOptimize(decoded);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GameControllerReport);

void BM_CompatibleReport(benchmark::State& state) {
  std::array<uint8_t, ZELKOLINK_COMPATIBLE_REPORT_SIZE> report{};
  for (size_t k = 0; k < report.size(); ++k) report[k] = static_cast<uint8_t>(13 * k + 1);
  report[0] = 0xFA;
  InputValues decoded{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(report);
    benchmark::DoNotOptimize(parse_hid_compatible_device(&decoded, report.data(), 23));
    benchmark::DoNotOptimize(decoded);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CompatibleReport);

// The floor under every per-call figure: a call into the library that does
// nothing (parse_port_data returns at once for an empty chunk).
void BM_BaselineEmptyCall(benchmark::State& state) {
  const uint8_t byte = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(parse_port_data(&byte, 0, nullptr, nullptr));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BaselineEmptyCall);

}  // namespace
