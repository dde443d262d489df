// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/topology/forcelayout.h"

#include "views/topology/topologymodel.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

namespace {

// The pull toward the centre of all nodes, per pixel of distance. Against the
// repulsion between all nodes it keeps the nodes in a disc of about even density,
// parts that share no link included.
constexpr float kGravity = 3.0f;
// How far (in ideal distances) a node keeps off a line it does not belong to, and
// how hard it is pushed off.
constexpr float kLineClearance = 1.0f;
constexpr float kLinePush = 5.0f;
// Each round's steps shrink by this factor, so that repeated runs settle.
constexpr float kCooling = 0.9f;

struct Point {
    float x = 0, y = 0;
};

// A direction that differs from node to node, for nodes on the very same spot.
Point spreadDirection(std::size_t index)
{
    const float angle = float(index) * 2.3999632f;  // the golden angle: no two alike
    return {std::cos(angle), std::sin(angle)};
}

// The nodes in square cells over their bounding box, about four to a cell. Nodes
// in the 3 x 3 cells around a node are near; a farther cell acts through the sum of
// its nodes' weights at their weighted centre, on the centre of the node's cell, so
// that a round costs about the nodes plus the cells squared, not the nodes squared.
class CellGrid {
public:
    CellGrid(const std::vector<Point>& at, const std::vector<float>& weight) : m_at(at)
    {
        float minX = at[0].x, minY = at[0].y, maxX = minX, maxY = minY;
        for (const Point& p : at) {
            minX = std::min(minX, p.x);
            maxX = std::max(maxX, p.x);
            minY = std::min(minY, p.y);
            maxY = std::max(maxY, p.y);
        }
        const float area = std::max(maxX - minX, 1.0f) * std::max(maxY - minY, 1.0f);
        m_cell = std::max(std::sqrt(area / std::max(float(at.size()) / 4.0f, 1.0f)), 1.0f);
        m_minX = minX;
        m_minY = minY;
        m_columns = std::min(int((maxX - minX) / m_cell) + 1, 256);
        m_rows = std::min(int((maxY - minY) / m_cell) + 1, 256);
        const std::size_t cells = std::size_t(m_columns) * std::size_t(m_rows);
        m_first.assign(cells, -1);
        m_next.assign(at.size(), -1);
        m_mass.assign(cells, 0.0f);
        m_centre.assign(cells, Point());
        for (std::size_t i = at.size(); i-- > 0;) {
            const std::size_t c = cellOf(at[i]);
            m_next[i] = m_first[c];
            m_first[c] = int(i);
            m_mass[c] += weight[i];
            m_centre[c].x += weight[i] * at[i].x;
            m_centre[c].y += weight[i] * at[i].y;
        }
        for (std::size_t c = 0; c < cells; ++c)
            if (m_mass[c] > 0) {
                m_centre[c].x /= m_mass[c];
                m_centre[c].y /= m_mass[c];
            }
    }

    // Calls near(j) for every node j but i in the 3 x 3 cells around node i's.
    template <typename Near>
    void forNear(std::size_t i, Near near) const
    {
        const int cx = column(m_at[i].x), cy = row(m_at[i].y);
        for (int y = std::max(cy - 1, 0); y <= std::min(cy + 1, m_rows - 1); ++y)
            for (int x = std::max(cx - 1, 0); x <= std::min(cx + 1, m_columns - 1); ++x)
                for (int j = m_first[std::size_t(y) * std::size_t(m_columns) + std::size_t(x)]; j >= 0;
                     j = m_next[std::size_t(j)])
                    if (std::size_t(j) != i)
                        near(std::size_t(j));
    }

    // The push k² · mass / d of all the cells beyond the 3 x 3 around each cell, on
    // a unit of weight at the cell's centre; shared by the cell's nodes.
    std::vector<Point> farPushes(float ideal) const
    {
        const std::size_t cells = m_mass.size();
        std::vector<Point> push(cells);
        for (std::size_t c = 0; c < cells; ++c) {
            if (m_mass[c] <= 0)
                continue;
            const int cx = int(c % std::size_t(m_columns)), cy = int(c / std::size_t(m_columns));
            for (std::size_t e = 0; e < cells; ++e) {
                const int ex = int(e % std::size_t(m_columns)), ey = int(e / std::size_t(m_columns));
                if (m_mass[e] <= 0 || (std::abs(ex - cx) <= 1 && std::abs(ey - cy) <= 1))
                    continue;
                const float dx = m_centre[c].x - m_centre[e].x, dy = m_centre[c].y - m_centre[e].y;
                const float f = ideal * ideal * m_mass[e] / std::max(dx * dx + dy * dy, 0.01f);
                push[c].x += dx * f;
                push[c].y += dy * f;
            }
        }
        return push;
    }
    std::size_t cellOfNode(std::size_t i) const { return cellOf(m_at[i]); }

