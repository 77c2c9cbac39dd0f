// Every pattern's parameter table, typed independently from the pattern descriptions and
// checked entry by entry against what the factory hands out. The dialogs build their rows from
// these tables and the presets and project files store values under their keys, so a drifted
// key, label, limit or choice text is a fault the user sees or a preset that no longer loads.
#include "engine/textures/procedural_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace grainforge::mesh::procedural {
namespace {

using K = ParameterKind;

// One table entry as written: key, label, kind, minimum, maximum, default, step, choices, help.
// Numbers are float literals of the written decimals, so they compare exactly with the stored
// floats.
struct TypedEntry {
    std::string key;
    std::string label;
    ParameterKind kind;
    float minimum;
    float maximum;
    float defaultValue;
    float step;
    std::vector<std::string> choices;
    std::string help;
};

struct TypedTable {
    std::string name;
    bool repeats;
    std::vector<TypedEntry> entries;  // the pattern's own entries; "invert" follows them
};

const TypedEntry kSeed = {"seed", "Seed", K::Integer, 0, 999, 0, 1, {},
                          "Another seed is another pattern with the same look"};

const TypedEntry kInvert = {
    "invert", "Invert", K::Switch, 0, 1, 0, 1, {},
    "Turn the pattern inside out: what stood proud is cut in, and what was cut in stands proud"};

// The offered order of the patterns.
const std::vector<std::string> kRegistryNames = {
    "Noise",       "Wood",       "Bricks",       "Cells",         "Stripes",   "Wood Pores", "Penrose",
    "Rocks",       "Copper",     "Contours",     "Stars",         "Weave",     "Truchet",    "Hex Truchet",
    "Wire Mesh",   "Timber",     "Wood Rings",   "Caustic Rock",  "Penrose Tiles", "Flat Rock", "Trabecular",
    "Dots",        "Knurl",      "Tread Plate",  "Leather"};

const std::vector<TypedTable>& TypedTables()
{
    static const std::vector<TypedTable> tables = {
        {"Noise", true, {
            {"kind", "Kind", K::Choice, 0, 2, 0, 1, {"Fractal", "Uniform", "Blue"},
             "Fractal has detail at every scale and looks natural; Uniform has one size of feature and an even spread of heights, the matte of a blasted surface; Blue spreads its bumps evenly with no clumping at all - a fine even stipple"},
            {"scale", "Cells per tile", K::Integer, 1, 256, 6, 1, {},
             "How many noise cells span the tile: more is finer. Blue wants many - it is a stipple"},
            {"detail", "Detail", K::Real, 0, 8, 3, 0.1f, {},
             "Octaves of finer noise laid over the first (Fractal)"},
            {"roughness", "Roughness", K::Real, 0, 1, 0.5f, 0.01f, {},
             "How strong each finer octave is (Fractal)"},
            {"softness", "Softness", K::Real, 0, 1, 0, 0.01f, {},
             "0 leaves flat plateaus with a step between them; higher rounds the steps over (Uniform, Blue)"},
            {"spread", "Spread", K::Real, 0, 1, 0.7f, 0.01f, {},
             "How far the cells are scattered off a regular grid. Low keeps the roughness even (Uniform)"},
            {"shape", "Shape", K::Choice, 0, 2, 0, 1, {"Plain", "Bands", "Veins"},
             "How the field's value is read. Plain is the field itself; Bands folds it into contour lines, which is what makes marble; Veins folds it at three scales at once"},
            {"bands", "Bands", K::Real, 1, 32, 6, 0.1f, {},
             "How many times Bands or Veins folds the field over"},
            {"contrast", "Contrast", K::Real, 0, 2, 1, 0.01f, {},
             "1 as it comes; more spreads the heights apart"},
            kSeed,
        }},
        {"Wood", true, {
            {"rings", "Grain lines per tile", K::Integer, 1, 64, 12, 1, {},
             "How many lines cross the board"},
            {"direction", "Direction", K::Choice, 0, 2, 0, 1, {"Horizontal", "Vertical", "End grain (rings)"},
             "Which way the board runs, or the end of it"},
            {"wander", "Figure", K::Real, 0, 6, 4, 0.01f, {},
             "How far a line strays, in lines: past 1 they close into the arches of a flatsawn board"},
            {"figure", "Figure size", K::Integer, 1, 12, 1, 1, {},
             "Fewer is longer, broader sweeps"},
            {"stretch", "Stretch", K::Integer, 1, 8, 3, 1, {},
             "How much more the figure varies across the board than down it"},
            {"profile", "Line profile", K::Choice, 0, 2, 1, 1, {"Sine", "Saw", "Triangle"},
             "Saw is the hard edge of latewood; sine and triangle are softer"},
            {"fibre", "Fibre", K::Real, 0, 1, 0.45f, 0.01f, {},
             "The fine grain between the lines"},
            {"fibreLines", "Fibre fineness", K::Integer, 16, 512, 160, 1, {},
             "Fibres across the board"},
            {"contrast", "Contrast", K::Real, 0, 2, 1, 0.01f, {},
             "1 as it comes; more spreads the heights apart"},
            kSeed,
        }},
        {"Bricks", true, {
            {"rows", "Rows per tile", K::Integer, 1, 32, 8, 1, {},
             "Courses of bricks in the tile (rounded up to the offset period)"},
            {"bricks", "Bricks per row", K::Integer, 1, 32, 4, 1, {},
             "Bricks along one course"},
            {"mortar", "Mortar width", K::Real, 0, 0.45f, 0.1f, 0.01f, {},
             "As a share of the brick's smaller side"},
            {"mortarSmooth", "Mortar smoothness", K::Real, 0, 1, 0.3f, 0.01f, {},
             "How softly the joint meets the face"},
            {"bevel", "Bevel width", K::Real, 0, 0.25f, 0.04f, 0.01f, {},
             "How far the joint's slope extends into each brick, as a share of its smaller side"},
            {"offset", "Row offset", K::Real, 0, 1, 0.5f, 0.01f, {},
             "How far every offset course is shifted, in bricks"},
            {"offsetEvery", "Offset every", K::Integer, 1, 4, 2, 1, {},
             "Every Nth course is shifted"},
            {"variation", "Height variation", K::Real, 0, 1, 0, 0.01f, {},
             "Bricks sit at random heights"},
            {"roughness", "Face roughness", K::Real, 0, 1, 0, 0.01f, {},
             "Noise on the brick faces"},
            kSeed,
        }},
        {"Cells", true, {
            {"cells", "Cells per tile", K::Integer, 3, 64, 6, 1, {},
             "How many cells span the tile"},
            {"randomness", "Randomness", K::Real, 0, 1, 1, 0.01f, {},
             "0 is a regular grid, 1 is cells anywhere"},
            {"feature", "Look", K::Choice, 0, 2, 0, 1, {"Cobbles", "Crackle", "Grooves"},
             "Rounded cells, ridges between cells, or grooves along the cell edges"},
            {"metric", "Distance", K::Choice, 0, 2, 0, 1, {"Euclidean", "Manhattan", "Chebyshev"},
             "How distance is measured: round, diamond or square cells"},
            {"contrast", "Contrast", K::Real, 0, 2, 1, 0.01f, {},
             "1 as it comes; more spreads the heights apart"},
            kSeed,
        }},
        {"Leather", true, {
            {"cells", "Grains per tile", K::Integer, 3, 64, 18, 1, {},
             "More grains make a finer leather at the same tile size"},
            {"crease", "Crease width", K::Real, 0, 0.2f, 0.035f, 0.01f, {},
             "Width of the recessed crease, relative to one grain"},
            {"rounding", "Grain rounding", K::Real, 0.03f, 0.45f, 0.18f, 0.01f, {},
             "Width of the rounded shoulder from the crease to the grain face"},
            {"irregularity", "Grain irregularity", K::Real, 0, 1, 0.85f, 0.01f, {},
             "How far grain centres scatter from a regular grid"},
            {"warp", "Edge waviness", K::Real, 0, 0.4f, 0.18f, 0.01f, {},
             "Bends the crease lines in fractions of a grain"},
            {"roughness", "Fine roughness", K::Real, 0, 0.4f, 0.1f, 0.01f, {},
             "Fine surface relief on the raised grain"},
            kSeed,
        }},
        {"Stripes", true, {
            {"stripes", "Stripes per tile", K::Integer, 1, 64, 8, 1, {},
             "How many stripes span the tile"},
            {"direction", "Direction", K::Choice, 0, 2, 0, 1, {"Vertical", "Horizontal", "Diagonal"},
             "Which way the stripes run"},
            {"profile", "Profile", K::Choice, 0, 2, 0, 1, {"Sine", "Saw", "Triangle"},
             "The shape of one stripe"},
            {"sharpness", "Sharpness", K::Real, 0, 1, 0, 0.01f, {},
             "0 keeps the profile; 1 makes it a hard step"},
            {"phase", "Phase", K::Real, 0, 1, 0, 0.01f, {},
             "Slides the stripes by a share of one"},
            {"wander", "Wander", K::Real, 0, 1, 0, 0.01f, {},
             "How far each stripe wanders from straight, in stripe widths. 0 leaves them straight; 0.16 is the shader's"},
            {"waves", "Wanders per tile", K::Integer, 1, 32, 5, 1, {},
             "How many times a stripe swings to and fro along the tile"},
        }},
        {"Wood Pores", true, {
            {"density", "Density", K::Real, 0, 1, 0.5f, 0.01f, {},
             "How much of the surface is pore"},
            {"along", "Pores along the grain", K::Integer, 2, 64, 8, 1, {},
             "Fewer is longer pores: noise cells per tile along the grain"},
            {"across", "Rows across the grain", K::Integer, 8, 1024, 256, 1, {},
             "More is finer pores: noise cells per tile across the grain"},
            {"direction", "Direction", K::Choice, 0, 1, 0, 1, {"Horizontal", "Vertical"},
             "Which way the grain runs"},
            {"breakup", "Break-up", K::Real, 0, 1, 0.5f, 0.01f, {},
             "How much the pores cluster and break into shorter ones"},
            {"softness", "Edge softness", K::Real, 0, 1, 0.1f, 0.01f, {},
             "0 is a hard-edged pore; more is a rounded one"},
            {"depth", "Pore depth", K::Real, 0, 1, 1, 0.01f, {},
             "How deep a pore goes, of the strength"},
            kSeed,
        }},
        {"Penrose", false, {
            {"depth", "Tile size", K::Integer, 3, 8, 6, 1, {},
             "How many times the pattern is deflated: more is smaller tiles"},
            {"groove", "Groove", K::Real, 0, 1, 0.5f, 0.01f, {},
             "The v-groove between one tile and the next"},
            {"pyramid", "Centre rise", K::Real, 0, 1, 0.35f, 0.01f, {},
             "Each tile raised to a low pyramid"},
            {"fold", "Fold", K::Real, 0, 1, 0.5f, 0.01f, {},
             "Corners lifted; kites and darts fold opposite ways"},
            {"contrast", "Contrast", K::Real, 0, 2, 1, 0.01f, {},
             "1 as it comes; more spreads the heights apart"},
            kSeed,
        }},
        {"Rocks", true, {
            {"cells", "Stones per tile", K::Integer, 3, 24, 5, 1, {},
             "How many stones span the tile"},
            {"randomness", "Randomness", K::Real, 0, 1, 1, 0.01f, {},
             "0 lays the stones on a grid, 1 scatters them"},
            {"warp", "Warp", K::Real, 0, 0.05f, 0.01f, 0.001f, {},
             "Bends the coordinates so the stones are not too regular"},
            {"detail", "Detail", K::Real, 0, 1, 1, 0.01f, {},
             "The finer Voronoi layers over the big stones"},
            {"grain", "Grain", K::Real, 0, 1, 0.35f, 0.01f, {},
             "Fine noise over the whole surface"},
            {"metric", "Distance", K::Choice, 0, 2, 0, 1, {"Euclidean", "Manhattan", "Chebyshev"},
             "How distance is measured: rounded, faceted or blocky stones"},
            {"contrast", "Contrast", K::Real, 0, 2, 1, 0.01f, {},
             "1 as it comes; more spreads the heights apart"},
            kSeed,
        }},
        {"Copper", true, {
            {"scale", "Cells per tile", K::Integer, 2, 16, 4, 1, {},
             "How coarse the underlying noise is"},
            {"warp", "Warp", K::Real, 0, 8, 4, 0.1f, {},
             "How far the first noise drags the second"},
            {"swirl", "Swirl", K::Real, 0, 8, 7, 0.1f, {},
             "How far the second drags the third"},
            {"detail", "Detail", K::Real, 1, 7, 5, 0.1f, {},
             "Octaves in each of them"},
            {"pits", "Pitting", K::Real, 0, 1, 0.5f, 0.01f, {},
             "How much of the surface is eaten away"},
            {"ridges", "Rim", K::Real, 0, 1, 0.5f, 0.01f, {},
             "The raised lip round each pit"},
            {"phase", "Variation", K::Real, 0, 1, 0, 0.01f, {},
             "Slides the warp: another part of the same pattern"},
            {"contrast", "Contrast", K::Real, 0, 2, 1, 0.01f, {},
             "1 as it comes; more spreads the heights apart"},
            kSeed,
        }},
        {"Contours", true, {
            {"cells", "Cells per tile", K::Integer, 3, 10, 4, 1, {},
             "How many soft cells span the tile"},
            {"falloff", "Hardness", K::Real, 1, 8, 4, 0.1f, {},
             "Low melts the cells together; high keeps them apart"},
            {"lines", "Contours", K::Integer, 2, 48, 12, 1, {},
             "How many contour lines the field is cut into"},
            {"width", "Line width", K::Real, 0, 1, 0.5f, 0.01f, {},
             "How thick each contour is, as a share of the tile - the same everywhere it runs"},
            {"style", "Style", K::Choice, 0, 2, 0, 1, {"Contour lines", "Terraces", "Smooth cells"},
             "Lines standing on a floor, stepped plateaus, or the bare field"},
            {"randomness", "Randomness", K::Real, 0, 1, 1, 0.01f, {},
             "0 lays the cells on a grid, 1 scatters them"},
            {"contrast", "Contrast", K::Real, 0, 2, 1, 0.01f, {},
             "1 as it comes; more spreads the heights apart"},
            kSeed,
        }},
        {"Stars", true, {
            {"cells", "Stars per tile", K::Integer, 1, 32, 4, 1, {},
             "How many stars span the tile each way"},
            {"sharpness", "Point sharpness", K::Real, 1, 5, 2, 0.1f, {},
             "A point's length against its width. 1 is a plain grid of square pyramids, 2 the original star; higher sends the points further and shrinks the hollows between them"},
            {"lattice", "Lattice", K::Choice, 0, 1, 0, 1, {"Square", "Square and turned"},
             "Turned lays a second, finer lattice of stars at 45 degrees over the first"},
            {"style", "Style", K::Choice, 0, 2, 0, 1, {"Pyramids", "Rings", "Steps"},
             "A star-shaped pyramid, concentric ridges, or flat terraces"},
            {"rings", "Rings", K::Integer, 1, 16, 4, 1, {},
             "How many rings each star is cut into; Pyramids ignores this"},
            {"profile", "Ring profile", K::Choice, 0, 2, 0, 1, {"Sine", "Saw", "Triangle"},
             "The shape of each ring"},
            {"contrast", "Contrast", K::Real, 0, 2, 1, 0.01f, {},
             "1 as it comes; more spreads the heights apart"},
        }},
        {"Weave", true, {
            {"threads", "Threads per tile", K::Integer, 2, 64, 6, 1, {},
             "How many threads span the tile each way; rounded up to fit whole repeats of the weave"},
            {"float", "Weave float", K::Integer, 1, 8, 1, 1, {},
             "How many threads each one passes over before it dips under. 1 is a plain over-under weave; more leans the pattern into a twill"},
            {"gap", "Gap", K::Real, 0, 0.6f, 0.36f, 0.01f, {},
             "How much of each thread's pitch is the groove beside it"},
            {"round", "Thread rounding", K::Real, 0, 1, 0, 0.01f, {},
             "0 leaves the threads flat-topped as the original has them; 1 gives them a round section"},
            {"crossing", "Crossing depth", K::Real, 0, 1, 0.9f, 0.01f, {},
             "How much higher a thread sits where it passes over than where it passes under"},
            {"contrast", "Contrast", K::Real, 0, 2, 1.07f, 0.01f, {},
             "1 as it comes; more spreads the heights apart"},
        }},
        {"Truchet", true, {
            {"cells", "Cells per tile", K::Integer, 2, 32, 6, 1, {},
             "How many Truchet cells span the tile each way; rounded up to an even number"},
            {"rings", "Rings per cell", K::Integer, 1, 20, 7, 1, {},
             "How many rings are drawn about each corner. 7 is the original, and a whole number is what lets the scattered layout join up"},
            {"width", "Line width", K::Real, 0.05f, 1, 0.5f, 0.01f, {},
             "How much of each ring stands up. 0.5 is the original; less draws finer lines"},
            {"profile", "Line profile", K::Choice, 0, 1, 0, 1, {"Sine", "Triangle"},
             "The cross-section of each line. Both are symmetric, which is what the scattered layout needs; a saw would put a straight step along every cell edge"},
            {"layout", "Layout", K::Choice, 0, 1, 1, 1, {"Alternating", "Scattered"},
             "Scattered turns the cells at random, as the original does, and the curves wander; Alternating turns every other one, which closes them into a lattice of rings"},
            kSeed,
            {"contrast", "Contrast", K::Real, 0, 2, 1, 0.01f, {},
             "1 as it comes; more spreads the heights apart"},
        }},
        {"Hex Truchet", true, {
            {"hexes", "Hexagons across", K::Integer, 1, 24, 7, 1, {},
             "How many hexagons span the tile; the number down follows from it so they stay regular"},
            {"width", "Line width", K::Real, 0.02f, 0.5f, 0.15f, 0.01f, {},
             "How wide each loop stands, as a share of a hexagon's radius"},
            {"profile", "Line profile", K::Choice, 0, 1, 0, 1, {"Round", "Flat"},
             "A rounded bead or a flat-topped ribbon"},
            kSeed,
            {"contrast", "Contrast", K::Real, 0, 2, 1, 0.01f, {},
             "1 as it comes; more spreads the heights apart"},
        }},
        {"Wire Mesh", true, {
            {"hexes", "Openings across", K::Integer, 1, 24, 6, 1, {},
             "How many openings span the tile; the number down follows from it so they stay regular"},
            {"width", "Wire width", K::Real, 0.02f, 0.5f, 0.12f, 0.01f, {},
             "How thick each strut stands, as a share of an opening's radius"},
            {"roundness", "Hole roundness", K::Real, 0, 1, 0, 0.01f, {},
             "0 leaves straight struts and hexagonal holes; 1 bends them into rings with round holes. Past roundness x 0.134 over the wire width, a small opening appears where three meet"},
            {"profile", "Wire profile", K::Choice, 0, 1, 0, 1, {"Round", "Flat"},
             "A rounded wire or a flat ribbon"},
            {"contrast", "Contrast", K::Real, 0, 2, 1, 0.01f, {},
             "1 as it comes; more spreads the heights apart"},
        }},
        {"Timber", true, {
            {"cells", "Cells across the grain", K::Integer, 2, 64, 12, 1, {},
             "The coarse field the figure is built from; more is a finer board"},
            {"stretch", "Stretch along the grain", K::Integer, 1, 32, 7, 1, {},
             "How much longer the figure runs along the grain than across it"},
            {"direction", "Direction", K::Choice, 0, 1, 0, 1, {"Vertical", "Horizontal"},
             "Which way the grain runs"},
            {"figure", "Figure", K::Real, 0, 2, 1.1f, 0.01f, {},
             "How far the grain is bent from straight. 0 is a quartersawn board, high is wild flame"},
            {"rings", "Ring detail", K::Integer, 1, 9, 6, 1, {},
             "How many scales of ring are stacked into the grain"},
            {"sharpness", "Ring strength", K::Real, 0, 1, 0.3f, 0.01f, {},
             "How hard the rings cut into the figure"},
            {"blotch", "Blotch", K::Real, 0, 1, 0.4f, 0.01f, {},
             "Darker and lighter passages down the board"},
            {"fibre", "Fibre", K::Real, 0, 1, 0.2f, 0.01f, {},
             "The hairline pores along the grain"},
            {"contrast", "Contrast", K::Real, 0, 2, 1, 0.01f, {},
             "1 as it comes; more spreads the heights apart"},
            kSeed,
        }},
        {"Wood Rings", true, {
            {"rings", "Rings across the tile", K::Integer, 1, 64, 14, 1, {},
             "How many growth rings span the tile"},
            {"wander", "Wander", K::Real, 0, 20, 5, 0.1f, {},
             "How far the rings bend from straight, in ring widths"},
            {"cells", "Bend scale", K::Integer, 1, 32, 3, 1, {},
             "How large the bends are: few is long sweeping figure"},
            {"stretch", "Stretch along the grain", K::Integer, 1, 32, 6, 1, {},
             "How much longer the figure runs along the grain than across it"},
            {"direction", "Direction", K::Choice, 0, 1, 0, 1, {"Vertical", "Horizontal"},
             "Which way the rings run"},
            {"width", "Ring width", K::Real, 0.02f, 1, 0.3f, 0.01f, {},
             "How much of the space between rings each one fills"},
            {"variation", "Ring variation", K::Real, 0, 1, 0.8f, 0.01f, {},
             "How much the rings differ from one another in depth"},
            {"grain", "Grain", K::Real, 0, 1, 1, 0.01f, {},
             "Fine speckle on the rings and the board. 1 is the shader's; 0 leaves them clean"},
            {"fibre", "Grain stretch", K::Integer, 1, 16, 1, 1, {},
             "1 is the shader's round speckle; higher draws it out into fibres along the grain"},
            {"contrast", "Contrast", K::Real, 0, 2, 1, 0.01f, {},
             "1 as it comes; more spreads the heights apart"},
            kSeed,
        }},
        {"Caustic Rock", true, {
            {"cells", "Cells per tile", K::Integer, 2, 16, 8, 1, {},
             "How many of the large pools span the tile. At least 2: periodic noise one cell across has every lattice corner wrapped to the same one, and nearly vanishes"},
            {"octaves", "Ripples", K::Integer, 1, 24, 8, 1, {},
             "How many finer ripples are laid over the large ones"},
            {"focus", "Focus", K::Real, 0, 20, 1, 0.01f, {},
             "How far the light is gathered into lines. 0 is the bare ripples; 1 is the shader; higher is sharper and glassier"},
            {"brilliance", "Brilliance", K::Real, 0, 4, 1.3f, 0.01f, {},
             "How hard the gathered light is brightened: high leaves thin bright lines on dark pools"},
            {"contrast", "Contrast", K::Real, 0, 2, 1, 0.01f, {},
             "1 as it comes; more spreads the heights apart"},
            kSeed,
        }},
        {"Penrose Tiles", false, {
            {"levels", "Subdivision", K::Integer, 3, 10, 6, 1, {},
             "How many times the root rhombus is split. Each level is 1.6 times as many tiles across: about 8 at 5, 13 at 6, 21 at 7"},
            {"bevel", "Bevel", K::Real, 0.1f, 3, 1, 0.01f, {},
             "How wide the chamfer round each tile is. 1 is the shader's"},
            {"thin", "Thin tiles sunk", K::Real, 0, 1, 0.35f, 0.01f, {},
             "How far the thin rhombi sit below the thick ones. 0 leaves them level; 1 sinks them to the floor of the grooves"},
            {"contrast", "Contrast", K::Real, 0, 2, 1, 0.01f, {},
             "1 as it comes; more spreads the heights apart"},
        }},
        {"Flat Rock", true, {
            {"plates", "Plates per tile", K::Integer, 2, 32, 8, 1, {},
             "How many plates of stone span the tile"},
            {"sharpness", "Crease sharpness", K::Integer, 2, 32, 16, 1, {},
             "How flat each plate is and how crisp the creases between them. 16 is the shader's"},
            {"crumple", "Crumple", K::Real, 0, 1, 1, 0.01f, {},
             "The softer surface laid over the plates. 1 is the shader's; 0 leaves bare plates"},
            {"contrast", "Contrast", K::Real, 0, 2, 1, 0.01f, {},
             "1 as it comes; more spreads the heights apart"},
            kSeed,
        }},
        {"Trabecular", true, {
            {"cells", "Cells per tile", K::Integer, 2, 16, 4, 1, {},
             "How many bone cells span the tile"},
            {"thickness", "Strut thickness", K::Real, 0.01f, 0.25f, 0.06f, 0.005f, {},
             "How thick the struts are, as a share of a cell"},
            {"depth", "Depth", K::Real, 0.25f, 4, 2.5f, 0.05f, {},
             "How far down the view reaches, in cells. Struts deeper than this are not seen, and where a ray finds none the surface drops to the floor"},
            {"roughness", "Roughness", K::Real, 0, 1, 0.5f, 0.01f, {},
             "Pits and blobs on the struts, as the shader's spikes. 0 leaves them smooth"},
            {"contrast", "Contrast", K::Real, 0, 2, 1, 0.01f, {},
             "1 as it comes; more spreads the heights apart"},
            kSeed,
        }},
        {"Dots", true, {
            {"layout", "Layout", K::Choice, 0, 2, 2, 1, {"Square", "Staggered", "Hexagonal"},
             "Square is a grid; Staggered shifts every other row by half; Hexagonal packs them closest"},
            {"count", "Dots across", K::Integer, 1, 64, 8, 1, {},
             "How many dots span the tile"},
            {"size", "Dot size", K::Real, 0.05f, 1, 0.7f, 0.01f, {},
             "Diameter as a share of the spacing. At 1 neighbours touch"},
            {"shape", "Shape", K::Choice, 0, 3, 0, 1, {"Dome", "Boss", "Cone", "Cylinder"},
             "Dome is rounded; Boss is flat-topped with a tapered side; Cone is pointed; Cylinder is flat-topped and straight-sided"},
            {"softness", "Edge softness", K::Real, 0, 0.5f, 0.1f, 0.01f, {},
             "How much of the rim is rounded over, as a share of the radius"},
            {"contrast", "Contrast", K::Real, 0, 2, 1, 0.01f, {},
             "1 as it comes; more spreads the heights apart"},
        }},
        {"Knurl", true, {
            {"kind", "Kind", K::Choice, 0, 2, 0, 1, {"Diamond", "Straight", "Square"},
             "Diamond crosses the grooves at an angle; Straight is ridges along the axis; Square crosses them at right angles"},
            {"grooves", "Grooves across", K::Integer, 2, 128, 24, 1, {},
             "How many grooves cross the tile from side to side"},
            {"angle", "Angle", K::Real, 10, 60, 30, 0.5f, {},
             "The grooves' angle to the axis (Diamond). Rounded to the nearest that repeats across the tile"},
            {"flat", "Flat top", K::Real, 0, 0.8f, 0, 0.01f, {},
             "Truncates the pyramids into flat lands. 0 leaves them sharp"},
            {"contrast", "Contrast", K::Real, 0, 2, 1, 0.01f, {},
             "1 as it comes; more spreads the heights apart"},
        }},
        {"Tread Plate", true, {
            {"count", "Bars across", K::Integer, 2, 48, 8, 1, {},
             "How many bars span the tile; rounded up to an even number"},
            {"length", "Bar length", K::Real, 0.3f, 1.05f, 0.95f, 0.01f, {},
             "How long each bar is, as a share of its cell"},
            {"width", "Bar width", K::Real, 0.1f, 0.35f, 0.26f, 0.01f, {},
             "How wide each bar is, as a share of its cell"},
            {"edge", "Edge", K::Real, 0.05f, 1, 0.4f, 0.01f, {},
             "How much of each bar slopes up from the plate; the rest is its rounded top"},
            {"contrast", "Contrast", K::Real, 0, 2, 1, 0.01f, {},
             "1 as it comes; more spreads the heights apart"},
        }},
    };
    return tables;
}

const TypedTable& TypedTableOf(const std::string& name)
{
    const std::vector<TypedTable>& tables = TypedTables();
    const auto found =
        std::find_if(tables.begin(), tables.end(), [&](const TypedTable& table) { return table.name == name; });
    if (found == tables.end())
        throw std::logic_error("no typed table for " + name);
    return *found;
}

const char* KindName(ParameterKind kind)
{
    switch (kind) {
    case K::Real: return "Real";
    case K::Integer: return "Integer";
    case K::Choice: return "Choice";
    case K::Switch: return "Switch";
    }
    return "unknown kind";
}

std::string KeysOf(const std::vector<ParameterSpec>& table)
{
    std::ostringstream text;
    for (const ParameterSpec& spec : table)
        text << '"' << spec.key << "\" ";
    return text.str();
}

// Field by field, so a failure names the entry and the field that drifted.
void ExpectEntry(const ParameterSpec& actual, const TypedEntry& want, std::size_t index)
{
    const std::string at = "entry " + std::to_string(index) + " \"" + want.key + "\", field ";
    EXPECT_EQ(actual.key, want.key) << at << "key";
    EXPECT_EQ(actual.label, want.label) << at << "label";
    EXPECT_EQ(actual.help, want.help) << at << "help";
    EXPECT_STREQ(KindName(actual.kind), KindName(want.kind)) << at << "kind";
    EXPECT_EQ(actual.minimum, want.minimum) << at << "minimum";
    EXPECT_EQ(actual.maximum, want.maximum) << at << "maximum";
    EXPECT_EQ(actual.defaultValue, want.defaultValue) << at << "defaultValue";
    EXPECT_EQ(actual.step, want.step) << at << "step";
    EXPECT_EQ(actual.choices, want.choices) << at << "choices";
}

std::string TestNameOf(const testing::TestParamInfo<std::string>& info)
{
    std::string name = info.param;
    name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
    return name;
}

// Patterns not yet built into the program come back empty from the factory; their cases are
// skipped (and say so) rather than failed, so the tree stays green while they are written.
class PatternTable : public testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        pattern = CreateProceduralTexture(GetParam());
        if (!pattern)
            FAIL() << '"' << GetParam() << "\" not built: the factory returned nothing";
    }

    const TypedTable& typed = TypedTableOf(GetParam());
    std::unique_ptr<ProceduralTexture> pattern;
};

