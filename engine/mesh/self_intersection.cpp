#include "engine/mesh/self_intersection.h"

#include "engine/mesh/exact_predicates.h"
#include "engine/mesh/fnv_hash.h"
#include "engine/mesh/hash_partition.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/vertex_pieces.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>
#include <utility>

namespace grainforge::mesh {
namespace {

constexpr int kLevels = 8;
constexpr int kCoarsestLevel = kLevels - 1;
// A triangle is filed at the first level where its box covers at most this many cells.
constexpr std::uint64_t kMaxCellsPerTriangle = 64;
constexpr float kMinimumBaseSize = 1e-6f;
// Focus: flagged triangles covering at most this many cells at level 1 mark the cells around
// them; unflagged ones covering more than kFocusAlwaysActive cells are always searched.
constexpr std::uint64_t kFocusMaxFlaggedCells = 4096;
constexpr std::uint64_t kFocusAlwaysActive = 512;
constexpr int kFocusLevel = 1;
// Unflagged triangles are sorted out only when they are at least this share of the finite ones.
// Leaving one active changes no result (its pairs still need a flagged member), while marking
// round every flagged triangle costs a sort of some 27 cells each: under a relief, where
// nearly every triangle moves, that sort took most of the crossing guard's search.
constexpr double kFocusSortOutShare = 0.5;
// Cell coordinates are clamped to this magnitude, so that spans and neighbours stay within
// 64 bits for any coordinate. Clamping keeps the cell map monotone, so overlapping boxes still
// share their owner cell.
constexpr double kMaxCellCoordinate = 2305843009213693952.0;  // 2^61


// Entries per task of the same-level pass (whole buckets, so about this many).
constexpr std::size_t kEntryGrain = 4096;
// Entries ahead of the gather whose triangle's candidate is fetched early.
constexpr std::size_t kPrefetchDistance = 24;
// Pair numbers: far from the limit a task counts its exact tests itself and adds them to the
// shared counter in batches of this many; one shared increment per test stalls every core on
// one cache line. Within kExactHeadroom of the limit every test takes its own number, as does
// any search whose limit is below it, so small limits are exact. A batch can let at most
// kPairBatch tests per running task pass the limit before the stop is seen; whether the search
// stops (more candidate pairs than the limit) is decided exactly either way.
constexpr std::uint64_t kPairBatch = 256;
constexpr std::uint64_t kExactHeadroom = std::uint64_t{1} << 20;
constexpr std::size_t kTriangleGrain = 1024;
constexpr std::size_t kMaxSearchedTriangles = std::size_t{1} << 31;

// Storage for the search's per-triangle and per-entry arrays, left unwritten when allocated:
// the parallel loops that fill them write every element before any is read, and zeroing tens
// of megabytes first would take one thread as long as a pass. The element types are
// aggregates of numbers, so the storage holds them as soon as it is allocated.
template <class T>
class FilledArray {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
    void Allocate(std::size_t size)
    {
        data_.reset(size == 0 ? nullptr : static_cast<T*>(::operator new(size * sizeof(T), std::align_val_t{alignof(T)})));
        size_ = size;
    }
    // Keeps the first `size` elements (never more than there are).
    void Shrink(std::size_t size) { size_ = std::min(size, size_); }
    T* data() { return data_.get(); }
    const T* data() const { return data_.get(); }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }

private:
    struct Free {
        void operator()(T* p) const { ::operator delete(p, std::align_val_t{alignof(T)}); }
    };
    std::unique_ptr<T[], Free> data_;
    std::size_t size_ = 0;
};

struct TriangleRecord {
    std::array<Vec3, 3> corners;
    Vec3 boxMin;
    Vec3 boxMax;
};

struct CellCoordinates {
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::int64_t z = 0;
    friend bool operator==(const CellCoordinates&, const CellCoordinates&) = default;
};

struct CellRange {
    CellCoordinates lo;
    CellCoordinates hi;
};

// One filing of a triangle in a cell; a level's entries sorted by (key, triangle) are its
// cell lists, each a run of one key.
struct CellEntry {
    std::uint64_t key = 0;
    std::uint32_t triangle = 0;
};


std::uint64_t CellKey(int level, CellCoordinates cell)
{
    std::uint64_t hash = kFnvOffsetBasis ^ static_cast<std::uint64_t>(level);
    for (std::int64_t coordinate : {cell.x, cell.y, cell.z}) {
        hash ^= static_cast<std::uint64_t>(coordinate);
        hash *= kFnvPrime;
    }
    return hash;
}

// Cells are bucketed by blocks of 2^kBlockShift cells a side, so that the lists of one
// bucket hold triangles from one small region: their candidates are gathered from nearby
// memory when the mesh numbers its triangles coherently, as most meshes do.
constexpr int kBlockShift = 3;

std::size_t BucketOfCell(int level, CellCoordinates cell, unsigned bits)
{
    const std::uint64_t block = CellKey(level, {cell.x >> kBlockShift, cell.y >> kBlockShift, cell.z >> kBlockShift});
    return detail::BucketOfHash(detail::Mix64(block), bits);
}

std::int64_t CellOf(float coordinate, float size)
{
    const double cell = std::floor(static_cast<double>(coordinate) / static_cast<double>(size));
    if (!(cell > -kMaxCellCoordinate))  // NaN lands here as well
        return static_cast<std::int64_t>(-kMaxCellCoordinate);
    if (cell > kMaxCellCoordinate)
        return static_cast<std::int64_t>(kMaxCellCoordinate);
    return static_cast<std::int64_t>(cell);
}

CellCoordinates CellOfPoint(Vec3 p, float size)
{
    return {CellOf(p.x, size), CellOf(p.y, size), CellOf(p.z, size)};
}

CellRange RangeOf(Vec3 boxMin, Vec3 boxMax, float size)
{
    return {CellOfPoint(boxMin, size), CellOfPoint(boxMax, size)};
}

std::uint64_t SaturatingMultiply(std::uint64_t a, std::uint64_t b)
{
    std::uint64_t product = 0;
    if (__builtin_mul_overflow(a, b, &product))
        return std::numeric_limits<std::uint64_t>::max();
    return product;
}

std::uint64_t CellCount(const CellRange& range)
{
    const auto span = [](std::int64_t lo, std::int64_t hi) { return static_cast<std::uint64_t>(hi - lo) + 1; };
    return SaturatingMultiply(
        SaturatingMultiply(span(range.lo.x, range.hi.x), span(range.lo.y, range.hi.y)), span(range.lo.z, range.hi.z));
}

template <class Visit>
void ForEachCell(const CellRange& range, Visit&& visit)
{
    for (std::int64_t x = range.lo.x; x <= range.hi.x; ++x)
        for (std::int64_t y = range.lo.y; y <= range.hi.y; ++y)
            for (std::int64_t z = range.lo.z; z <= range.hi.z; ++z)
                visit(CellCoordinates{x, y, z});
}

Vec3 Min(Vec3 a, Vec3 b) { return {std::min(a.x, b.x), std::min(a.y, b.y), std::min(a.z, b.z)}; }
Vec3 Max(Vec3 a, Vec3 b) { return {std::max(a.x, b.x), std::max(a.y, b.y), std::max(a.z, b.z)}; }

// Stable by key, for entries that arrive in triangle order, leaving them in (key, triangle)
// order.
void InsertionSortByKey(CellEntry* begin, CellEntry* end)
{
    for (CellEntry* i = begin + 1; i < end; ++i) {
        const CellEntry entry = *i;
        CellEntry* j = i;
        for (; j > begin && (j - 1)->key > entry.key; --j)
            *j = *(j - 1);
        *j = entry;
    }
}

// Groups one bucket's entries (in triangle order) into cell lists: a stable counting pass on
// the low eight key bits, which differ between neighbouring cells (the high ones mostly do
// not), then an insertion sort by (key, triangle) of each small run it leaves (a run of equal
// keys, one cell's list, is already in order). Lists come out in no particular order.
void SortBucket(CellEntry* begin, CellEntry* end, std::vector<CellEntry>& scratch)
{
    const auto n = static_cast<std::size_t>(end - begin);
    constexpr std::size_t kSmall = 48;
    if (n <= kSmall) {
        InsertionSortByKey(begin, end);
        return;
    }
    std::array<std::size_t, 257> offsets{};
    for (const CellEntry* e = begin; e < end; ++e)
        ++offsets[(e->key & 255) + 1];
    for (std::size_t d = 0; d < 256; ++d)
        offsets[d + 1] += offsets[d];
    scratch.resize(n);
    std::array<std::size_t, 256> cursor;
    std::copy(offsets.begin(), offsets.begin() + 256, cursor.begin());
    for (const CellEntry* e = begin; e < end; ++e)
        scratch[cursor[e->key & 255]++] = *e;
    for (std::size_t d = 0; d < 256; ++d) {
        CellEntry* runBegin = scratch.data() + offsets[d];
        CellEntry* runEnd = scratch.data() + offsets[d + 1];
        const auto less = [](const CellEntry& a, const CellEntry& b) {
            return a.key != b.key ? a.key < b.key : a.triangle < b.triangle;
        };
        // A long run is mostly one crowded cell's list, already in order.
        if (runEnd - runBegin <= static_cast<std::ptrdiff_t>(kSmall))
            InsertionSortByKey(runBegin, runEnd);
        else if (!std::is_sorted(runBegin, runEnd, less))
            std::sort(runBegin, runEnd, less);
    }
    std::copy(scratch.begin(), scratch.end(), begin);
}

// (Key, bucket) -> run of a level's entries, for the lookups of the cross-level pass: open
// addressing over the (mixed) keys, one slot per run at a load of at most a half. A key may
// have a run in more than one bucket (two cells whose keys collide), hence the bucket.
class CellIndex {
public:
    struct Run {
        std::size_t begin = 0;
        std::size_t end = 0;
    };

