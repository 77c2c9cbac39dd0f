// Cell cases and vertex placement for dual contouring. The vertex placement minimises the
// quadratic error function of Ju, Losasso, Schaefer and Warren, "Dual Contouring of Hermite
// Data" (SIGGRAPH 2002), with a truncated pseudo-inverse relative to the mass point as in
// Lindstrom, "Out-of-core simplification of large polygonal models" (SIGGRAPH 2000).
#include "engine/remesh/contour_cells.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace grainforge::mesh {
namespace {

constexpr double kBoxTolerance = 1e-9;

int FindRoot(const std::array<std::uint8_t, 12>& parent, int edge)
{
    while (parent[edge] != edge)
        edge = parent[edge];
    return edge;
}

void Unite(std::array<std::uint8_t, 12>& parent, int a, int b)
{
    const int ra = FindRoot(parent, a);
    const int rb = FindRoot(parent, b);
    if (ra == rb)
        return;
    // The smaller index becomes the root, so a piece's root is its smallest edge.
    if (ra < rb)
        parent[rb] = static_cast<std::uint8_t>(ra);
    else
        parent[ra] = static_cast<std::uint8_t>(rb);
}

bool ChangesSign(std::uint8_t mask, int edge)
{
    return ((mask >> EdgeStartCorner(edge)) & 1) != ((mask >> EdgeEndCorner(edge)) & 1);
}

bool InsideBox(const double p[3], const Point3d& low, const Point3d& high)
{
    for (int k = 0; k < 3; ++k)
        if (p[k] < low.x[k] - kBoxTolerance || p[k] > high.x[k] + kBoxTolerance)
            return false;
    return true;
}

double Det3(const double a[9])
{
    return a[0] * (a[4] * a[8] - a[5] * a[7]) - a[1] * (a[3] * a[8] - a[5] * a[6])
        + a[2] * (a[3] * a[7] - a[4] * a[6]);
}

// Solves the open coordinates of candidate `digits` (0 open, 1 low side, 2 high side, relative
// to the mass point); false when the candidate has no unique solution.
bool SolveCandidate(const double a[9], const double b[3], const int digits[3],
    const double fixedLow[3], const double fixedHigh[3], double y[3])
{
    int open[3];
    int openCount = 0;
    for (int k = 0; k < 3; ++k) {
        if (digits[k] == 0)
            open[openCount++] = k;
        else
            y[k] = digits[k] == 1 ? fixedLow[k] : fixedHigh[k];
    }
    double rhs[3];
    for (int i = 0; i < openCount; ++i) {
        const int o = open[i];
        rhs[i] = b[o];
        for (int k = 0; k < 3; ++k)
            if (digits[k] != 0)
                rhs[i] -= a[3 * o + k] * y[k];
    }
    if (openCount == 1) {
        y[open[0]] = rhs[0] / a[4 * open[0]];
    } else if (openCount == 2) {
        const int p = open[0];
        const int q = open[1];
        const double det = a[3 * p + p] * a[3 * q + q] - a[3 * p + q] * a[3 * q + p];
        if (!(det > 0.0))
            return false;
        y[p] = (rhs[0] * a[3 * q + q] - a[3 * p + q] * rhs[1]) / det;
        y[q] = (a[3 * p + p] * rhs[1] - rhs[0] * a[3 * q + p]) / det;
    } else if (openCount == 3) {
        const double det = Det3(a);
        if (!(det > 0.0))
            return false;
        for (int column = 0; column < 3; ++column) {
            double m[9];
            for (int i = 0; i < 9; ++i)
                m[i] = a[i];
            for (int row = 0; row < 3; ++row)
                m[3 * row + column] = rhs[row];
            y[column] = Det3(m) / det;
        }
    }
    return true;
}

// The box-constrained search: the candidate of least error among the 27 that fix each
// coordinate at the box's low side, its high side or leave it open.
void SearchBoxCandidates(const double a[9], const double b[3], const double m[3],
    const CellVertexProblem& problem, double result[3])
{
    double fixedLow[3];
    double fixedHigh[3];
    for (int k = 0; k < 3; ++k) {
        fixedLow[k] = problem.searchLow.x[k] - m[k];
        fixedHigh[k] = problem.searchHigh.x[k] - m[k];
    }
    bool found = false;
    double bestError = 0.0;
    for (int c = 0; c < 27; ++c) {
        const int digits[3] = {c % 3, (c / 3) % 3, c / 9};
        double y[3] = {0.0, 0.0, 0.0};
        if (!SolveCandidate(a, b, digits, fixedLow, fixedHigh, y))
            continue;
        const double point[3] = {m[0] + y[0], m[1] + y[1], m[2] + y[2]};
        if (!InsideBox(point, problem.searchLow, problem.searchHigh))
            continue;
        double error = 0.0;
        for (int i = 0; i < 3; ++i) {
            double row = 0.0;
            for (int k = 0; k < 3; ++k)
                row += a[3 * i + k] * y[k];
            error += y[i] * row - 2.0 * b[i] * y[i];
        }
        if (!found || error < bestError) {
            found = true;
            bestError = error;
            for (int k = 0; k < 3; ++k)
                result[k] = point[k];
        }
    }
}

double Cross2(const Point3d& p, const Point3d& q, int u, int w)
{
    return p.x[u] * q.x[w] - p.x[w] * q.x[u];
}

Point3d Minus(const Point3d& a, const Point3d& b)
{
    Point3d d;
    for (int k = 0; k < 3; ++k)
        d.x[k] = a.x[k] - b.x[k];
    return d;
}

// Distance between the crossing's height and the height of the better-containing triangle of
// a split.
double SplitHeightError(const Point3d quad[4], const int first[3], const int second[3],
    double u, double w, double height, int axis)
{
    double weightFirst = 0.0;
    double weightSecond = 0.0;
    const double h1 = QuadHeightAt(quad, first[0], first[1], first[2], u, w, axis, &weightFirst);
    const double h2 =
        QuadHeightAt(quad, second[0], second[1], second[2], u, w, axis, &weightSecond);
    return std::fabs((weightSecond > weightFirst ? h2 : h1) - height);
}

}  // namespace