TEST_P(PatternTable, CombinedTableMatchesTheTypedEntriesThenInvert)
{
    EXPECT_EQ(pattern->Name(), typed.name);
    EXPECT_EQ(pattern->repeats, typed.repeats);
    const std::vector<ParameterSpec>& table = pattern->GetParameters();
    ASSERT_EQ(table.size(), typed.entries.size() + 1) << "keys: " << KeysOf(table);
    for (std::size_t i = 0; i < typed.entries.size(); ++i)
        ExpectEntry(table[i], typed.entries[i], i);
    ExpectEntry(table.back(), kInvert, table.size() - 1);
}

TEST_P(PatternTable, OwnTableIsTheCombinedTableWithoutInvert)
{
    const std::vector<ParameterSpec>& own = pattern->PatternParameters();
    ASSERT_EQ(own.size(), typed.entries.size()) << "keys: " << KeysOf(own);
    for (std::size_t i = 0; i < own.size(); ++i)
        ExpectEntry(own[i], typed.entries[i], i);
    EXPECT_EQ(&pattern->GetParameters(), &pattern->GetParameters()) << "the combined table is cached";
}

TEST_P(PatternTable, StartsAtTheDefaults)
{
    const std::size_t count = typed.entries.size() + 1;
    ASSERT_EQ(pattern->values.size(), count) << "one value per entry after the factory's reset";
    for (std::size_t i = 0; i < count; ++i) {
        const TypedEntry& want = i < typed.entries.size() ? typed.entries[i] : kInvert;
        EXPECT_EQ(pattern->values[i], want.defaultValue) << "entry " << i << " \"" << want.key << '"';
        EXPECT_EQ(pattern->GetValue(want.key), want.defaultValue) << "GetValue(\"" << want.key << "\")";
    }
}