    // Calls visit(j) for every node j in the cells that the box around the line
    // from p to q, widened by margin, touches.
    template <typename Visit>
    void forAlong(const Point& p, const Point& q, float margin, Visit visit) const
    {
        const int x0 = column(std::min(p.x, q.x) - margin), x1 = column(std::max(p.x, q.x) + margin);
        const int y0 = row(std::min(p.y, q.y) - margin), y1 = row(std::max(p.y, q.y) + margin);
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                for (int j = m_first[std::size_t(y) * std::size_t(m_columns) + std::size_t(x)]; j >= 0;
                     j = m_next[std::size_t(j)])
                    visit(std::size_t(j));
    }

private:
    int column(float x) const { return std::clamp(int((x - m_minX) / m_cell), 0, m_columns - 1); }
    int row(float y) const { return std::clamp(int((y - m_minY) / m_cell), 0, m_rows - 1); }
    std::size_t cellOf(const Point& p) const { return std::size_t(row(p.y)) * std::size_t(m_columns) + std::size_t(column(p.x)); }

    const std::vector<Point>& m_at;
    float m_cell, m_minX, m_minY;
    int m_columns, m_rows;
    std::vector<int> m_first, m_next;
    std::vector<float> m_mass;
    std::vector<Point> m_centre;
};

// Nodes the layout has not placed yet go next to the nodes they are linked to and
// already placed, on the side of their start position; a node with no placed
// partner keeps its start position.
void placeNewNodes(const NodeList& nodes, const std::vector<std::size_t>& ends, std::vector<Point>& at,
                   float distance)
{
    std::vector<std::vector<std::size_t>> partners(nodes.size());
    for (std::size_t e = 0; e + 1 < ends.size(); e += 2) {
        const std::size_t a = ends[e], b = ends[e + 1];
        if (a != b && (!nodes[a]->bPlaced || !nodes[b]->bPlaced)) {
            partners[a].push_back(b);
            partners[b].push_back(a);
        }
    }
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        CNode& node = *nodes[i];
        if (node.bPlaced)
            continue;
        Point mean;
        int count = 0;
        for (std::size_t j : partners[i])
            if (nodes[j]->bPlaced) {
                mean.x += at[j].x;
                mean.y += at[j].y;
                ++count;
            }
        if (count > 0) {
            mean.x /= float(count);
            mean.y /= float(count);
            Point d{at[i].x - mean.x, at[i].y - mean.y};
            const float length = std::sqrt(d.x * d.x + d.y * d.y);
            d = length > 0.5f ? Point{d.x / length, d.y / length} : spreadDirection(i);
            at[i] = {mean.x + d.x * distance, mean.y + d.y * distance};
        }
        node.bPlaced = true;
    }
}