    void Build(const FilledArray<CellEntry>& entries, const std::vector<std::size_t>& starts)
    {
        std::size_t runs = 0;
        for (std::size_t i = 0; i < entries.size(); ++i)
            runs += (i == 0 || entries[i].key != entries[i - 1].key) ? 1 : 0;
        slots_.assign(std::bit_ceil(std::max<std::size_t>(2 * (runs + starts.size()), 16)), Slot{});
        mask_ = slots_.size() - 1;
        for (std::size_t b = 0; b + 1 < starts.size(); ++b) {
            std::size_t begin = starts[b];
            for (std::size_t i = begin + 1; i <= starts[b + 1]; ++i) {
                if (i < starts[b + 1] && entries[i].key == entries[begin].key)
                    continue;
                std::size_t slot = detail::Mix64(entries[begin].key) & mask_;
                while (slots_[slot].run.end != 0)
                    slot = (slot + 1) & mask_;
                slots_[slot] = {entries[begin].key, static_cast<std::uint32_t>(b), {begin, i}};
                begin = i;
            }
        }
    }

    // The run of `key` in `bucket`, empty when the level holds no such cell.
    Run Find(std::uint64_t key, std::size_t bucket) const
    {
        if (slots_.empty())
            return {};
        std::size_t slot = detail::Mix64(key) & mask_;
        while (slots_[slot].run.end != 0) {
            if (slots_[slot].key == key && slots_[slot].bucket == bucket)
                return slots_[slot].run;
            slot = (slot + 1) & mask_;
        }
        return {};
    }

private:
    struct Slot {
        std::uint64_t key = 0;
        std::uint32_t bucket = 0;
        Run run;  // end 0 marks an empty slot: every run ends after its first entry
    };
    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
};

// A triangle as the pair filters see it: its box, the first cell of its range at the level of
// the test, and its corner indices. One per triangle at its own level is built once, so a cell
// list's members are gathered from one cache line each. Triangle numbers stay below 2^31
// (three indices each must fit 32 bits), which leaves a bit for the focus flag.
struct alignas(64) Candidate {
    Vec3 boxMin;
    Vec3 boxMax;
    CellCoordinates low;
    std::array<std::uint32_t, 3> corners{};
    std::uint32_t triangle : 31 = 0;
    std::uint32_t flagged : 1 = 0;
};
static_assert(sizeof(Candidate) == 64);

// Without branches: most pairs of a cell list fail on some axis, in no predictable order.
bool BoxesOverlap(const Candidate& a, const Candidate& b)
{
    return !((a.boxMin.x > b.boxMax.x) | (b.boxMin.x > a.boxMax.x) | (a.boxMin.y > b.boxMax.y)
        | (b.boxMin.y > a.boxMax.y) | (a.boxMin.z > b.boxMax.z) | (b.boxMin.z > a.boxMax.z));
}

// What one task of a pass keeps to itself until it ends.
struct Task {
    std::vector<std::uint32_t> found;  // two triangles per intersecting pair
    std::uint64_t uncounted = 0;       // exact tests not yet added to the shared counter
};

// Consecutive buckets [begin, end) of a level, one task of the same-level pass.
struct BucketChunk {
    int level = 0;
    std::size_t begin = 0;
    std::size_t end = 0;
};

// Everything one search builds and shares between its tasks.
class Search {
public:
    Search(const TriangleMesh& mesh, std::span<const std::uint8_t> focus, std::uint64_t maximumPairs)
        : mesh_(mesh), triangleCount_(mesh.TriangleCount()), searched_(triangleCount_), maximumPairs_(maximumPairs)
    {
        if (focus.size() == triangleCount_)
            focus_ = focus;
        exactCounting_.store(maximumPairs_ < kExactHeadroom);
    }