std::vector<std::string> TypedNames()
{
    std::vector<std::string> names;
    for (const TypedTable& table : TypedTables())
        names.push_back(table.name);
    return names;
}

INSTANTIATE_TEST_SUITE_P(EveryPattern, PatternTable, testing::ValuesIn(TypedNames()), TestNameOf);

// Guards the typing itself: the rules every entry follows, so a slip in the data above shows
// here rather than as a puzzling mismatch, and comparing values with the raw defaults is sound
// (every default is already legal, so clamping it changes nothing).
TEST(TypedPatternTables, FollowTheEntryRules)
{
    ASSERT_EQ(TypedTables().size(), 25u);
    for (const TypedTable& table : TypedTables()) {
        std::set<std::string> keys;
        for (const TypedEntry& entry : table.entries) {
            const std::string at = table.name + " \"" + entry.key + "\"";
            EXPECT_TRUE(keys.insert(entry.key).second) << at << " twice";
            EXPECT_NE(entry.key, "invert") << at;
            EXPECT_FALSE(entry.label.empty() || entry.help.empty()) << at;
            EXPECT_LE(entry.minimum, entry.defaultValue) << at;
            EXPECT_LE(entry.defaultValue, entry.maximum) << at;
            EXPECT_NE(entry.kind, K::Switch) << at << ": patterns' own entries have no switch";
            if (entry.kind == K::Real) {
                EXPECT_TRUE(entry.choices.empty()) << at;
                continue;
            }
            EXPECT_EQ(entry.step, 1.0f) << at;
            for (float value : {entry.minimum, entry.maximum, entry.defaultValue})
                EXPECT_EQ(value, std::round(value)) << at;
            if (entry.kind == K::Choice) {
                EXPECT_EQ(entry.minimum, 0.0f) << at;
                EXPECT_EQ(entry.maximum, static_cast<float>(entry.choices.size()) - 1.0f) << at;
            } else {
                EXPECT_TRUE(entry.choices.empty()) << at;
            }
        }
    }
}

TEST(ProceduralTextureNames, FollowTheTypedRegistryOrder)
{
    EXPECT_EQ(ProceduralTextureNames(), kRegistryNames);
    std::vector<std::string> typed = TypedNames();
    std::vector<std::string> registry = kRegistryNames;
    std::sort(typed.begin(), typed.end());
    std::sort(registry.begin(), registry.end());
    EXPECT_EQ(typed, registry) << "one typed table per registered pattern";
}

}  // namespace
}  // namespace grainforge::mesh::procedural
