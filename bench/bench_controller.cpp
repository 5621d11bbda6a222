// The controller's own cost per 64-byte chunk round (ACK assembled and
// judged, next chunk read and written) through the in-memory port, with the
// simulated module answering at once on virtual time.
#include <benchmark/benchmark.h>

#include <fstream>
#include <string>
#include <vector>

#include "protocol/programming_controller.h"
#include "sim/memory_port.h"
#include "sim/module_simulator.h"
#include "sim/virtual_host.h"

namespace {

void BM_ChunkRound(benchmark::State& state) {
  using namespace vexel;
  const size_t length = static_cast<size_t>(state.range(0));
  const std::string path = "/tmp/vexel-bench-image.mbf";
  {
    std::vector<char> bytes(length, 0x5A);
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
  }
  sim::VirtualClock clock;
  sim::ModuleSimulator module;
  sim::MemoryPort port(module, clock);
  SnapshotImageFile image;
  sim::VirtualHost host(clock);
  ProgrammingController controller(port, image, host);
  host.Attach(&controller);
  controller.ToggleConnection();
  clock.AdvanceBy(kConnectWindowMs);

  const size_t chunks = (length + kChunkSize - 1) / kChunkSize;
  for (auto _ : state) {
    controller.StartRun(path);
    while (controller.IsRunning() && clock.RunNext()) {
    }
    state.PauseTiming();
    host.ClearEvents();
    state.ResumeTiming();
  }
  if (host.Status() != text::kModuleLoaded) state.SkipWithError("run did not load the module");
  state.counters["per_chunk"] = benchmark::Counter(
      static_cast<double>(state.iterations() * chunks),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * length));
  std::remove(path.c_str());
}
BENCHMARK(BM_ChunkRound)->Arg(64 * 1024)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