    void Run(std::vector<std::uint32_t>& pairs)
    {
        pairs_ = &pairs;
        ListTrianglesNearFocus();
        BuildRecords();
        ComputeCellSizes();
        MarkActive();
        FileTriangles();
        RunSameLevelPass();
        RunCrossLevelPass();
    }

    bool Stopped() const { return stopped_.load() != 0; }
    // Pairs without a common vertex that reached the exact test; all of them once the search
    // ran to its end.
    std::uint64_t TestedPairs() const { return pairCounter_.load(); }

    // Whether the two triangles lie in one piece (joined through shared vertices).
    bool OnePiece(const Candidate& t, const Candidate& u);
    // Two triangles of separate pieces that meet with one resting on the outer side of the
    // other's plane: they touch without either passing into the other.
    bool IsContactBetweenBodies(const Candidate& t, const Candidate& u, const TriangleRecord& tr,
        const TriangleRecord& ur);

private:
    // The triangle at position i of the search: every triangle in turn, or the listed ones.
    std::uint32_t TriangleAt(std::size_t i) const
    {
        return listed_ ? near_[i] : static_cast<std::uint32_t>(i);
    }
    void ListTrianglesNearFocus();
    bool FiniteBoxOf(std::size_t t, Vec3& lo, Vec3& hi) const;
    std::vector<Vec3> FlaggedBoxes(Vec3& unionMin, Vec3& unionMax, float& size) const;
    std::vector<std::uint8_t> MarkTrianglesNear(const std::vector<std::uint64_t>& marked, Vec3 unionMin,
        Vec3 unionMax, float size) const;
    void BuildRecords();
    void ComputeCellSizes();
    void MarkActive();
    void MarkFocusActive();
    void FileTriangles();
    void RunSameLevelPass();
    void RunCrossLevelPass();
    void SortLevelEntries(int level, std::size_t count);
    // The pair test; `ownsPair` says whether a cell is the one in which the pair is tested.
    template <class OwnsPair>
    void TestPair(const Candidate& t, const Candidate& u, OwnsPair&& ownsPair, Task& task);
    // Counts one more pair for the exact test; false when the limit is passed (the search
    // then stops).
    bool TakePairNumber(Task& task);
    bool FlushPairCount(Task& task);
    // Ends a task: its count goes to the shared counter, its pairs to the shared list.
    void Finish(Task& task);

