#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The run settings, each set only from the command line.
struct Settings {
    std::string file;              // point file to load
    bool kd = true;                // KD-tree candidate search; false: linear
    bool dots = true;              // draw the points
    bool mesh = true;              // draw the triangle sides
    bool tri = false;              // draw the triangles filled, on black
    double zoom = -25.0;           // added to the view translation along z
    double transx = 0.0;           // ... along x
    double transy = 0.0;           // ... along y
    std::string out;               // mesh file to write, if any
    bool view = true;              // open the window at all
    std::string shot;              // PNG to render the first frame into, if any
    bool fit = false;              // centre and scale the model to fill the frame
    double angle = 0.0;            // degrees the turning starts from
    bool report = false;           // count the surface's edges, holes and faults after the run
    bool clean = false;            // repair the surface before it is written or shown
    std::size_t holes = 30;        // the repair closes holes of at most this many edges
    std::string normals = "auto";  // auto, file or estimate: where normals come from
    long neighbours = 16;          // neighbours an estimated normal looks at
    int progress = -1;             // 1: show progress on standard error; 0: never; -1: when it is a terminal
    std::size_t frames = 0;        // the window closes after this many frames; 0: when the user closes it
    std::size_t tiles = 1;         // spatial tiles the points are cut into; 1: the single front
    std::size_t threads = 0;       // threads the tiles run on; 0: every core

    // What the scan found that sets nothing, for the messages the program
    // gives about it; each list in command-line order.
    bool help = false;                     // --help or -h was among the words
    std::vector<std::string> unknownKeys;  // keys of no setting
    std::vector<std::string> bareWords;    // words without a colon, the program's name left out
};

// Scans key:value words from the last to the first, so the leftmost
// occurrence of a key wins. Keys are case-sensitive; unknown keys and words
// without a colon set nothing (they are listed for the messages); values
// convert with atoi/atof rules and are never rejected. argv[0] is scanned
// for keys like any other word.
Settings scanCommandLine(int argc, const char* const* argv);

// Every key the scan knows, in the order the usage texts list them.
const std::vector<std::string>& knownKeys();

// The known key nearest to an unknown one: the same letters in another
// case, or up to two letters added, dropped, changed or swapped, or one
// key the start of the other. Empty when none is that close.
std::string closestKey(const std::string& unknown);