int ComputeCellCase(std::uint8_t mask, std::uint8_t faceFlips,
    std::array<std::uint8_t, 12>& edgeComponent, std::uint8_t* joinedFaces)
{
    std::array<std::uint8_t, 12> parent{};
    bool changes[12];
    for (int e = 0; e < 12; ++e) {
        parent[e] = static_cast<std::uint8_t>(e);
        changes[e] = ChangesSign(mask, e);
    }
    int ambiguousFaces[6];
    int ambiguousCount = 0;
    for (int f = 0; f < 6; ++f) {
        const int k = f / 2;
        const int s = f % 2;
        const int j = (k + 1) % 3;
        const int m = (k + 2) % 3;
        const int faceEdges[4] = {4 * j + 2 * s, 4 * j + 2 * s + 1, 4 * m + s, 4 * m + s + 2};
        int crossing[4];
        int crossingCount = 0;
        for (int e : faceEdges)
            if (changes[e])
                crossing[crossingCount++] = e;
        if (crossingCount == 2) {
            Unite(parent, crossing[0], crossing[1]);
        } else if (crossingCount == 4) {
            const int r = ((mask >> (s << k)) & 1) ^ ((faceFlips >> f) & 1);
            if (r == 1) {
                Unite(parent, faceEdges[0], faceEdges[2]);
                Unite(parent, faceEdges[1], faceEdges[3]);
            } else {
                Unite(parent, faceEdges[0], faceEdges[3]);
                Unite(parent, faceEdges[1], faceEdges[2]);
            }
            ambiguousFaces[ambiguousCount++] = f;
        }
    }
    std::uint8_t number[12];
    int count = 0;
    for (int e = 0; e < 12; ++e) {
        if (!changes[e]) {
            edgeComponent[e] = kNoComponent;
            continue;
        }
        const int root = FindRoot(parent, e);
        if (root == e)
            number[e] = static_cast<std::uint8_t>(count++);
        edgeComponent[e] = number[root];
    }
    if (joinedFaces != nullptr) {
        std::uint8_t joined = 0;
        for (int i = 0; i < ambiguousCount; ++i) {
            const int f = ambiguousFaces[i];
            const int j = (f / 2 + 1) % 3;
            const int s = f % 2;
            if (FindRoot(parent, 4 * j + 2 * s) == FindRoot(parent, 4 * j + 2 * s + 1))
                joined = static_cast<std::uint8_t>(joined | (1u << f));
        }
        *joinedFaces = joined;
    }
    return count;
}