    const TriangleMesh& mesh_;
    const std::size_t triangleCount_;
    // With a narrow focus only the triangles that may meet a flagged one are searched: near_
    // lists them in ascending order, searched_ counts the positions either way.
    bool listed_ = false;
    std::vector<std::uint32_t> near_;
    std::size_t searched_ = 0;
    const std::uint64_t maximumPairs_;
    std::span<const std::uint8_t> focus_;
    FilledArray<TriangleRecord> records_;
    std::vector<std::uint8_t> finite_;
    std::vector<std::uint8_t> active_;
    std::vector<std::uint8_t> level_;
    FilledArray<Candidate> candidates_;  // each triangle at its own level
    std::array<float, kLevels> cellSize_{};
    std::array<FilledArray<CellEntry>, kLevels> entries_;
    // Per level, where each hash bucket's entries begin (and, last, the end): no cell list
    // spans two buckets.
    std::array<std::vector<std::size_t>, kLevels> bucketStarts_;
    std::array<CellIndex, kLevels> index_;
    std::atomic<std::uint64_t> pairCounter_{0};
    std::atomic<bool> exactCounting_{false};
    std::atomic<std::uint8_t> stopped_{0};
    std::mutex pairsMutex_;
    std::vector<std::uint32_t>* pairs_ = nullptr;
    // The piece of every vertex, worked out once when a coplanar overlap first asks.
    std::once_flag piecesFound_;
    std::vector<std::uint32_t> pieceOfVertex_;
};

bool Search::OnePiece(const Candidate& t, const Candidate& u)
{
    std::call_once(piecesFound_, [this] { pieceOfVertex_ = LabelVertexPieces(mesh_); });
    return pieceOfVertex_[t.corners[0]] == pieceOfVertex_[u.corners[0]];
}

bool Search::IsContactBetweenBodies(const Candidate& t, const Candidate& u, const TriangleRecord& tr,
    const TriangleRecord& ur)
{
    return (RestsOnOuterSide(tr.corners, ur.corners) || RestsOnOuterSide(ur.corners, tr.corners)) && !OnePiece(t, u);
}

// The box of triangle `t`; false when a corner is not finite (such a triangle meets nothing).
bool Search::FiniteBoxOf(std::size_t t, Vec3& lo, Vec3& hi) const
{
    const std::uint32_t* corners = mesh_.indices.data() + 3 * t;
    const Vec3 a = mesh_.vertices[corners[0]].position;
    const Vec3 b = mesh_.vertices[corners[1]].position;
    const Vec3 c = mesh_.vertices[corners[2]].position;
    if (!IsFinite(a) || !IsFinite(b) || !IsFinite(c))
        return false;
    lo = Min(Min(a, b), c);
    hi = Max(Max(a, b), c);
    return true;
}

// The flagged triangles' boxes (finite ones only), the box round them all, and a cell size for
// marking round them: their mean largest side.
std::vector<Vec3> Search::FlaggedBoxes(Vec3& unionMin, Vec3& unionMax, float& size) const
{
    std::vector<Vec3> boxes;
    double sum = 0.0;
    for (std::size_t t = 0; t < triangleCount_; ++t) {
        if (focus_[t] == 0)
            continue;
        Vec3 lo{};
        Vec3 hi{};
        if (!FiniteBoxOf(t, lo, hi))
            continue;
        unionMin = boxes.empty() ? lo : Min(unionMin, lo);
        unionMax = boxes.empty() ? hi : Max(unionMax, hi);
        boxes.push_back(lo);
        boxes.push_back(hi);
        sum += std::max({static_cast<double>(hi.x) - lo.x, static_cast<double>(hi.y) - lo.y,
            static_cast<double>(hi.z) - lo.z});
    }
    const double mean = boxes.empty() ? 0.0 : sum / static_cast<double>(boxes.size() / 2);
    size = std::max(static_cast<float>(std::min(mean, static_cast<double>(std::numeric_limits<float>::max()))),
        kMinimumBaseSize);
    return boxes;
}

// A narrow focus (a guard's later rounds, a few hundred triangles of a large part) lists the
// triangles whose box may meet a flagged one's, so that records, filing and passes cost what
// lies near the focus rather than the whole mesh. A triangle is listed when it is flagged, or
// when its box meets the box round all flagged ones and shares a cell (at a size taken from
// the flagged ones) with the cells round some flagged one: boxes that overlap share a point,
// hence a cell. The pairs found are the same as without the list. A focus too wide to list
// leaves the whole mesh to be searched as before.
void Search::ListTrianglesNearFocus()
{
    if (focus_.empty())
        return;
    const auto flagged = static_cast<std::size_t>(
        std::count_if(focus_.begin(), focus_.end(), [](std::uint8_t f) { return f != 0; }));
    if (static_cast<double>(triangleCount_ - flagged) < kFocusSortOutShare * static_cast<double>(triangleCount_))
        return;
    Vec3 unionMin{};
    Vec3 unionMax{};
    float size = 0.0f;
    const std::vector<Vec3> boxes = FlaggedBoxes(unionMin, unionMax, size);
    std::vector<std::uint64_t> marked;
    for (std::size_t i = 0; i < boxes.size(); i += 2) {
        CellRange range = RangeOf(boxes[i], boxes[i + 1], size);
        if (CellCount(range) > kFocusMaxFlaggedCells)
            return;
        range.lo = {range.lo.x - 1, range.lo.y - 1, range.lo.z - 1};
        range.hi = {range.hi.x + 1, range.hi.y + 1, range.hi.z + 1};
        ForEachCell(range, [&](CellCoordinates cell) { marked.push_back(CellKey(kFocusLevel, cell)); });
    }
    std::sort(marked.begin(), marked.end());
    marked.erase(std::unique(marked.begin(), marked.end()), marked.end());
    const std::vector<std::uint8_t> near =
        boxes.empty() ? std::vector<std::uint8_t>{} : MarkTrianglesNear(marked, unionMin, unionMax, size);
    for (std::size_t t = 0; t < near.size(); ++t) {
        if (near[t] != 0)
            near_.push_back(static_cast<std::uint32_t>(t));
    }
    listed_ = true;
    searched_ = near_.size();
}

// One byte per triangle: finite and flagged, or with a box that may meet a flagged one's (in
// the box round them all, and with a cell among the `marked` ones or too many cells to look).
std::vector<std::uint8_t> Search::MarkTrianglesNear(const std::vector<std::uint64_t>& marked, Vec3 unionMin,
    Vec3 unionMax, float size) const
{
    std::vector<std::uint8_t> near(triangleCount_, 0);
    ParallelFor(triangleCount_, [&](std::size_t t) {
        Vec3 lo{};
        Vec3 hi{};
        if (!FiniteBoxOf(t, lo, hi))
            return;
        if (focus_[t] != 0) {
            near[t] = 1;
            return;
        }
        if (lo.x > unionMax.x || lo.y > unionMax.y || lo.z > unionMax.z || unionMin.x > hi.x
            || unionMin.y > hi.y || unionMin.z > hi.z)
            return;
        const CellRange range = RangeOf(lo, hi, size);
        bool meets = CellCount(range) > kFocusAlwaysActive;
        if (!meets) {
            ForEachCell(range, [&](CellCoordinates cell) {
                meets = meets || std::binary_search(marked.begin(), marked.end(), CellKey(kFocusLevel, cell));
            });
        }
        near[t] = meets ? 1 : 0;
    });
    return near;
}

void Search::BuildRecords()
{
    records_.Allocate(triangleCount_);
    finite_.resize(triangleCount_);
    ParallelFor(searched_, [&](std::size_t i) {
        const std::size_t t = TriangleAt(i);
        TriangleRecord& record = records_[t];
        for (int k = 0; k < 3; ++k)
            record.corners[k] = mesh_.vertices[mesh_.indices[3 * t + k]].position;
        record.boxMin = Min(Min(record.corners[0], record.corners[1]), record.corners[2]);
        record.boxMax = Max(Max(record.corners[0], record.corners[1]), record.corners[2]);
        finite_[t] = IsFinite(record.corners[0]) && IsFinite(record.corners[1]) && IsFinite(record.corners[2]);
    });
}

// Base size: the mean largest box side; level L cells are 8^L times larger. Sides are taken in
// double so that no finite box overflows; a triangle with a non-finite corner adds nothing
// (it would make every cell infinite).
void Search::ComputeCellSizes()
{
    double sum = 0.0;
    for (std::size_t i = 0; i < searched_; ++i) {
        const std::size_t t = TriangleAt(i);
        if (!finite_[t])
            continue;
        const TriangleRecord& r = records_[t];
        const double side = std::max({static_cast<double>(r.boxMax.x) - r.boxMin.x,
            static_cast<double>(r.boxMax.y) - r.boxMin.y, static_cast<double>(r.boxMax.z) - r.boxMin.z});
        sum += side;
    }
    const double mean = std::min(sum / static_cast<double>(std::max<std::size_t>(searched_, 1)),
        static_cast<double>(std::numeric_limits<float>::max()));
    float base = static_cast<float>(mean);
    if (base < kMinimumBaseSize)
        base = kMinimumBaseSize;
    for (int level = 0; level < kLevels; ++level)
        cellSize_[level] = static_cast<float>(std::uint64_t{1} << (3 * level)) * base;
}

void Search::MarkActive()
{
    active_.assign(finite_.begin(), finite_.end());
    if (!focus_.empty() && !listed_)
        MarkFocusActive();
}

void Search::MarkFocusActive()
{
    const float size = cellSize_[kFocusLevel];
    std::size_t finite = 0;
    std::size_t unflagged = 0;
    for (std::size_t t = 0; t < triangleCount_; ++t) {
        finite += finite_[t] != 0 ? 1 : 0;
        unflagged += finite_[t] != 0 && focus_[t] == 0 ? 1 : 0;
    }
    if (unflagged == 0 || static_cast<double>(unflagged) < kFocusSortOutShare * static_cast<double>(finite))
        return;
    std::vector<std::uint64_t> marked;
    for (std::size_t t = 0; t < triangleCount_; ++t) {
        if (!finite_[t] || focus_[t] == 0)
            continue;
        CellRange range = RangeOf(records_[t].boxMin, records_[t].boxMax, size);
        // Too large to mark its surroundings cell by cell: the triangles it may cross could be
        // anywhere in its range, so every triangle stays active (pairs still need a flagged
        // member).
        if (CellCount(range) > kFocusMaxFlaggedCells)
            return;
        range.lo = {range.lo.x - 1, range.lo.y - 1, range.lo.z - 1};
        range.hi = {range.hi.x + 1, range.hi.y + 1, range.hi.z + 1};
        ForEachCell(range, [&](CellCoordinates cell) { marked.push_back(CellKey(kFocusLevel, cell)); });
    }
    ParallelSort(marked.begin(), marked.end());
    marked.erase(std::unique(marked.begin(), marked.end()), marked.end());
    ParallelFor(triangleCount_, [&](std::size_t t) {
        if (!active_[t] || focus_[t] != 0)
            return;
        const CellRange range = RangeOf(records_[t].boxMin, records_[t].boxMax, size);
        if (CellCount(range) > kFocusAlwaysActive)
            return;
        bool near = false;
        ForEachCell(range, [&](CellCoordinates cell) {
            near = near || std::binary_search(marked.begin(), marked.end(), CellKey(kFocusLevel, cell));
        });
        active_[t] = near ? 1 : 0;
    });
}

// Files every active triangle at its level, in every cell of its range there.
void Search::FileTriangles()
{
    level_.assign(triangleCount_, 0);
    candidates_.Allocate(triangleCount_);
    std::array<std::atomic<std::uint64_t>, kLevels> filled{};
    ParallelForBlocks(searched_, kTriangleGrain, [&](std::size_t begin, std::size_t end) {
        std::array<std::uint64_t, kLevels> cells{};
        for (std::size_t i = begin; i < end; ++i) {
            const std::size_t t = TriangleAt(i);
            if (!active_[t])
                continue;
            int level = kCoarsestLevel;
            std::uint64_t count = 0;
            for (int candidate = 0; candidate < kCoarsestLevel; ++candidate) {
                count = CellCount(RangeOf(records_[t].boxMin, records_[t].boxMax, cellSize_[candidate]));
                if (count <= kMaxCellsPerTriangle) {
                    level = candidate;
                    break;
                }
            }
            if (level == kCoarsestLevel)
                count = CellCount(RangeOf(records_[t].boxMin, records_[t].boxMax, cellSize_[kCoarsestLevel]));
            level_[t] = static_cast<std::uint8_t>(level);
            cells[level] += count;
            const std::uint32_t* corners = mesh_.indices.data() + 3 * t;
            candidates_[t] = {records_[t].boxMin, records_[t].boxMax, CellOfPoint(records_[t].boxMin, cellSize_[level]),
                {corners[0], corners[1], corners[2]}, static_cast<std::uint32_t>(t), !focus_.empty() && focus_[t] != 0 ? 1u : 0u};
        }
        for (int level = 0; level < kLevels; ++level)
            filled[level].fetch_add(cells[level], std::memory_order_relaxed);
    });
    for (int level = 0; level < kLevels; ++level)
        SortLevelEntries(level, filled[level].load());
}

// Builds a level's entries as buckets of whole cell lists without sorting them whole: entries
// are counted and scattered straight into buckets by their cell's block (BucketOfCell), each
// bucket then sorted by (key, triangle) on its own while it sits in cache. Triangles are taken
// in blocks fixed by the count alone, so the result does not depend on the thread count.
void Search::SortLevelEntries(int level, std::size_t count)
{
    FilledArray<CellEntry>& entries = entries_[level];
    std::vector<std::size_t>& starts = bucketStarts_[level];
    entries.Allocate(0);
    starts.assign(1, 0);
    if (count == 0)
        return;
    const unsigned bits = detail::BucketBitsFor(count);
    const std::size_t buckets = std::size_t{1} << bits;
    const float size = cellSize_[level];
    const std::size_t block = detail::PartitionBlockSize(searched_);
    const std::size_t blocks = (searched_ + block - 1) / block;
    auto forEachEntry = [&](std::size_t begin, std::size_t end, auto&& body) {
        for (std::size_t i = begin; i < end; ++i) {
            const std::size_t t = TriangleAt(i);
            if (!active_[t] || level_[t] != level)
                continue;
            // A triangle's cells mostly lie in one block, whose bucket is worked out once.
            CellCoordinates block{};
            std::size_t bucket = 0;
            bool known = false;
            ForEachCell(RangeOf(records_[t].boxMin, records_[t].boxMax, size), [&](CellCoordinates cell) {
                const CellCoordinates cellBlock{cell.x >> kBlockShift, cell.y >> kBlockShift, cell.z >> kBlockShift};
                if (!known || !(cellBlock == block)) {
                    block = cellBlock;
                    bucket = BucketOfCell(level, cell, bits);
                    known = true;
                }
                body(CellKey(level, cell), bucket, static_cast<std::uint32_t>(t));
            });
        }
    };
    // cursor[k * buckets + b]: count, then write position, of bucket b in block k.
    std::vector<std::size_t> cursor(blocks * buckets, 0);
    ParallelForBlocks(searched_, block, [&](std::size_t begin, std::size_t end) {
        std::size_t* row = cursor.data() + begin / block * buckets;
        forEachEntry(begin, end, [&](std::uint64_t, std::size_t bucket, std::uint32_t) { ++row[bucket]; });
    });
    starts.assign(buckets + 1, 0);
    std::size_t position = 0;
    for (std::size_t b = 0; b < buckets; ++b) {
        starts[b] = position;
        for (std::size_t k = 0; k < blocks; ++k)
            position += std::exchange(cursor[k * buckets + b], position);
    }
    starts[buckets] = position;
    entries.Allocate(position);
    CellEntry* out = entries.data();
    ParallelForBlocks(searched_, block, [&](std::size_t begin, std::size_t end) {
        std::size_t* row = cursor.data() + begin / block * buckets;
        forEachEntry(begin, end,
            [&](std::uint64_t key, std::size_t bucket, std::uint32_t t) { out[row[bucket]++] = {key, t}; });
    });
    // Two cells of one triangle whose keys collide would file it twice in one list.
    std::atomic<bool> repeated{false};
    ParallelForBlocks(buckets, 1, [&](std::size_t begin, std::size_t end) {
        std::vector<CellEntry> scratch;
        for (std::size_t b = begin; b < end; ++b) {
            SortBucket(out + starts[b], out + starts[b + 1], scratch);
            for (std::size_t i = starts[b] + 1; i < starts[b + 1]; ++i) {
                if (out[i].key == out[i - 1].key && out[i].triangle == out[i - 1].triangle)
                    repeated.store(true, std::memory_order_relaxed);
            }
        }
    });
    if (!repeated.load())
        return;
    // Rare: compact bucket by bucket.
    std::size_t kept = 0;
    for (std::size_t b = 0; b < buckets; ++b) {
        const std::size_t begin = starts[b];
        starts[b] = kept;
        for (std::size_t i = begin; i < starts[b + 1]; ++i) {
            if (i > begin && out[i].key == out[i - 1].key && out[i].triangle == out[i - 1].triangle)
                continue;
            out[kept++] = out[i];
        }
    }
    starts[buckets] = kept;
    entries.Shrink(kept);
}

bool ShareVertex(const Candidate& t, const Candidate& u)
{
    for (std::uint32_t a : t.corners)
        if (a == u.corners[0] || a == u.corners[1] || a == u.corners[2])
            return true;
    return false;
}

bool HasRepeatedCorner(const Candidate& t)
{
    return t.corners[0] == t.corners[1] || t.corners[1] == t.corners[2] || t.corners[2] == t.corners[0];
}

// Neighbours through a vertex or an edge meet there anyway; what counts is whether they meet
// anywhere else: an edge of one through the other beyond a shared corner, or a flap folded
// flat onto its neighbour through a shared corner or across a shared edge. Two triangles on three shared corners are one
// triangle twice, and one with a repeated corner has no area; both are counted elsewhere.
bool SharedCornerTrianglesMeet(const Candidate& t, const Candidate& u, const TriangleRecord& tr,
    const TriangleRecord& ur)
{
    if (HasRepeatedCorner(t) || HasRepeatedCorner(u))
        return false;
    // match[i]: the corner of u that is corner i of t, or -1.
    std::array<int, 3> match{-1, -1, -1};
    int shared = 0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (t.corners[i] == u.corners[j]) {
                match[i] = j;
                ++shared;
            }
    if (shared == 1) {
        const int i = match[0] >= 0 ? 0 : (match[1] >= 0 ? 1 : 2);
        const int j = match[i];
        return CornerSharingTrianglesCross(tr.corners[i], tr.corners[(i + 1) % 3], tr.corners[(i + 2) % 3],
            ur.corners[(j + 1) % 3], ur.corners[(j + 2) % 3]);
    }
    if (shared == 2) {
        const int free = match[0] < 0 ? 0 : (match[1] < 0 ? 1 : 2);
        const int otherFree = 3 - match[(free + 1) % 3] - match[(free + 2) % 3];
        return EdgeSharingTrianglesOverlap(tr.corners[(free + 1) % 3], tr.corners[(free + 2) % 3], tr.corners[free],
            ur.corners[otherFree]);
    }
    return false;
}

bool Search::FlushPairCount(Task& task)
{
    const std::uint64_t count = pairCounter_.fetch_add(task.uncounted, std::memory_order_relaxed) + task.uncounted;
    task.uncounted = 0;
    if (count > maximumPairs_) {
        stopped_.exchange(1);
        return false;
    }
    if (maximumPairs_ - count < kExactHeadroom)
        exactCounting_.store(true, std::memory_order_relaxed);
    return true;
}

bool Search::TakePairNumber(Task& task)
{
    if (!exactCounting_.load(std::memory_order_relaxed)) {
        ++task.uncounted;
        return task.uncounted < kPairBatch || FlushPairCount(task);
    }
    if (task.uncounted > 0 && !FlushPairCount(task))
        return false;
    if (pairCounter_.fetch_add(1, std::memory_order_relaxed) >= maximumPairs_) {
        stopped_.exchange(1);
        return false;
    }
    return true;
}

template <class OwnsPair>
void Search::TestPair(const Candidate& t, const Candidate& u, OwnsPair&& ownsPair, Task& task)
{
    if (t.triangle == u.triangle)
        return;
    if (!focus_.empty() && !t.flagged && !u.flagged)
        return;
    if (!BoxesOverlap(t, u))
        return;
    // The owner cell is the cell of the point made of the larger of the two boxes' minima per
    // axis; the cell map is monotone, so that is the larger of the two first cells per axis.
    if (!ownsPair(CellCoordinates{std::max(t.low.x, u.low.x), std::max(t.low.y, u.low.y), std::max(t.low.z, u.low.z)}))
        return;
    const TriangleRecord& tr = records_[t.triangle];
    const TriangleRecord& ur = records_[u.triangle];
    bool meet = false;
    if (ShareVertex(t, u)) {
        // Neighbours are most of the overlapping pairs of a mesh, their number bounded by its
        // valences, and their test is a few orientations that mostly end on the first two:
        // they take no pair number, so the limit still bounds the tests of a tangled mesh.
        meet = SharedCornerTrianglesMeet(t, u, tr, ur);
    } else {
        if (!TakePairNumber(task))
            return;
        // The lower-numbered triangle takes the first role, so that a triangle without area
        // meets the same triangles whichever grid level it was filed at.
        bool coplanar = false;
        meet = t.triangle < u.triangle ? TrianglesIntersect(tr.corners, ur.corners, coplanar)
                                       : TrianglesIntersect(ur.corners, tr.corners, coplanar);
        // In one plane, two triangles of one piece that overlap in an area lie folded onto each
        // other, wherever the plane lies; bodies laid against each other are separate pieces.
        meet = meet || (coplanar && CoplanarTrianglesShareArea(tr.corners, ur.corners) && OnePiece(t, u));
        // Separate bodies resting against each other (a boss standing on a plate, as CAD
        // writes it) touch from outside, neither passing into the other: a slicer joins them,
        // and pushing them apart would only change the part.
        if (meet && !coplanar && IsContactBetweenBodies(t, u, tr, ur))
            meet = false;
    }
    if (meet) {
        task.found.push_back(t.triangle);
        task.found.push_back(u.triangle);
    }
}

void Search::Finish(Task& task)
{
    if (task.uncounted > 0)
        FlushPairCount(task);
    if (task.found.empty())
        return;
    std::lock_guard<std::mutex> lock(pairsMutex_);
    pairs_->insert(pairs_->end(), task.found.begin(), task.found.end());
}

// Pairs of triangles filed at the same level, each tested in the list of its owner cell.
// Buckets hold whole lists, so they are the tasks' units, taken in groups of about
// kEntryGrain entries.
void Search::RunSameLevelPass()
{
    std::vector<BucketChunk> chunks;
    for (int level = 0; level < kLevels; ++level) {
        const std::vector<std::size_t>& starts = bucketStarts_[level];
        for (std::size_t b = 0; b + 1 < starts.size();) {
            std::size_t e = b + 1;
            while (e + 1 < starts.size() && starts[e] - starts[b] < kEntryGrain)
                ++e;
            if (starts[e] > starts[b])
                chunks.push_back({level, b, e});
            b = e;
        }
    }
    ParallelForBlocks(chunks.size(), 1, [&](std::size_t chunkBegin, std::size_t chunkEnd) {
        Task task;
        // The list's members gathered once: every pair of the list reads them.
        std::vector<Candidate> members;
        std::vector<std::uint32_t> overlapping;
        // With a focus, the members flagged: a member not flagged makes a pair with these alone
        // (TestPair turns the others away), so the others' boxes are not even compared. A
        // repair's later searches flag a few triangles among many.
        const bool focused = !focus_.empty();
        std::vector<std::uint32_t> flaggedAt;
        for (std::size_t c = chunkBegin; c < chunkEnd && !Stopped(); ++c) {
            const int level = chunks[c].level;
            const CellEntry* entries = entries_[level].data();
            const std::vector<std::size_t>& starts = bucketStarts_[level];
            const unsigned bits = static_cast<unsigned>(std::countr_zero(starts.size() - 1));
            for (std::size_t bucket = chunks[c].begin; bucket < chunks[c].end && !Stopped(); ++bucket) {
                const std::size_t bucketEnd = starts[bucket + 1];
                for (std::size_t begin = starts[bucket], end = begin; begin < bucketEnd && !Stopped(); begin = end) {
                    const std::uint64_t key = entries[begin].key;
                    end = begin + 1;
                    while (end < bucketEnd && entries[end].key == key)
                        ++end;
                    if (end - begin < 2)
                        continue;
                    // A key may also name a colliding cell in another bucket: the owner must
                    // be this bucket's.
                    auto ownsPair = [&](const CellCoordinates& owner) {
                        return CellKey(level, owner) == key && BucketOfCell(level, owner, bits) == bucket;
                    };
                    members.clear();
                    flaggedAt.clear();
                    for (std::size_t i = begin; i < end; ++i) {
                        // The members are scattered over the mesh: fetch ahead of need.
                        if (i + kPrefetchDistance < bucketEnd)
                            __builtin_prefetch(&candidates_[entries[i + kPrefetchDistance].triangle]);
                        members.push_back(candidates_[entries[i].triangle]);
                        if (members.back().flagged != 0)
                            flaggedAt.push_back(static_cast<std::uint32_t>(members.size() - 1));
                    }
                    if (focused && flaggedAt.empty())
                        continue;
                    // Later members whose box meets member a's are listed without a branch per
                    // member (most do not meet it, in no predictable order); only those go on
                    // to the pair test.
                    overlapping.resize(members.size());
                    for (std::size_t a = 0; a + 1 < members.size() && !Stopped(); ++a) {
                        const Candidate& t = members[a];
                        std::size_t count = 0;
                        if (focused && t.flagged == 0) {
                            for (auto f = std::upper_bound(flaggedAt.begin(), flaggedAt.end(), a); f != flaggedAt.end(); ++f) {
                                overlapping[count] = *f;
                                count += BoxesOverlap(t, members[*f]) ? 1 : 0;
                            }
                        } else {
                            for (std::size_t b = a + 1; b < members.size(); ++b) {
                                overlapping[count] = static_cast<std::uint32_t>(b);
                                count += BoxesOverlap(t, members[b]) ? 1 : 0;
                            }
                        }
                        for (std::size_t k = 0; k < count; ++k) {
                            if (Stopped())
                                break;
                            TestPair(t, members[overlapping[k]], ownsPair, task);
                        }
                    }
                }
            }
        }
        Finish(task);
    });
}

// Pairs across levels, from the finer triangle's side against the coarser levels' cells.
// The owner cell is compared by coordinates, so a key shared by two cells of the range cannot
// test a pair twice.
void Search::RunCrossLevelPass()
{
    int finest = kLevels;
    bool anyCoarser = false;
    for (int level = 0; level < kLevels; ++level) {
        if (entries_[level].empty())
            continue;
        finest = std::min(finest, level);
        if (level > finest) {
            index_[level].Build(entries_[level], bucketStarts_[level]);
            anyCoarser = true;
        }
    }
    if (!anyCoarser)
        return;
    ParallelForBlocks(searched_, kTriangleGrain, [&](std::size_t begin, std::size_t end) {
        Task task;
        for (std::size_t i = begin; i < end; ++i) {
            const std::size_t t = TriangleAt(i);
            if (!active_[t] || Stopped())
                continue;
            for (int level = level_[t] + 1; level < kLevels && !Stopped(); ++level) {
                if (entries_[level].empty())
                    continue;
                const CellRange range = RangeOf(records_[t].boxMin, records_[t].boxMax, cellSize_[level]);
                Candidate fine = candidates_[t];
                fine.low = range.lo;
                const CellEntry* entries = entries_[level].data();
                const unsigned bits = static_cast<unsigned>(std::countr_zero(bucketStarts_[level].size() - 1));
                ForEachCell(range, [&](CellCoordinates cell) {
                    const CellIndex::Run run = index_[level].Find(CellKey(level, cell), BucketOfCell(level, cell, bits));
                    auto ownsPair = [&](const CellCoordinates& owner) { return owner == cell; };
                    for (std::size_t i = run.begin; i < run.end; ++i) {
                        const std::uint32_t u = entries[i].triangle;
                        TestPair(fine, candidates_[u], ownsPair, task);
                    }
                });
            }
        }
        Finish(task);
    });
}

// FindSelfIntersections, also counting the pairs tested exactly.
std::uint64_t SearchSelfIntersections(const TriangleMesh& mesh, std::span<const std::uint8_t> focus,
    std::uint64_t maximumPairs, std::vector<std::uint32_t>& pairs, bool& stopped)
{
    pairs.clear();
    stopped = false;
    // The search would read corners through every index: an inconsistent mesh has no pairs.
    if (mesh.TriangleCount() < 2 || !mesh.IsConsistent())
        return 0;
    // The search keeps over 200 bytes per triangle, so 2^31 triangles (the most its 31-bit
    // triangle numbers hold) would never fit in memory: fail as the allocation would.
    if (mesh.TriangleCount() >= kMaxSearchedTriangles)
        throw std::bad_alloc();
    Search search(mesh, focus, maximumPairs);
    search.Run(pairs);
    stopped = search.Stopped();
    return search.TestedPairs();
}

bool SameBits(Vec3 a, Vec3 b)
{
    return std::bit_cast<std::array<std::uint32_t, 3>>(a) == std::bit_cast<std::array<std::uint32_t, 3>>(b);
}

// The triangles a search since `record` must look at again: those with a corner that moved
// (to the bit) and those outside the record's focus. Empty when the record is of another mesh.
std::vector<std::uint8_t> TrianglesChangedSince(const TriangleMesh& mesh, const SelfIntersectionRecord& record)
{
    const std::size_t triangles = mesh.TriangleCount();
    if (record.positions.size() != mesh.vertices.size() || record.indices != mesh.indices
        || record.focus.size() != triangles)
        return {};
    std::vector<std::uint8_t> moved(mesh.vertices.size());
    ParallelFor(moved.size(), [&](std::size_t v) {
        moved[v] = SameBits(mesh.vertices[v].position, record.positions[v]) ? 0 : 1;
    });
    std::vector<std::uint8_t> changed(triangles);
    ParallelFor(triangles, [&](std::size_t t) {
        const std::uint32_t* corners = mesh.indices.data() + 3 * t;
        changed[t] = record.focus[t] == 0 || moved[corners[0]] != 0 || moved[corners[1]] != 0 || moved[corners[2]] != 0
            ? 1 : 0;
    });
    return changed;
}

}  // namespace

