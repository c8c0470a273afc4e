// Prints decoding speed of stored entries next to liblzma decoding the same
// LZMA body alone (measured in the same run), and the ratio of the two.
#include <benchmark/benchmark.h>
#include <lzma.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "codec/LzmaCodec.h"
#include "codec/StoredEntry.h"
#include "codec/Tea.h"

#include "GameContent.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Content(size_t size) { return udra::bench::GameContent(size); }

struct Fixture {
  Bytes content = Content(16 << 20);
  Bytes stream;  // LZMA86
  Bytes entry;   // stored form
  udra::LzmaCodec codec = udra::LzmaCodec::Bind(UDRA_STAGE_DIR);

  Fixture() {
    if (codec.encode == nullptr) {
      std::fprintf(stderr, "LZMA.DLL not found in %s\n", UDRA_STAGE_DIR);
      std::exit(1);
    }
    stream.resize(content.size() + content.size() / 8 + 4096);
    size_t len = stream.size();
    if (codec.encode(stream.data(), &len, content.data(), content.size(), 5, 0, 0) != 0)
      std::exit(1);
    stream.resize(len);
    entry = udra::BuildStoredEntry(udra::EntryKey(), stream.data(), stream.size(), 7);
  }
};

Fixture& Data() {
  static Fixture f;
  return f;
}

void BM_DecodeEntry(benchmark::State& state) {
  Fixture& f = Data();
  for (auto _ : state) {
    char* out = nullptr;
    int32_t size = int32_t(f.content.size());
    if (!udra::DecodeEntry(f.codec, f.entry.data(), uint32_t(f.entry.size()), &out, &size)) {
      state.SkipWithError("decode failed");
      break;
    }
    benchmark::DoNotOptimize(out);
    delete[] out;
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.content.size()));
}

// Baseline: liblzma's raw LZMA1 decoder on the body alone, into a buffer of
// the same size, with no deciphering and no module in between.
void BM_LiblzmaBodyAlone(benchmark::State& state) {
  Fixture& f = Data();
  const uint8_t* props = f.stream.data() + 1;
  lzma_options_lzma opt;
  lzma_lzma_preset(&opt, 0);
  unsigned d = props[0];
  opt.lc = d % 9;
  d /= 9;
  opt.lp = d % 5;
  opt.pb = d / 5;
  opt.dict_size = std::max<uint32_t>(
      LZMA_DICT_SIZE_MIN,
      std::min<uint64_t>(f.content.size(), uint32_t(props[1]) | props[2] << 8 | props[3] << 16 |
                                               uint32_t(props[4]) << 24));
  opt.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
  opt.ext_size_low = uint32_t(f.content.size());
  opt.ext_size_high = 0;
  lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
  for (auto _ : state) {
    std::unique_ptr<uint8_t[]> out(new uint8_t[f.content.size()]);
    lzma_stream s = LZMA_STREAM_INIT;
    if (lzma_raw_decoder(&s, filters) != LZMA_OK) {
      state.SkipWithError("liblzma init failed");
      break;
    }
    s.next_in = f.stream.data() + 14;
    s.avail_in = f.stream.size() - 14;
    s.next_out = out.get();
    s.avail_out = f.content.size();
    lzma_ret ret;
    do {
      ret = lzma_code(&s, LZMA_FINISH);
    } while (ret == LZMA_OK && s.avail_out != 0);
    lzma_end(&s);
    if (ret != LZMA_STREAM_END && ret != LZMA_OK) {
      state.SkipWithError("liblzma failed");
      break;
    }
    benchmark::DoNotOptimize(out.get());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.content.size()));
}

void BM_Decipher(benchmark::State& state) {
  Fixture& f = Data();
  Bytes plain(f.entry.size());
  for (auto _ : state) {
    udra::TeaCbcDecrypt(udra::EntryKey(), f.entry.data(), plain.data(), f.entry.size() / 8);
    benchmark::DoNotOptimize(plain.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.entry.size()));
}

// Baseline: one block at a time, each chained to the previous ciphertext.
void BM_DecipherBlockAtATime(benchmark::State& state) {
  Fixture& f = Data();
  Bytes plain(f.entry.size());
  for (auto _ : state) {
    uint8_t prev[8] = {0};
    for (size_t at = 0; at < f.entry.size(); at += 8) {
      uint8_t* block = plain.data() + at;
      std::memcpy(block, f.entry.data() + at, 8);
      udra::TeaDecryptBlock(udra::EntryKey(), block);
      for (int i = 0; i < 8; ++i) block[i] ^= prev[i];
      std::memcpy(prev, f.entry.data() + at, 8);
    }
    benchmark::DoNotOptimize(plain.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.entry.size()));
}

BENCHMARK(BM_DecodeEntry)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LiblzmaBodyAlone)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Decipher)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_DecipherBlockAtATime)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Keeps each benchmark's throughput for the summary.
class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const auto it = run.counters.find("bytes_per_second");
      if (it != run.counters.end()) rates[run.benchmark_name()] = it->second.value;
    }
  }
  std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Fixture& f = Data();
  std::printf("content %zu bytes, LZMA86 %zu bytes, stored entry %zu bytes\n", f.content.size(),
              f.stream.size(), f.entry.size());
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  auto rate = [&](const char* name) {
    for (const auto& [key, value] : collector.rates) {
      if (key.rfind(name, 0) == 0) return value;
    }
    return 0.0;
  };
  const double decode = rate("BM_DecodeEntry"), baseline = rate("BM_LiblzmaBodyAlone");
  const double decipher = rate("BM_Decipher/"), single = rate("BM_DecipherBlockAtATime");
  std::printf("\nDecodeEntry         %8.1f MB/s (decoded bytes)\n", decode / 1e6);
  std::printf("liblzma body alone  %8.1f MB/s (baseline)\n", baseline / 1e6);
  if (baseline > 0) std::printf("ratio               %8.3f (aim >= 0.95)\n", decode / baseline);
  std::printf("decipher            %8.1f MB/s (stored bytes)\n", decipher / 1e6);
  std::printf("block at a time     %8.1f MB/s (baseline)\n", single / 1e6);
  if (single > 0) std::printf("speed-up            %8.2fx\n", decipher / single);
  benchmark::Shutdown();
  return 0;
}