const std::array<CellCase, 256>& CellCaseTable()
{
    // A function-local constant built once; C++ guarantees that concurrent first callers
    // wait for the one initialisation.
    static const std::array<CellCase, 256> table = [] {
        std::array<CellCase, 256> cases{};
        for (int mask = 0; mask < 256; ++mask) {
            CellCase& entry = cases[mask];
            entry.componentCount = static_cast<std::uint8_t>(ComputeCellCase(
                static_cast<std::uint8_t>(mask), 0, entry.edgeComponent, &entry.joinedFaces));
        }
        return cases;
    }();
    return table;
}

int CellEdgeComponents(std::uint8_t mask, std::uint8_t faceFlips,
    std::array<std::uint8_t, 12>& edgeComponent)
{
    if (faceFlips == 0) {
        const CellCase& entry = CellCaseTable()[mask];
        edgeComponent = entry.edgeComponent;
        return entry.componentCount;
    }
    return ComputeCellCase(mask, faceFlips, edgeComponent, nullptr);
}

int SignChangingAxesAtCorner0(std::uint8_t mask)
{
    int count = 0;
    for (int k = 0; k < 3; ++k)
        count += ((mask >> (1 << k)) & 1) != (mask & 1) ? 1 : 0;
    return count;
}

double FloatStepAt(double coordinate)
{
    const double magnitude = std::fabs(coordinate);
    if (!(magnitude >= static_cast<double>(std::numeric_limits<float>::min())))
        return std::ldexp(1.0, std::numeric_limits<float>::min_exponent - std::numeric_limits<float>::digits);
    if (!(magnitude <= static_cast<double>(std::numeric_limits<float>::max())))
        return std::ldexp(1.0, std::numeric_limits<float>::max_exponent - std::numeric_limits<float>::digits);
    return std::ldexp(1.0, std::ilogb(magnitude) - (std::numeric_limits<float>::digits - 1));
}

double CellVertexMargin(double faceLow, double faceHigh, double cell)
{
    const double step = std::max(FloatStepAt(faceLow), FloatStepAt(faceHigh));
    const double margin = 4.0 * step / cell;
    // A cell that is not a number, or so small that the floats cannot tell its faces apart,
    // gets the widest margin.
    return std::isnan(margin) ? 0.0625 : std::clamp(margin, 1.0 / 1024.0, 0.0625);
}

void SetCellVertexBoxes(CellVertexProblem& problem, const bool touchesLow[3],
    const bool touchesHigh[3], const std::array<double, 3>& margin)
{
    for (int k = 0; k < 3; ++k) {
        problem.searchLow.x[k] = touchesLow[k] ? 0.0 : -1.0;
        problem.searchHigh.x[k] = touchesHigh[k] ? 1.0 : 2.0;
        problem.clampLow.x[k] = touchesLow[k] ? margin[k] : -1.0;
        problem.clampHigh.x[k] = touchesHigh[k] ? 1.0 - margin[k] : 2.0;
    }
}

