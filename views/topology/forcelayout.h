// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The force-directed layout of the machine distribution view, in both dimensions:
// links pull their ends together, every node pushes away the nodes near it (a grid
// finds them, so a run costs about as much as the nodes and links it moves), and the
// result is fitted into the canvas less a margin of 100 pixels on every side.
//
// The layout draws no random numbers and reads no clock: the same nodes, links and
// positions always give the same picture. Positions are the nodes' integer corners;
// every float result written to them is truncated toward zero.

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

class CNode;
class CLink;

// The random start positions of new nodes.
class LayoutRandom {
public:
    void seed(unsigned value) { m_engine.seed(value); }
    // 0 .. 2^31 − 2.
    int next() { return int(m_engine() - 1); }

private:
    std::minstd_rand0 m_engine{1};
};

struct BoundingBox {
    int minX = 0, maxX = 0, minY = 0, maxY = 0;
};

struct CanvasSize {
    int width = 0, height = 0;
};

using NodeList = std::vector<std::unique_ptr<CNode>>;
using LinkList = std::vector<std::unique_ptr<CLink>>;

BoundingBox boundingBox(const NodeList& nodes);
// Centres the box in the canvas and stretches each axis to the canvas less 200
// pixels (less 2 `sideMargin` across). An axis of no extent puts every node on the
// canvas's middle line.
void fitPhase(const NodeList& nodes, const BoundingBox& box, int canvasWidth, int canvasHeight, int sideMargin = 100);

// The canvas the layout needs: the given one, grown in both directions (keeping its
// proportions) until the area inside the margins gives every node a square `spacing`
// pixels wide. Never smaller than the given one.
CanvasSize canvasForNodes(std::size_t nodeCount, float spacing, int canvasWidth, int canvasHeight);

// `iterations` rounds of the forces, then the fit. Nodes the layout has not placed
// before start next to the nodes they are linked to. The ideal distance between
// linked nodes follows from the canvas area per node. `heat` (1 after a change)
// limits each round's step to that share of the ideal distance and cools with
// every round, so that repeated runs settle.
void forceLayout(const NodeList& nodes, const LinkList& links, int iterations, int canvasWidth, int canvasHeight,
                 float& heat, int sideMargin = 100);

// How readable a layout is: node pairs whose circles come closer than one node
// diameter, and links whose line passes through the circle of a node they do not
// join (the two directions between two nodes are one line).
struct LayoutQuality {
    std::size_t nodePairs = 0;
    std::size_t closePairs = 0;
    std::size_t lines = 0;
    std::size_t linesThroughNodes = 0;
    double closeShare() const { return nodePairs ? double(closePairs) / double(nodePairs) : 0.0; }
};
LayoutQuality layoutQuality(const NodeList& nodes, const LinkList& links);