void FindSelfIntersections(const TriangleMesh& mesh, std::span<const std::uint8_t> focus,
    std::uint64_t maximumPairs, std::vector<std::uint32_t>& pairs, bool& stopped)
{
    (void)SearchSelfIntersections(mesh, focus, maximumPairs, pairs, stopped);
}

SelfIntersectionRecord RecordSelfIntersections(const TriangleMesh& mesh, std::span<const std::uint8_t> focus,
    std::uint64_t maximumPairs, bool& stopped)
{
    SelfIntersectionRecord record;
    record.testedPairs = SearchSelfIntersections(mesh, focus, maximumPairs, record.pairs, stopped);
    if (stopped)
        return {};
    record.positions.resize(mesh.vertices.size());
    for (std::size_t v = 0; v < mesh.vertices.size(); ++v)
        record.positions[v] = mesh.vertices[v].position;
    record.indices = mesh.indices;
    // A focus the search ignored (of another length) searched every triangle.
    if (focus.size() == mesh.TriangleCount())
        record.focus.assign(focus.begin(), focus.end());
    else
        record.focus.assign(mesh.TriangleCount(), 1);
    return record;
}

// A record of the focus alone would leave the later search all the focus left out, and none of
// it once the focus is under half the mesh. A focus over most of the mesh files every triangle
// anyway, so the rest costs little; under a vertex relief of the outer surfaces the search of
// the moved third or so took longer than the whole one. A whole search that does not stop has
// tested every pair the focused one would (those with a flagged member whose boxes overlap):
// the focused one would not have stopped either.
SelfIntersectionRecord RecordSelfIntersectionsToTakeOver(const TriangleMesh& mesh,
    std::span<const std::uint8_t> focus, std::uint64_t maximumPairs, bool& stopped)
{
    SelfIntersectionRecord whole = RecordSelfIntersections(mesh, {}, maximumPairs, stopped);
    if (!stopped || focus.size() != mesh.TriangleCount())
        return whole;
    return RecordSelfIntersections(mesh, focus, maximumPairs, stopped);
}

