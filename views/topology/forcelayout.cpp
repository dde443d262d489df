#include "views/topology/forcelayout.h"

#include "views/topology/topologymodel.h"

#include <algorithm>
#include <cmath>

void linkPhase(const LinkList& links, float linkLength)
{
    for (const auto& link : links) {
        CNode* s = link->pFromNode;
        CNode* d = link->pToNode;
        // Only the horizontal offset enters: the vertical one stays 0.
        const float dx = float(s->nX - d->nX);
        const float dy = 0.0f;
        float dist = std::sqrt(dx * dx + dy * dy);
        if (dist == 0.0f)
            dist = 0.001f;
        const float f = (linkLength - dist) / (dist * 3.0f);
        const int mx = int(f * dx);
        const int my = int(f * dy);
        s->nX -= mx;
        s->nY -= my;
        d->nX += mx;
        d->nY += my;
    }
}

void repulsionPhase(const NodeList& nodes, LayoutRandom& random)
{
    // Positions copied into flat arrays: the pass over all pairs is the layout's cost.
    const std::size_t n = nodes.size();
    std::vector<int> xs(n), ys(n);
    for (std::size_t i = 0; i < n; ++i) {
        xs[i] = nodes[i]->nX;
        ys[i] = nodes[i]->nY;
    }
    for (std::size_t a = 0; a < n; ++a) {
        float sx = 0.0f, sy = 0.0f;
        const int ax = xs[a], ay = ys[a];
        for (std::size_t b = 0; b < n; ++b) {
            if (b == a)
                continue;
            const float vx = float(ax - xs[b]);
            const float vy = float(ay - ys[b]);
            const float q = vx * vx + vy * vy;
            if (q == 0.0f) {
                sx += float(random.next() % 3000);
                sy += float(random.next() % 3000);
            } else if (q < 10000.0f) {
                sx += vx / q;
                sy += vy / q;
            }
        }
        const float s = sx * sx + sy * sy;
        if (s > 0.0f) {
            const float k = std::sqrt(s) / 2.0f;
            xs[a] += int(sx / k);
            ys[a] += int(sy / k);
        }
    }
    for (std::size_t i = 0; i < n; ++i)
        nodes[i]->SetPosition(xs[i], ys[i]);
}

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
int fitted(int value, int min, int max, int canvasSize)
{
    const int extent = max - min;
    const float scale = extent > 0 ? float(canvasSize - 200) / float(extent) : 0.0f;
    return int(float(canvasSize / 2) + (float(value) - (float(min) + float(extent) / 2.0f)) * scale);
}
}  // namespace

void fitPhase(const NodeList& nodes, const BoundingBox& box, int canvasWidth, int canvasHeight)
{
    for (const auto& node : nodes)
        node->SetPosition(fitted(node->nX, box.minX, box.maxX, canvasWidth),
                          fitted(node->nY, box.minY, box.maxY, canvasHeight));
}

void forceLayout(const NodeList& nodes, const LinkList& links, int iterations, float linkLength, int canvasWidth,
                 int canvasHeight, LayoutRandom& random, unsigned seed)
{
    random.seed(seed);
    if (nodes.empty())
        return;
    for (int i = 0; i < iterations; ++i) {
        linkPhase(links, linkLength);
        repulsionPhase(nodes, random);
        fitPhase(nodes, boundingBox(nodes), canvasWidth, canvasHeight);
    }
}
