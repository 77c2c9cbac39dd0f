#include "engine/mesh/self_intersection.h"

#include "engine/mesh/exact_predicates.h"
#include "engine/mesh/hash_partition.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/mesh/parallel_loop.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <mutex>

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
// Cell coordinates are clamped to this magnitude, so that spans and neighbours stay within
// 64 bits for any coordinate. Clamping keeps the cell map monotone, so overlapping boxes still
// share their owner cell.
constexpr double kMaxCellCoordinate = 2305843009213693952.0;  // 2^61

constexpr std::uint64_t kFnvOffsetBasis = 14695981039346656037ULL;
constexpr std::uint64_t kFnvPrime = 1099511628211ULL;

constexpr std::size_t kCellGrain = 256;
// Pair numbers: far from the limit a task counts its exact tests itself and adds them to the
// shared counter in batches of this many; one shared increment per test stalls every core on
// one cache line. Within kExactHeadroom of the limit every test takes its own number, as does
// any search whose limit is below it, so small limits are exact. A batch can let at most
// kPairBatch tests per running task pass the limit before the stop is seen; whether the search
// stops (more candidate pairs than the limit) is decided exactly either way.
constexpr std::uint64_t kPairBatch = 256;
constexpr std::uint64_t kExactHeadroom = std::uint64_t{1} << 20;
constexpr std::size_t kTriangleGrain = 1024;

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

