// The output log's own work per added line, without a window: splitting and classifying, then
// wrapping for the entry's height and tokenising for drawing. Text is measured with fixed
// advances, so the figures leave out the font system (the window test prints the whole cost).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "app/shell/fixed_text_metrics.h"
#include "app/shell/log_line.h"
#include "app/shell/output_log.h"

namespace {

using namespace grainforge::app;

const std::vector<std::wstring>& SampleLines() {
  static const std::vector<std::wstring> lines = {
      L"Remesh: 1,234,567 triangles in 2.5 s (340 ms)",
      L"Saved /home/user/parts/a textured part.stl",
      L"Warning: 3 walls thinner than 0.8 mm; the thinnest is 0.42 mm at the handle",
      L"Error: file not found",
      L"  Checking: no problems found, open edges: 0, non-manifold edges: 0",
  };
  return lines;
}

void BM_AppendTenThousandLines(benchmark::State& state) {
  const FixedTextMetrics metrics(7, 15);
  const OutputListGeometry geometry{96, 900, 15};
  for (auto _ : state) {
    OutputLogModel model;
    for (int i = 0; i < 10000; ++i) {
      const auto inserted = model.Insert(SampleLines()[static_cast<std::size_t>(i) % 5], kLineClassify);
      for (std::size_t n = inserted.firstNew; n < model.Size(); ++n) {
        model.SetHeight(n, MeasureLogLineHeight(metrics, geometry, model.Entry(n).text));
      }
    }
    benchmark::DoNotOptimize(model.Size());
  }
  state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_AppendTenThousandLines)->Unit(benchmark::kMillisecond);

void BM_TokenizeForDrawing(benchmark::State& state) {
  std::size_t spans = 0;
  for (auto _ : state) {
    for (const std::wstring& line : SampleLines()) spans += TokenizeLogLine(line).size();
  }
  benchmark::DoNotOptimize(spans);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(SampleLines().size()));
}
BENCHMARK(BM_TokenizeForDrawing);

}  // namespace
