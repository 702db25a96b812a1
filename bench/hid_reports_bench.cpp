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

}  // namespace
