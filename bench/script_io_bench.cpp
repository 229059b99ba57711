#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "base/messages.h"
#include "bench_script.h"
#include "script/script.h"
#include "script/ssa_reader.h"
#include "script/ssa_writer.h"

namespace {
using tessara::bench::make_bench_script;

using namespace tessara;

void BM_ReadScript(benchmark::State& state) {
    const int events = static_cast<int>(state.range(0));
    const std::string bytes = make_bench_script(events);
    base::SilentMessages messages;
    script::ReadOptions options;
    for (auto _ : state) {
        script::Script s;
        bool ok = script::read_script_bytes(s, bytes, u"bench.ssa", options, messages);
        benchmark::DoNotOptimize(ok);
        if (!ok || s.events().size() != static_cast<size_t>(events)) {
            state.SkipWithError("the generated script did not load");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * events);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_ReadScript)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {
using tessara::bench::make_bench_script;

void BM_SaveScript(benchmark::State& state) {
    const int events = static_cast<int>(state.range(0));
    const std::string bytes = make_bench_script(events);
    base::SilentMessages messages;
    script::Script s;
    if (!script::read_script_bytes(s, bytes, u"bench.ssa", script::ReadOptions{}, messages)) {
        state.SkipWithError("the generated script did not load");
        return;
    }
    for (auto _ : state) {
        auto saved = script::serialize_script(s, messages);
        benchmark::DoNotOptimize(saved);
    }
    state.SetItemsProcessed(state.iterations() * events);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_SaveScript)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