void JacobiEigen3(std::array<double, 9>& a, std::array<double, 3>& eigenvalues,
    std::array<double, 9>& v)
{
    v = {1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0};
    constexpr int pairs[3][2] = {{0, 1}, {0, 2}, {1, 2}};
    for (int sweep = 0; sweep < 32; ++sweep) {
        const double off = a[1] * a[1] + a[2] * a[2] + a[5] * a[5];
        const double diag = a[0] * a[0] + a[4] * a[4] + a[8] * a[8];
        if (diag * 1e-30 >= off || off == 0.0)
            break;
        for (const auto& pair : pairs) {
            const int p = pair[0];
            const int q = pair[1];
            const double apq = a[3 * p + q];
            if (apq == 0.0)
                continue;
            const double theta = (a[3 * q + q] - a[3 * p + p]) / (2.0 * apq);
            const double sign = theta < 0.0 ? -1.0 : 1.0;
            const double t = sign / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
            const double c = 1.0 / std::sqrt(t * t + 1.0);
            const double s = t * c;
            for (int r = 0; r < 3; ++r) {
                const double ap = a[3 * r + p];
                const double aq = a[3 * r + q];
                a[3 * r + p] = c * ap - s * aq;
                a[3 * r + q] = s * ap + c * aq;
            }
            for (int col = 0; col < 3; ++col) {
                const double ap = a[3 * p + col];
                const double aq = a[3 * q + col];
                a[3 * p + col] = c * ap - s * aq;
                a[3 * q + col] = s * ap + c * aq;
            }
            for (int r = 0; r < 3; ++r) {
                const double vp = v[3 * r + p];
                const double vq = v[3 * r + q];
                v[3 * r + p] = c * vp - s * vq;
                v[3 * r + q] = s * vp + c * vq;
            }
        }
    }
    eigenvalues = {a[0], a[4], a[8]};
}

Point3d SolveCellVertex(const CellVertexProblem& problem)
{
    const int n = problem.count;
    double m[3] = {0.0, 0.0, 0.0};
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k)
            m[k] += problem.points[i].x[k];
    for (int k = 0; k < 3; ++k)
        m[k] /= static_cast<double>(n > 0 ? n : 1);

    std::array<double, 9> a{};
    double b[3] = {0.0, 0.0, 0.0};
    for (int i = 0; i < n; ++i) {
        if (problem.useNormal[i] != 1)
            continue;
        const double* nv = problem.normals[i].x;
        const double* p = problem.points[i].x;
        const double d = nv[0] * (p[0] - m[0]) + nv[1] * (p[1] - m[1]) + nv[2] * (p[2] - m[2]);
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                a[3 * r + c] += nv[r] * nv[c];
            b[r] += nv[r] * d;
        }
    }
    std::array<double, 9> decomposed = a;
    std::array<double, 3> lambda{};
    std::array<double, 9> vectors{};
    JacobiEigen3(decomposed, lambda, vectors);
    const double lmax = std::max({lambda[0], lambda[1], lambda[2]});

    double result[3] = {m[0], m[1], m[2]};
    if (problem.sharpness > 0.0 && lmax > 1e-12) {
        const double f =
            std::clamp(0.01 / (problem.sharpness * problem.sharpness), 1e-6, 1.0);
        const double tau = lmax * f;
        for (int k = 0; k < 3; ++k) {
            if (!(lambda[k] > tau))
                continue;
            const double vb = vectors[k] * b[0] + vectors[3 + k] * b[1] + vectors[6 + k] * b[2];
            for (int r = 0; r < 3; ++r)
                result[r] += vb / lambda[k] * vectors[3 * r + k];
        }
        if (!InsideBox(result, problem.searchLow, problem.searchHigh)) {
            double regular[9];
            for (int i = 0; i < 9; ++i)
                regular[i] = a[i];
            for (int k = 0; k < 3; ++k)
                regular[4 * k] += 0.001 * lmax;
            SearchBoxCandidates(regular, b, m, problem, result);
        }
    }
    Point3d out;
    for (int k = 0; k < 3; ++k) {
        double x = result[k];
        if (x > problem.clampHigh.x[k])
            x = problem.clampHigh.x[k];
        else if (x < problem.clampLow.x[k])
            x = problem.clampLow.x[k];
        out.x[k] = x;
    }
    return out;
}