// One round: every node takes the sum of its forces, at most `step` pixels long.
void forceRound(const std::vector<std::size_t>& ends, std::vector<Point>& at, float ideal, float step)
{
    const std::size_t n = at.size();
    std::vector<Point> move(n);
    // Partners per node (each direction of a pair counts half).
    std::vector<float> degree(n, 0.0f), weight(n);
    for (std::size_t e = 0; e + 1 < ends.size(); e += 2)
        if (ends[e] != ends[e + 1]) {
            degree[ends[e]] += 0.5f;
            degree[ends[e + 1]] += 0.5f;
        }
    for (std::size_t i = 0; i < n; ++i)
        weight[i] = std::sqrt(1.0f + degree[i]);
    // Repulsion k²/d between all nodes, stronger between busy ones: a host with many
    // partners gets the room to show their links side by side. A pull toward the
    // centre keeps parts that are not linked to each other together.
    const CellGrid grid(at, weight);
    const std::vector<Point> farPush = grid.farPushes(ideal);
    Point centre;
    for (const Point& p : at) {
        centre.x += p.x / float(n);
        centre.y += p.y / float(n);
    }
    for (std::size_t i = 0; i < n; ++i) {
        auto push = [&](float dx, float dy, float mass, std::size_t self) {
            float d2 = dx * dx + dy * dy;
            if (d2 < 0.01f) {
                // The same spot: each of the two leaves in its own direction.
                const Point away = spreadDirection(self);
                dx = away.x;
                dy = away.y;
                d2 = 0.01f;
            }
            const float f = ideal * ideal / d2 * weight[i] * mass;
            move[i].x += dx * f;
            move[i].y += dy * f;
        };
        grid.forNear(i, [&](std::size_t j) { push(at[i].x - at[j].x, at[i].y - at[j].y, weight[j], i); });
        const Point& far = farPush[grid.cellOfNode(i)];
        move[i].x += far.x * weight[i];
        move[i].y += far.y * weight[i];
        move[i].x += (centre.x - at[i].x) * kGravity * weight[i];
        move[i].y += (centre.y - at[i].y) * kGravity * weight[i];
    }
    // A node close to a line it does not belong to leaves it sideways, so that no
    // line seems to run through it.
    const float clearance = ideal * kLineClearance;
    for (std::size_t e = 0; e + 1 < ends.size(); e += 2) {
        const std::size_t a = ends[e], b = ends[e + 1];
        if (a == b)
            continue;
        const float vx = at[b].x - at[a].x, vy = at[b].y - at[a].y;
        const float length2 = vx * vx + vy * vy;
        // Long lines cross a tangle anyway, and would cost a visit to many cells.
        if (length2 < 1.0f || length2 > 9.0f * ideal * ideal)
            continue;
        grid.forAlong(at[a], at[b], clearance, [&](std::size_t i) {
            if (i == a || i == b)
                return;
            const float px = at[i].x - at[a].x, py = at[i].y - at[a].y;
            const float t = (px * vx + py * vy) / length2;
            if (t <= 0.0f || t >= 1.0f)
                return;
            float dx = px - t * vx, dy = py - t * vy;
            float d = std::sqrt(dx * dx + dy * dy);
            if (d >= clearance)
                return;
            if (d < 0.01f) {
                dx = -vy;
                dy = vx;
                d = std::sqrt(length2);
            }
            const float push = (clearance - d) / d * kLinePush;
            move[i].x += dx * push;
            move[i].y += dy * push;
        });
    }
    // Attraction d²/k along every link.
    for (std::size_t e = 0; e + 1 < ends.size(); e += 2) {
        const std::size_t a = ends[e], b = ends[e + 1];
        if (a == b)
            continue;
        const float dx = at[a].x - at[b].x, dy = at[a].y - at[b].y;
        const float d = std::sqrt(dx * dx + dy * dy);
        const float pull = d / ideal;  // (d² / k) along (dx, dy) / d
        move[a].x -= dx * pull;
        move[a].y -= dy * pull;
        move[b].x += dx * pull;
        move[b].y += dy * pull;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const float length = std::sqrt(move[i].x * move[i].x + move[i].y * move[i].y);
        if (length > step) {
            move[i].x *= step / length;
            move[i].y *= step / length;
        }
        at[i].x += move[i].x;
        at[i].y += move[i].y;
    }
}

}  // namespace

BoundingBox boundingBox(const NodeList& nodes)
{
    BoundingBox box;
    if (nodes.empty())
        return box;
    box.minX = box.maxX = nodes.front()->nX;
    box.minY = box.maxY = nodes.front()->nY;
    for (const auto& node : nodes) {
        box.minX = std::min(box.minX, node->nX);
        box.maxX = std::max(box.maxX, node->nX);
        box.minY = std::min(box.minY, node->nY);
        box.maxY = std::max(box.maxY, node->nY);
    }
    return box;
}

namespace {
// One axis of the fit. With no extent the scale is 0, which puts every node on the
// middle line instead of dividing by zero.
int fitted(int value, int min, int max, int canvasSize, int margin = 100)
{
    const int extent = max - min;
    const float scale = extent > 0 ? float(std::max(canvasSize - 2 * margin, 0)) / float(extent) : 0.0f;
    return int(float(canvasSize / 2) + (float(value) - (float(min) + float(extent) / 2.0f)) * scale);
}
}  // namespace