// The pairs of the whole mesh are the record's pairs between triangles that did not change,
// which meet now as they met then, and those a search focused on the changed ones finds. The
// pairs a whole search would test are at most the record's plus the focused search's: a pair
// of unchanged triangles was in the record's focus and tested there if at all.
bool FindSelfIntersectionsSince(const TriangleMesh& mesh, const SelfIntersectionRecord& record,
    std::uint64_t maximumPairs, std::vector<std::uint32_t>& pairs, bool& stopped)
{
    pairs.clear();
    stopped = false;
    const std::vector<std::uint8_t> changed = TrianglesChangedSince(mesh, record);
    if (changed.empty())
        return false;
    const auto count = static_cast<std::size_t>(std::count(changed.begin(), changed.end(), std::uint8_t{1}));
    // Most of the mesh moved: the focused search would cost what a whole one does.
    if (static_cast<double>(changed.size() - count) < kFocusSortOutShare * static_cast<double>(changed.size()))
        return false;
    const std::uint64_t tested = SearchSelfIntersections(mesh, changed, maximumPairs, pairs, stopped);
    // Its pairs are among a whole search's: that one would stop as well.
    if (stopped)
        return true;
    if (record.testedPairs > maximumPairs || tested > maximumPairs - record.testedPairs) {
        pairs.clear();
        return false;
    }
    for (std::size_t i = 0; i + 1 < record.pairs.size(); i += 2) {
        const std::uint32_t t = record.pairs[i];
        const std::uint32_t u = record.pairs[i + 1];
        if (changed[t] == 0 && changed[u] == 0)
            pairs.insert(pairs.end(), {t, u});
    }
    return true;
}

