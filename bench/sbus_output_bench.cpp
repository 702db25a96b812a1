// Cost of one SBUS conversion and one frame encode, next to a 25-byte copy.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstring>

#include "zelkolink.h"

namespace {

std::array<uint16_t, 16> sample_channels() {
  std::array<uint16_t, 16> channels{};
  for (size_t k = 0; k < channels.size(); ++k) channels[k] = static_cast<uint16_t>(172 + 101 * k);
  return channels;
}

void BM_ConvertStdSbus(benchmark::State& state) {
  std::array<uint16_t, 16> standard = sample_channels();
  std::array<uint16_t, 16> sbus{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(standard);
    convert_std_sbus_data(sbus.data(), standard.data());
    benchmark::DoNotOptimize(sbus);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ConvertStdSbus);

void BM_EncodeSbusV1(benchmark::State& state) {
  std::array<uint16_t, 16> channels = sample_channels();
  SbusFrame frame{0x0F};
  for (auto _ : state) {
    benchmark::DoNotOptimize(channels);
    encode_sbus_data_v1(frame, channels.data());
    benchmark::DoNotOptimize(frame);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EncodeSbusV1);

void BM_EncodeSbusV2(benchmark::State& state) {
  std::array<uint16_t, 16> channels = sample_channels();
  SbusFrame frame{0x0F};
  for (auto _ : state) {
    benchmark::DoNotOptimize(channels);
    encode_sbus_data_v2(frame, channels.data());
    benchmark::DoNotOptimize(frame);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EncodeSbusV2);

void BM_BaselineFrameCopy(benchmark::State& state) {
  SbusFrame source{0x0F, 1, 2, 3};
  SbusFrame frame{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(source);
    std::memcpy(frame, source, sizeof frame);
    benchmark::DoNotOptimize(frame);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BaselineFrameCopy);

}  // namespace