void fitPhase(const NodeList& nodes, const BoundingBox& box, int canvasWidth, int canvasHeight, int sideMargin)
{
    for (const auto& node : nodes)
        node->SetPosition(fitted(node->nX, box.minX, box.maxX, canvasWidth, sideMargin),
                          fitted(node->nY, box.minY, box.maxY, canvasHeight));
}

CanvasSize canvasForNodes(std::size_t nodeCount, float spacing, int canvasWidth, int canvasHeight)
{
    const double innerW = std::max(canvasWidth - 200, 1), innerH = std::max(canvasHeight - 200, 1);
    const double needed = double(nodeCount) * double(spacing) * double(spacing);
    if (innerW * innerH >= needed)
        return {canvasWidth, canvasHeight};
    const double grow = std::sqrt(needed / (innerW * innerH));
    return {int(std::ceil(innerW * grow)) + 200, int(std::ceil(innerH * grow)) + 200};
}

void forceLayout(const NodeList& nodes, const LinkList& links, int iterations, int canvasWidth, int canvasHeight,
                 float& heat, int sideMargin)
{
    if (nodes.empty())
        return;
    const std::size_t n = nodes.size();
    std::vector<Point> at(n);
    for (std::size_t i = 0; i < n; ++i)
        at[i] = {float(nodes[i]->nX), float(nodes[i]->nY)};

    // Link ends as node indexes, found once for all rounds.
    std::vector<std::size_t> ends;
    ends.reserve(2 * links.size());
    {
        std::vector<std::pair<const CNode*, std::size_t>> sorted;
        for (std::size_t i = 0; i < n; ++i)
            sorted.emplace_back(nodes[i].get(), i);
        std::sort(sorted.begin(), sorted.end());
        auto indexOf = [&](const CNode* node) {
            return std::lower_bound(sorted.begin(), sorted.end(), std::make_pair(node, std::size_t(0)))->second;
        };
        for (const auto& link : links) {
            ends.push_back(indexOf(link->pFromNode));
            ends.push_back(indexOf(link->pToNode));
        }
    }
    // The ideal distance: the side of the square each node gets inside the margins.
    const float area = float(std::max(canvasWidth - 200, 1)) * float(std::max(canvasHeight - 200, 1));
    const float ideal = std::sqrt(area / float(n));
    placeNewNodes(nodes, ends, at, ideal / 2.0f);

    for (int round = 0; round < iterations; ++round) {
        forceRound(ends, at, ideal, ideal * heat);
        heat *= kCooling;
    }
    for (std::size_t i = 0; i < n; ++i)
        nodes[i]->SetPosition(int(at[i].x), int(at[i].y));
    fitPhase(nodes, boundingBox(nodes), canvasWidth, canvasHeight, sideMargin);
}

LayoutQuality layoutQuality(const NodeList& nodes, const LinkList& links)
{
    LayoutQuality q;
    const std::size_t n = nodes.size();
    q.nodePairs = n * (n - (n > 0 ? 1 : 0)) / 2;
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j) {
            const float dx = float(nodes[i]->centreX() - nodes[j]->centreX());
            const float dy = float(nodes[i]->centreY() - nodes[j]->centreY());
            const float diameter = 2.0f * std::max(nodes[i]->radius(), nodes[j]->radius());
            if (dx * dx + dy * dy < diameter * diameter)
                ++q.closePairs;
        }
    std::set<std::pair<const CNode*, const CNode*>> lines;
    for (const auto& link : links) {
        const CNode* a = std::min(link->pFromNode, link->pToNode);
        const CNode* b = std::max(link->pFromNode, link->pToNode);
        if (a == b || !lines.insert({a, b}).second)
            continue;
        const float ax = float(a->centreX()), ay = float(a->centreY());
        const float vx = float(b->centreX()) - ax, vy = float(b->centreY()) - ay;
        const float length2 = vx * vx + vy * vy;
        for (const auto& node : nodes) {
            if (node.get() == a || node.get() == b)
                continue;
            const float px = float(node->centreX()) - ax, py = float(node->centreY()) - ay;
            const float t = length2 > 0 ? std::clamp((px * vx + py * vy) / length2, 0.0f, 1.0f) : 0.0f;
            const float dx = px - t * vx, dy = py - t * vy;
            if (dx * dx + dy * dy < node->radius() * node->radius()) {
                ++q.linesThroughNodes;
                break;
            }
        }
    }
    q.lines = lines.size();
    return q;
}
