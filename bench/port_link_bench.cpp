// Port stream parser throughput on realistic and hostile streams, next to
// memcpy and memchr over the same bytes as in-run baselines.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "zelkolink.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kStreamBytes = 64 * 1024;

// Upload frames of one kind back to back: kind 0 is 24 bytes a frame, kind 1
// 70 bytes and kind 2 100 bytes.
Bytes frame_stream(uint8_t kind) {
  const size_t payload = kind == 0 ? 19 : kind == 1 ? 65 : 95;
  std::mt19937 rng(kind);
  Bytes stream;
  while (stream.size() + payload + 5 <= kStreamBytes) {
    stream.insert(stream.end(), {0xFA, 0xA5, static_cast<uint8_t>(payload), 0, kind});
    for (size_t k = 1; k < payload; ++k) stream.push_back(static_cast<uint8_t>(rng()));
    stream.push_back(0x5F);
  }
  return stream;
}

// Random bytes; with dense_starts, one byte in eight is a stray 0xFA.
Bytes noise_stream(bool dense_starts) {
  std::mt19937 rng(99);
  Bytes stream(kStreamBytes);
  for (uint8_t& b : stream) {
    do b = static_cast<uint8_t>(rng());
    while (b == 0xFA);
    if (dense_starts && rng() % 8 == 0) b = 0xFA;
  }
  return stream;
}

void drain() {
  const Bytes zeros(250, 0);
  parse_port_data(zeros.data(), 250, nullptr, nullptr);
  parse_port_data(zeros.data(), 250, nullptr, nullptr);
}

void feed(benchmark::State& state, const Bytes& stream, size_t chunk) {
  InputValues inputs{};
  ChannelValues channels{};
  drain();
  for (auto _ : state) {
    int frames = 0;
    for (size_t at = 0; at < stream.size(); at += chunk) {
      const size_t len = std::min(chunk, stream.size() - at);
      frames += parse_port_data(stream.data() + at, static_cast<uint8_t>(len), &inputs, &channels);
    }
    benchmark::DoNotOptimize(frames);
    benchmark::DoNotOptimize(inputs);
    benchmark::DoNotOptimize(channels);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.size()));
}

void BM_ParseKind2Frames(benchmark::State& state) {
  static const Bytes stream = frame_stream(2);
  feed(state, stream, static_cast<size_t>(state.range(0)));
}
BENCHMARK(BM_ParseKind2Frames)->Arg(255)->Arg(17)->ArgName("chunk");

void BM_ParseKind1Frames(benchmark::State& state) {
  static const Bytes stream = frame_stream(1);
  feed(state, stream, static_cast<size_t>(state.range(0)));
}
BENCHMARK(BM_ParseKind1Frames)->Arg(255)->ArgName("chunk");

void BM_ParseKind0Frames(benchmark::State& state) {
  static const Bytes stream = frame_stream(0);
  feed(state, stream, static_cast<size_t>(state.range(0)));
}
BENCHMARK(BM_ParseKind0Frames)->Arg(255)->ArgName("chunk");

void BM_ParseNoise(benchmark::State& state) {
  static const Bytes stream = noise_stream(false);
  feed(state, stream, 255);
}
BENCHMARK(BM_ParseNoise);

void BM_ParseNoiseDenseWithStartBytes(benchmark::State& state) {
  static const Bytes stream = noise_stream(true);
  feed(state, stream, 255);
}
BENCHMARK(BM_ParseNoiseDenseWithStartBytes);

// Baselines over the same 64 KiB. The copy's source and destination sit in
// one block at a fixed distance: the C library's large copies are many times
// slower on some processors when the two happen to alias within a page, and
// the heap would otherwise decide that afresh on every run.
struct CopyPair {
  Bytes block = Bytes(2 * kStreamBytes + 4096);
  uint8_t* source() { return block.data(); }
  uint8_t* destination() { return block.data() + kStreamBytes + 2048; }
};

CopyPair& copy_pair() {
  static CopyPair pair = [] {
    CopyPair p;
    const Bytes stream = frame_stream(2);
    std::memcpy(p.source(), stream.data(), stream.size());
    return p;
  }();
  return pair;
}

void BM_BaselineMemcpy(benchmark::State& state) {
  CopyPair& pair = copy_pair();
  for (auto _ : state) {
    std::memcpy(pair.destination(), pair.source(), kStreamBytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kStreamBytes));
}
BENCHMARK(BM_BaselineMemcpy);

void BM_BaselineMemchr(benchmark::State& state) {
  static const Bytes stream = noise_stream(false);
  for (auto _ : state) {
    const void* hit = std::memchr(stream.data(), 0xFA, stream.size());
    benchmark::DoNotOptimize(hit);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.size()));
}
BENCHMARK(BM_BaselineMemchr);

// The same copy issued per chunk, as a caller's reads arrive: the least a
// parser that keeps the bytes must do.
void BM_BaselineMemcpyPerChunk(benchmark::State& state) {
  CopyPair& pair = copy_pair();
  const auto chunk = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    for (size_t at = 0; at < kStreamBytes; at += chunk) {
      std::memcpy(pair.destination() + at, pair.source() + at,
                  std::min<size_t>(chunk, kStreamBytes - at));
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kStreamBytes));
}
BENCHMARK(BM_BaselineMemcpyPerChunk)->Arg(255)->Arg(17)->ArgName("chunk");

// The same memchr issued per 255-byte chunk, as a caller's reads arrive.
void BM_BaselineMemchrPerChunk(benchmark::State& state) {
  static const Bytes stream = noise_stream(false);
  for (auto _ : state) {
    for (size_t at = 0; at < stream.size(); at += 255) {
      const void* hit =
          std::memchr(stream.data() + at, 0xFA, std::min<size_t>(255, stream.size() - at));
      benchmark::DoNotOptimize(hit);
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.size()));
}
BENCHMARK(BM_BaselineMemchrPerChunk);

}  // namespace