bool IsFinite(Vec3 v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

Vec3 Min(Vec3 a, Vec3 b) { return {std::min(a.x, b.x), std::min(a.y, b.y), std::min(a.z, b.z)}; }
Vec3 Max(Vec3 a, Vec3 b) { return {std::max(a.x, b.x), std::max(a.y, b.y), std::max(a.z, b.z)}; }

bool EntryLess(const CellEntry& a, const CellEntry& b)
{
    return a.key != b.key ? a.key < b.key : a.triangle < b.triangle;
}

// Key -> run of a level's sorted entries, for the lookups of the cross-level pass: open
// addressing over the (mixed) keys, one slot per run at a load of at most a half.
class CellIndex {
public:
    struct Run {
        std::size_t begin = 0;
        std::size_t end = 0;
    };

    void Build(const std::vector<CellEntry>& entries)
    {
        std::size_t runs = 0;
        for (std::size_t i = 0; i < entries.size(); ++i)
            runs += (i == 0 || entries[i].key != entries[i - 1].key) ? 1 : 0;
        slots_.assign(std::bit_ceil(std::max<std::size_t>(2 * runs, 16)), Slot{});
        mask_ = slots_.size() - 1;
        std::size_t begin = 0;
        for (std::size_t i = 1; i <= entries.size(); ++i) {
            if (i < entries.size() && entries[i].key == entries[begin].key)
                continue;
            std::size_t slot = detail::Mix64(entries[begin].key) & mask_;
            while (slots_[slot].run.end != 0)
                slot = (slot + 1) & mask_;
            slots_[slot] = {entries[begin].key, {begin, i}};
            begin = i;
        }
    }

    // The run of `key`, empty when the level holds no such cell.
    Run Find(std::uint64_t key) const
    {
        if (slots_.empty())
            return {};
        std::size_t slot = detail::Mix64(key) & mask_;
        while (slots_[slot].run.end != 0) {
            if (slots_[slot].key == key)
                return slots_[slot].run;
            slot = (slot + 1) & mask_;
        }
        return {};
    }

private:
    struct Slot {
        std::uint64_t key = 0;
        Run run;  // end 0 marks an empty slot: every run ends after its first entry
    };
    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
};

struct Candidate {
    Vec3 boxMin;
    Vec3 boxMax;
    CellCoordinates low;
    std::uint32_t triangle = 0;
    bool flagged = false;
};

bool BoxesOverlap(const Candidate& a, const Candidate& b)
{
    return !(a.boxMin.x > b.boxMax.x || b.boxMin.x > a.boxMax.x || a.boxMin.y > b.boxMax.y
        || b.boxMin.y > a.boxMax.y || a.boxMin.z > b.boxMax.z || b.boxMin.z > a.boxMax.z);
}

// What one task of a pass keeps to itself until it ends.
struct Task {
    std::vector<std::uint32_t> found;  // two triangles per intersecting pair
    std::uint64_t uncounted = 0;       // exact tests not yet added to the shared counter
};

// One cell list of the same-level pass: entries [begin, end) of a level.
struct CellList {
    int level = 0;
    std::size_t begin = 0;
    std::size_t end = 0;
};

// Everything one search builds and shares between its tasks.
class Search {
public:
    Search(const TriangleMesh& mesh, std::span<const std::uint8_t> focus, std::uint64_t maximumPairs)
        : mesh_(mesh), triangleCount_(mesh.TriangleCount()), maximumPairs_(maximumPairs)
    {
        if (focus.size() == triangleCount_)
            focus_ = focus;
        exactCounting_.store(maximumPairs_ < kExactHeadroom);
    }

    void Run(std::vector<std::uint32_t>& pairs)
    {
        pairs_ = &pairs;
        BuildRecords();
        ComputeCellSizes();
        MarkActive();
        FileTriangles();
        RunSameLevelPass();
        RunCrossLevelPass();
    }

    bool Stopped() const { return stopped_.load() != 0; }

private:
    void BuildRecords();
    void ComputeCellSizes();
    void MarkActive();
    void MarkFocusActive();
    void FileTriangles();
    void RunSameLevelPass();
    void RunCrossLevelPass();
    // A triangle as the pair filters see it, with the first cell of its range at the level
    // of the test.
    Candidate MakeCandidate(std::uint32_t t, const CellCoordinates& low) const;
    // The pair test; `ownsPair` says whether a cell is the one in which the pair is tested.
    template <class OwnsPair>
    void TestPair(const Candidate& t, const Candidate& u, OwnsPair&& ownsPair, Task& task);
    bool ShareVertex(std::uint32_t t, std::uint32_t u) const;
    // Counts one more pair for the exact test; false when the limit is passed (the search
    // then stops).
    bool TakePairNumber(Task& task);
    bool FlushPairCount(Task& task);
    // Ends a task: its count goes to the shared counter, its pairs to the shared list.
    void Finish(Task& task);

    const TriangleMesh& mesh_;
    const std::size_t triangleCount_;
    const std::uint64_t maximumPairs_;
    std::span<const std::uint8_t> focus_;
    std::vector<TriangleRecord> records_;
    std::vector<std::uint8_t> finite_;
    std::vector<std::uint8_t> active_;
    std::vector<std::uint8_t> level_;
    std::vector<CellCoordinates> lowCell_;  // first cell of each triangle's range at its level
    std::array<float, kLevels> cellSize_{};
    std::array<std::vector<CellEntry>, kLevels> entries_;
    std::array<CellIndex, kLevels> index_;
    std::atomic<std::uint64_t> pairCounter_{0};
    std::atomic<bool> exactCounting_{false};
    std::atomic<std::uint8_t> stopped_{0};
    std::mutex pairsMutex_;
    std::vector<std::uint32_t>* pairs_ = nullptr;
};

void Search::BuildRecords()
{
    records_.resize(triangleCount_);
    finite_.resize(triangleCount_);
    ParallelFor(triangleCount_, [&](std::size_t t) {
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
    for (std::size_t t = 0; t < triangleCount_; ++t) {
        if (!finite_[t])
            continue;
        const TriangleRecord& r = records_[t];
        const double side = std::max({static_cast<double>(r.boxMax.x) - r.boxMin.x,
            static_cast<double>(r.boxMax.y) - r.boxMin.y, static_cast<double>(r.boxMax.z) - r.boxMin.z});
        sum += side;
    }
    const double mean = std::min(sum / static_cast<double>(triangleCount_),
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
    if (!focus_.empty())
        MarkFocusActive();
}

void Search::MarkFocusActive()
{
    const float size = cellSize_[kFocusLevel];
    bool anyUnflagged = false;
    std::vector<std::uint64_t> marked;
    for (std::size_t t = 0; t < triangleCount_; ++t) {
        if (!finite_[t])
            continue;
        if (focus_[t] == 0) {
            anyUnflagged = true;
            continue;
        }
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
    if (!anyUnflagged)
        return;
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
    lowCell_.assign(triangleCount_, CellCoordinates{});
    std::vector<std::uint64_t> cells(triangleCount_, 0);
    ParallelFor(triangleCount_, [&](std::size_t t) {
        if (!active_[t])
            return;
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
        lowCell_[t] = CellOfPoint(records_[t].boxMin, cellSize_[level]);
        cells[t] = count;
    });

    // Each triangle's first slot in its level's entries: a prefix over triangles per level.
    std::array<std::uint64_t, kLevels> filled{};
    std::vector<std::uint64_t> firstSlot(triangleCount_, 0);
    for (std::size_t t = 0; t < triangleCount_; ++t) {
        firstSlot[t] = filled[level_[t]];
        filled[level_[t]] += cells[t];
    }
    for (int level = 0; level < kLevels; ++level)
        entries_[level].resize(filled[level]);
    ParallelFor(triangleCount_, [&](std::size_t t) {
        if (!active_[t])
            return;
        const int level = level_[t];
        CellEntry* slot = entries_[level].data() + firstSlot[t];
        const CellRange range = RangeOf(records_[t].boxMin, records_[t].boxMax, cellSize_[level]);
        ForEachCell(range, [&](CellCoordinates cell) {
            *slot++ = {CellKey(level, cell), static_cast<std::uint32_t>(t)};
        });
    });
    for (int level = 0; level < kLevels; ++level) {
        std::vector<CellEntry>& entries = entries_[level];
        ParallelSort(entries.begin(), entries.end(), [](const CellEntry& a, const CellEntry& b) { return EntryLess(a, b); });
        // Two cells of one triangle whose keys collide would file it twice in one list.
        entries.erase(std::unique(entries.begin(), entries.end(),
                          [](const CellEntry& a, const CellEntry& b) { return a.key == b.key && a.triangle == b.triangle; }),
            entries.end());
    }
}

bool Search::ShareVertex(std::uint32_t t, std::uint32_t u) const
{
    const std::uint32_t* a = mesh_.indices.data() + std::size_t{3} * t;
    const std::uint32_t* b = mesh_.indices.data() + std::size_t{3} * u;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (a[i] == b[j])
                return true;
    return false;
}

Candidate Search::MakeCandidate(std::uint32_t t, const CellCoordinates& low) const
{
    return {records_[t].boxMin, records_[t].boxMax, low, t, !focus_.empty() && focus_[t] != 0};
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
    if (ShareVertex(t.triangle, u.triangle))
        return;
    if (!TakePairNumber(task))
        return;
    if (TrianglesIntersect(records_[t.triangle].corners, records_[u.triangle].corners)) {
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
void Search::RunSameLevelPass()
{
    std::vector<CellList> lists;
    for (int level = 0; level < kLevels; ++level) {
        const std::vector<CellEntry>& entries = entries_[level];
        std::size_t begin = 0;
        for (std::size_t i = 1; i <= entries.size(); ++i) {
            if (i < entries.size() && entries[i].key == entries[begin].key)
                continue;
            if (i - begin >= 2)
                lists.push_back({level, begin, i});
            begin = i;
        }
    }
    ParallelForBlocks(lists.size(), kCellGrain, [&](std::size_t begin, std::size_t end) {
        Task task;
        // The list's members gathered once: every pair of the list reads them.
        std::vector<Candidate> members;
        for (std::size_t c = begin; c < end && !Stopped(); ++c) {
            const CellList& list = lists[c];
            const CellEntry* entries = entries_[list.level].data();
            const std::uint64_t key = entries[list.begin].key;
            auto ownsPair = [&](const CellCoordinates& owner) { return CellKey(list.level, owner) == key; };
            members.clear();
            for (std::size_t i = list.begin; i < list.end; ++i)
                members.push_back(MakeCandidate(entries[i].triangle, lowCell_[entries[i].triangle]));
            for (std::size_t a = 0; a + 1 < members.size(); ++a) {
                for (std::size_t b = a + 1; b < members.size(); ++b) {
                    if (Stopped())
                        break;
                    TestPair(members[a], members[b], ownsPair, task);
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
            index_[level].Build(entries_[level]);
            anyCoarser = true;
        }
    }
    if (!anyCoarser)
        return;
    ParallelForBlocks(triangleCount_, kTriangleGrain, [&](std::size_t begin, std::size_t end) {
        Task task;
        for (std::size_t t = begin; t < end; ++t) {
            if (!active_[t] || Stopped())
                continue;
            for (int level = level_[t] + 1; level < kLevels && !Stopped(); ++level) {
                if (entries_[level].empty())
                    continue;
                const CellRange range = RangeOf(records_[t].boxMin, records_[t].boxMax, cellSize_[level]);
                const Candidate fine = MakeCandidate(static_cast<std::uint32_t>(t), range.lo);
                const CellEntry* entries = entries_[level].data();
                ForEachCell(range, [&](CellCoordinates cell) {
                    const CellIndex::Run run = index_[level].Find(CellKey(level, cell));
                    auto ownsPair = [&](const CellCoordinates& owner) { return owner == cell; };
                    for (std::size_t i = run.begin; i < run.end; ++i) {
                        const std::uint32_t u = entries[i].triangle;
                        TestPair(fine, MakeCandidate(u, lowCell_[u]), ownsPair, task);
                    }
                });
            }
        }
        Finish(task);
    });
}

}  // namespace

void FindSelfIntersections(const TriangleMesh& mesh, std::span<const std::uint8_t> focus,
    std::uint64_t maximumPairs, std::vector<std::uint32_t>& pairs, bool& stopped)
{
    pairs.clear();
    stopped = false;
    // The search would read corners through every index: an inconsistent mesh has no pairs.
    if (mesh.TriangleCount() < 2 || !mesh.IsConsistent())
        return;
    Search search(mesh, focus, maximumPairs);
    search.Run(pairs);
    stopped = search.Stopped();
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
