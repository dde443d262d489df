#pragma once
// The force-directed layout of the machine distribution view: links pull their ends
// apart horizontally, nearby nodes push each other away, and the result is fitted
// into the canvas less a margin of 100 pixels on every side.
//
// Positions are the nodes' integer corners; every float result written to them is
// truncated toward zero. Each phase updates positions in place, so later items see
// the moves of earlier ones.

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

class CNode;
class CLink;

// The layout's random numbers, reseeded at every run.
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

using NodeList = std::vector<std::unique_ptr<CNode>>;
using LinkList = std::vector<std::unique_ptr<CLink>>;

// Each link moves its two ends apart (or together) along x toward its rest length.
void linkPhase(const LinkList& links, float linkLength);
// Each node takes a step of length 2 away from the nodes closer than 100 pixels;
// a node on the very spot of another draws a random push.
void repulsionPhase(const NodeList& nodes, LayoutRandom& random);
BoundingBox boundingBox(const NodeList& nodes);
// Centres the box in the canvas and stretches each axis to the canvas less 200
// pixels. An axis of no extent puts every node on the canvas's middle line.
void fitPhase(const NodeList& nodes, const BoundingBox& box, int canvasWidth, int canvasHeight);

// `iterations` rounds of the four phases, the random numbers seeded with `seed`.
void forceLayout(const NodeList& nodes, const LinkList& links, int iterations, float linkLength, int canvasWidth,
                 int canvasHeight, LayoutRandom& random, unsigned seed);