double QuadHeightAt(const Point3d quad[4], int i, int j, int k, double u, double w, int axis,
    double* smallestWeight)
{
    const int au = (axis + 1) % 3;
    const int aw = (axis + 2) % 3;
    const Point3d& a = quad[i];
    const Point3d& b = quad[j];
    const Point3d& c = quad[k];
    const double area = Cross2(Minus(b, a), Minus(c, a), au, aw);
    if (area == 0.0) {
        if (smallestWeight != nullptr)
            *smallestWeight = -1.0;
        return 0.0;
    }
    Point3d p;
    p.x[au] = u;
    p.x[aw] = w;
    const double wa = Cross2(Minus(b, p), Minus(c, p), au, aw) / area;
    const double wb = Cross2(Minus(c, p), Minus(a, p), au, aw) / area;
    const double wc = 1.0 - wa - wb;
    if (smallestWeight != nullptr)
        *smallestWeight = std::min({wa, wb, wc});
    return wa * a.x[axis] + wb * b.x[axis] + wc * c.x[axis];
}

namespace {

// A triangle narrower than this share of its longest edge.
constexpr double kSliverWidth = 1e-3;

bool IsSliver(const Point3d& a, const Point3d& b, const Point3d& c)
{
    const Point3d ab = Minus(b, a);
    const Point3d ac = Minus(c, a);
    const Point3d bc = Minus(c, b);
    const auto dot = [](const Point3d& p, const Point3d& q) { return p.x[0] * q.x[0] + p.x[1] * q.x[1] + p.x[2] * q.x[2]; };
    const double cx = Cross2(ab, ac, 1, 2);
    const double cy = Cross2(ab, ac, 2, 0);
    const double cz = Cross2(ab, ac, 0, 1);
    const double longest = std::max({dot(ab, ab), dot(ac, ac), dot(bc, bc)});
    // twice the area over the longest edge is the width across it
    return cx * cx + cy * cy + cz * cz <= kSliverWidth * kSliverWidth * longest * longest;
}

}  // namespace

bool SplitQuad(const Point3d quad[4], int axis, int orientation, bool useHeight,
    double crossingU, double crossingW, double crossingHeight, double cellSize)
{
    const int u = (axis + 1) % 3;
    const int w = (axis + 2) % 3;
    const double o = orientation;
    const Point3d& q0 = quad[0];
    const Point3d& q1 = quad[1];
    const Point3d& q2 = quad[2];
    const Point3d& q3 = quad[3];
    const double a012 = o * Cross2(Minus(q1, q0), Minus(q2, q0), u, w);
    const double a023 = o * Cross2(Minus(q2, q0), Minus(q3, q0), u, w);
    const double a013 = o * Cross2(Minus(q1, q0), Minus(q3, q0), u, w);
    const double a123 = o * Cross2(Minus(q2, q1), Minus(q3, q1), u, w);
    const bool valid02 = a012 > 0.0 && a023 > 0.0;
    const bool valid13 = a013 > 0.0 && a123 > 0.0;
    if (valid02 != valid13)
        return valid13;
    if (valid02) {
        // Three corners on one straight crease make a triangle of no width, which any later
        // move of one of them turns over: the other diagonal, whose triangles have width, wins.
        const bool sliver02 = IsSliver(q0, q1, q2) || IsSliver(q0, q2, q3);
        const bool sliver13 = IsSliver(q0, q1, q3) || IsSliver(q1, q2, q3);
        if (sliver02 != sliver13)
            return sliver02;
        if (!useHeight)
            return false;
        const int t013[3] = {0, 1, 3};
        const int t123[3] = {1, 2, 3};
        const int t012[3] = {0, 1, 2};
        const int t023[3] = {0, 2, 3};
        const double d13 =
            SplitHeightError(quad, t013, t123, crossingU, crossingW, crossingHeight, axis);
        const double d02 =
            SplitHeightError(quad, t012, t023, crossingU, crossingW, crossingHeight, axis)
            - 1e-7 * cellSize;
        return d02 > d13;
    }
    return std::min(a013, a123) > std::min(a012, a023);
}

}  // namespace grainforge::mesh