std::vector<std::uint32_t> ListSelfIntersectingTriangles(const TriangleMesh& mesh,
    std::span<const std::uint8_t> focus, bool* stopped)
{
    std::vector<std::uint32_t> pairs;
    bool searchStopped = false;
    FindSelfIntersections(mesh, focus, kNoPairLimit, pairs, searchStopped);
    if (stopped != nullptr)
        *stopped = searchStopped;
    return pairs;
}

void CheckSelfIntersections(const TriangleMesh& mesh, const ValidationOptions& options, ValidationReport& report)
{
    std::vector<std::uint32_t> pairs;
    bool stopped = false;
    const SelfIntersectionRecord* known = options.knownSelfIntersections;
    if (known == nullptr
        || !FindSelfIntersectionsSince(mesh, *known, options.maximumSelfIntersectionPairs, pairs, stopped))
        FindSelfIntersections(mesh, {}, options.maximumSelfIntersectionPairs, pairs, stopped);
    if (stopped) {
        report.selfIntersectionSearchStopped = true;
        return;
    }
    std::vector<std::uint32_t> triangles = pairs;
    std::sort(triangles.begin(), triangles.end());
    triangles.erase(std::unique(triangles.begin(), triangles.end()), triangles.end());
    report.selfIntersectionPairs = std::move(pairs);
    report.selfIntersectingTriangleCount = triangles.size();
    report.selfIntersectingTriangles = std::move(triangles);
    report.selfIntersectionsChecked = true;
}

}  // namespace grainforge::mesh
