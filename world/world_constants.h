#pragma once
// The world's fixed numbers: its sizes, how the grid planes are addressed, where an
// agent's sites may lie, how far it searches for food, and what each gene of a genome
// is for. The World, its agent table and the indexes kept beside it are all built from
// these, so this header includes nothing of the world's own.
#include <cstdint>

constexpr int32_t kWorldWidth = 1000;
constexpr int32_t kWorldHeight = 400;
constexpr int32_t kCellCount = kWorldWidth * kWorldHeight;
constexpr int32_t kMaxAgents = 10000;
static_assert(kMaxAgents % 8 == 0, "passes over the table step eight slots at a time");
constexpr int32_t kGeneCount = 36;
constexpr int32_t kBandCount = 10;

// Every plane is stored column by column: cell (x, y) is element x * kWorldHeight + y.
// The cell below is the next element and the cell to the right kWorldHeight on, so the
// top and bottom rows continue into the neighbouring columns.
inline int32_t cell_index(int32_t x, int32_t y) { return x * kWorldHeight + y; }
constexpr int32_t kRowStep = 1;
constexpr int32_t kColumnStep = kWorldHeight;

// The eight cells around a cell as element offsets: the column to the left from its
// upper cell down, the cells above and below, the column to the right.
constexpr int32_t kAround[8] = {
    -kColumnStep - kRowStep, -kRowStep, kColumnStep - kRowStep, -kColumnStep,
    kColumnStep,             -kColumnStep + kRowStep, kRowStep,  kColumnStep + kRowStep,
};

// Sites are held this far inside the grid on every side.
constexpr int32_t kSiteLowest = 10;
constexpr int32_t kSiteHighestColumn = kWorldWidth - kSiteLowest;
constexpr int32_t kSiteHighestRow = kWorldHeight - kSiteLowest;
// A site gene g puts its site g eightieths of the way across the grid (before the
// bounds above), in double precision.
constexpr double kSiteGeneParts = 80.0;

// A forager's food search radius, in cells: it searches the rings out to it. A new
// agent starts at kBaseSearchRadius, and a forager searches at every update while its
// radius is at most that; beyond it each search is followed by a pause. A failed search
// widens the radius to kWidestSearchRadius, and a failure there kills. Walking wears
// the radius down, by the cells stepped, while it is above kLeastWornSearchRadius.
constexpr int32_t kBaseSearchRadius = 50;
constexpr int32_t kWidestSearchRadius = 1000;
constexpr int32_t kLeastWornSearchRadius = 20;

// Gene indexes, named after what each gene does. Every gene also sets one pixel of
// the agent's sprite; kGeneSpriteOnlyA and kGeneSpriteOnlyB do nothing else.
constexpr int32_t kGeneHomeColumn = 0;
constexpr int32_t kGeneHomeRow = 1;
constexpr int32_t kGeneRed = 2;
constexpr int32_t kGeneGreen = 3;
constexpr int32_t kGenePlantingPeriod = 4;  // updates between two plantings near a site
constexpr int32_t kGeneEnergyCeiling = 5;
constexpr int32_t kGeneTravelReserve = 6;  // below it an agent forages; scales brightness
constexpr int32_t kGeneBlue = 7;
constexpr int32_t kGeneStepThreshold = 8;  // distance beyond which the long step is taken
constexpr int32_t kGeneLongStep = 9;
constexpr int32_t kGeneWalkingCost = 10;     // energy per step, in sixtieths
constexpr int32_t kGenePlantingRadius = 11;  // plants only this near the site it heads for
constexpr int32_t kGeneSpecies = 12;
constexpr int32_t kGeneBreedingNeed = 13;  // food gathered before breeding
constexpr int32_t kGeneCrowdTolerance = 14;
constexpr int32_t kGeneSpriteOnlyA = 15;
constexpr int32_t kGeneHomeRadius = 16;
constexpr int32_t kGeneAwayColumn = 17;
constexpr int32_t kGeneAwayRow = 18;
constexpr int32_t kGeneContactRadius = 19;
constexpr int32_t kGenePlantingRing = 20;  // 8 genes: the ring around the planted cell
constexpr int32_t kGenePlantingFar = 28;   // 4 genes: the cells two away
constexpr int32_t kGeneRoamingMargin = 32;  // how far beyond the home radius it roams
constexpr int32_t kGenePositionMarker = 33;  // rewritten from the column every update
constexpr int32_t kGeneSpriteOnlyB = 34;
constexpr int32_t kGeneLifespan = 35;
