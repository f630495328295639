// The two picture tables as the program embeds them, their raw file format,
// and the records and properties every fitted picture keeps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "raster.h"

const int TRIANGLE_COUNT = 18000;
const int WINDOW = 300;              // triangles the viewer sees at once
const int BLOCK = 1500;              // triangles per block of the size check
const int BLOCK_MEAN_MIN = 460;      // square grid units
const int BLOCK_MEAN_MAX = 610;      // square grid units
const int ZERO_AREA_COUNT = 52;
const int GREY_MAX = 63;             // grey levels are 0..GREY_MAX
const int TRIANGLE_RECORD = 6;       // bytes: x0, y0, x1, y1, x2, y2
const int SHADE_RECORD = 3;          // bytes: grey, 0, 0

struct Picture {
    std::vector<Triangle> triangles;  // index order = drawing order
    std::vector<uint8_t> greys;       // one per triangle, 0..GREY_MAX
};

// Records that mark the stored picture; the fitter places them as they are.
struct FixedRecord {
    int index;
    Triangle triangle;
    uint8_t grey;
};
const int FIXED_RECORD_COUNT = 5;
extern const FixedRecord FIXED_RECORDS[FIXED_RECORD_COUNT];

// Raw files: triangles at 6 bytes a record, shades at 3 bytes a record with
// bytes 1 and 2 zero. Both return false and fill `error` on failure.
bool writeTables(const Picture& picture, const std::string& trianglesPath,
                 const std::string& shadesPath, std::string& error);
bool readTables(const std::string& trianglesPath, const std::string& shadesPath,
                Picture& picture, std::string& error);

// Facts about a full picture that the checks and the report are built on.
struct TableFacts {
    int greyMax = 0;
    double blockMeanMin = 0, blockMeanMax = 0;  // square grid units
    double largestArea = 0;                     // square grid units
    int clockwise = 0, counterClockwise = 0, zeroArea = 0;
    int fixedRecordsMatching = 0;
    int uncoveredPoints = 0;  // grid points no triangle covers
};
TableFacts tableFacts(const Picture& picture);

// One line per property the stored picture must keep and does not; empty when
// all hold.
std::vector<std::string> tableProblems(const TableFacts& facts);
