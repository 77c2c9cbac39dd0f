// STL reading and writing on the closed 1M-triangle sphere: parse and encode throughput in
// bytes per second, the whole import and the whole export with read-back per call, and a
// plain memcpy of the binary file's bytes as the floor the binary parser is measured against.
#include "bench/bench_meshes.h"
#include "engine/files/stl_reader.h"
#include "engine/files/stl_writer.h"
#include "platform/file_system.h"
#include "platform/random_source.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>

namespace grainforge::mesh {
namespace {

const TriangleMesh& Sphere()
{
    static const TriangleMesh mesh = bench::MakeSphere1M();
    return mesh;
}

const std::vector<std::uint8_t>& SphereBinary()
{
    static const std::vector<std::uint8_t> bytes = EncodeBinaryStl(Sphere(), "Tessary");
    return bytes;
}

const std::string& SphereAscii()
{
    static const std::string text = FormatAsciiStl(Sphere(), "sphere");
    return text;
}

std::span<const std::uint8_t> AsBytes(const std::string& text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A file in the temporary folder, removed when the program ends.
class ScratchFile {
public:
    ScratchFile()
        : path_(std::filesystem::temp_directory_path() /
                ("tessary-stl-bench-" + std::to_string(platform::RandomU32()) + ".stl")) {}
    ~ScratchFile() { platform::RemoveFileQuietly(path_); }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

const std::filesystem::path& SphereBinaryFile()
{
    static const ScratchFile file;
    static const bool written = [] {
        StlWriteOptions options;
        options.readBack = false;
        if (!WriteStlFile(file.Path(), Sphere(), options).ok)
            throw std::runtime_error("could not write the benchmark's STL file");
        return true;
    }();
    (void)written;
    return file.Path();
}

void SetTriangleRate(benchmark::State& state)
{
    state.counters["triangles/s"] = benchmark::Counter(
        static_cast<double>(Sphere().TriangleCount()) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate);
}

void BM_StlMemcpyBinaryBytes(benchmark::State& state)
{
    const std::vector<std::uint8_t>& bytes = SphereBinary();
    std::vector<std::uint8_t> copy(bytes.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), bytes.data(), bytes.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_StlMemcpyBinaryBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same copy into freshly allocated memory, paying for the first touch of every page as
// the parser does.
void BM_StlMemcpyIntoNewBuffer(benchmark::State& state)
{
    const std::vector<std::uint8_t>& bytes = SphereBinary();
    for (auto _ : state) {
        const std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[bytes.size()]);
        std::memcpy(copy.get(), bytes.data(), bytes.size());
        benchmark::DoNotOptimize(copy.get());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_StlMemcpyIntoNewBuffer)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StlParseBinary(benchmark::State& state)
{
    const std::vector<std::uint8_t>& bytes = SphereBinary();
    for (auto _ : state) {
        std::vector<Vec3> corners;  // a fresh list each time, as an import allocates one
        std::uint64_t count = 0;
        std::string error;
        if (!ParseBinaryStl(bytes, corners, count, error))
            state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(corners.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
    SetTriangleRate(state);
}
BENCHMARK(BM_StlParseBinary)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StlParseAscii(benchmark::State& state)
{
    const std::string& text = SphereAscii();
    for (auto _ : state) {
        std::vector<Vec3> corners;
        std::uint64_t count = 0;
        std::string error;
        if (!ParseAsciiStl(AsBytes(text), corners, count, error))
            state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(corners.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    SetTriangleRate(state);
}
BENCHMARK(BM_StlParseAscii)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole import of bytes already in memory: parse, weld, clean, measure, report.
void BM_StlParseStlBinaryImport(benchmark::State& state)
{
    const std::vector<std::uint8_t>& bytes = SphereBinary();
    for (auto _ : state) {
        const StlReadResult result = ParseStl(bytes, "sphere.stl", StlReadOptions{});
        if (!result.ok || result.report.trianglesKept != Sphere().TriangleCount())
            state.SkipWithError("import changed the sphere");
    }
    SetTriangleRate(state);
}
BENCHMARK(BM_StlParseStlBinaryImport)->Unit(benchmark::kMillisecond)->UseRealTime();

// The document's import of the ~50 MB file: read, parse, weld, clean, measure, report.
void BM_StlReadStlFileBinary(benchmark::State& state)
{
    const std::filesystem::path& path = SphereBinaryFile();
    for (auto _ : state) {
        const StlReadResult result = ReadStlFile(path, StlReadOptions{});
        if (!result.ok || result.report.openBoundaryEdges != 0)
            state.SkipWithError("import failed or left the sphere open");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * SphereBinary().size()));
    SetTriangleRate(state);
}
BENCHMARK(BM_StlReadStlFileBinary)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StlEncodeBinary(benchmark::State& state)
{
    std::size_t size = 0;
    for (auto _ : state) {
        const std::vector<std::uint8_t> bytes = EncodeBinaryStl(Sphere(), "Tessary");
        size = bytes.size();
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
    SetTriangleRate(state);
}
BENCHMARK(BM_StlEncodeBinary)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StlFormatAscii(benchmark::State& state)
{
    std::size_t size = 0;
    for (auto _ : state) {
        const std::string text = FormatAsciiStl(Sphere(), "sphere");
        size = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
    SetTriangleRate(state);
}
BENCHMARK(BM_StlFormatAscii)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole durable binary save with the read-back and comparison.
void BM_StlWriteStlFileWithReadBack(benchmark::State& state)
{
    const ScratchFile file;
    for (auto _ : state) {
        const ExportResult result = WriteStlFile(file.Path(), Sphere(), StlWriteOptions{});
        if (!result.ok || !result.report.roundTrip.unchanged)
            state.SkipWithError("write failed or changed the sphere");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * SphereBinary().size()));
    SetTriangleRate(state);
}
BENCHMARK(BM_StlWriteStlFileWithReadBack)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace grainforge::mesh
