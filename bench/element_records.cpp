// Throughput of the record writer on element-list records: each record holds
// four (row, column, value) triples under (4(2I3,F12.6)), one write statement
// of twelve items per record, written to a formatted unit on a file.
//
// KORVEN_BENCH_RECORDS sets the records of one pass (default one million),
// KORVEN_BENCH_FILE the file written (default element_records.korven.out in
// the working directory), KORVEN_BENCH_PASSES fixes the passes timed (by
// default Google Benchmark chooses).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "records/record_io.h"
#include "records/units.h"

namespace {

constexpr std::string_view kLayout = "(4(2I3,F12.6))";
constexpr int kTriplesPerRecord = 4;

long env_number(const char* name, long fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  const long n = std::strtol(text, &end, 10);
  return (end != nullptr && *end == '\0' && n > 0) ? n : fallback;
}

std::string env_text(const char* name, const char* fallback) {
  const char* text = std::getenv(name);
  return (text == nullptr || *text == '\0') ? std::string(fallback) : std::string(text);
}

// The triples of a run, made before the timing starts; the Fortran baseline
// makes the same ones the same way. Triple j (from 0) is row 1 + 37j mod 999,
// column 1 + (101j + 13) mod 999, value 2.5 sin(j + 1).
struct Triples {
  std::vector<std::int32_t> row, column;
  std::vector<float> value;

  explicit Triples(std::size_t count) : row(count), column(count), value(count) {
    for (std::size_t j = 0; j < count; ++j) {
      row[j] = static_cast<std::int32_t>(1 + (j * 37) % 999);
      column[j] = static_cast<std::int32_t>(1 + (j * 101 + 13) % 999);
      value[j] = std::sin(static_cast<float>(j + 1)) * 2.5f;
    }
  }
};

void write_element_records(benchmark::State& state, std::size_t records, const std::string& path) {
  const Triples t(records * kTriplesPerRecord);
  std::istringstream in;
  std::ostringstream out, err;
  korven::Units units(korven::ConsoleStreams{in, out, err, false});

  std::uintmax_t bytes = 0;
  for (auto _ : state) {
    units.open_unit(7, path, "UNKNOWN");
    korven::Unit& unit = units.unit(7);
    std::size_t j = 0;
    for (std::size_t r = 0; r < records; ++r, j += kTriplesPerRecord) {
      korven::WriteStatement s(unit, kLayout);
      for (int k = 0; k < kTriplesPerRecord; ++k) {
        s.write_integer(t.row[j + k]).write_integer(t.column[j + k]).write_real(t.value[j + k]);
      }
      s.end_write();
    }
    units.close_unit(7);
    state.PauseTiming();
    bytes += std::filesystem::file_size(path);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(records));
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  state.counters["records"] = static_cast<double>(records);
  state.counters["bytes_per_record"] =
      static_cast<double>(bytes) / (static_cast<double>(state.iterations()) * static_cast<double>(records));
}

}  // namespace

int main(int argc, char** argv) {
  const auto records = static_cast<std::size_t>(env_number("KORVEN_BENCH_RECORDS", 1000000));
  const std::string path = env_text("KORVEN_BENCH_FILE", "element_records.korven.out");
  const long passes = env_number("KORVEN_BENCH_PASSES", 0);

  auto* b = benchmark::RegisterBenchmark(
      ("element_records/" + std::to_string(records)).c_str(),
      [records, path](benchmark::State& state) { write_element_records(state, records, path); });
  b->Unit(benchmark::kMillisecond)->UseRealTime();
  if (passes > 0) b->Iterations(passes);

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
