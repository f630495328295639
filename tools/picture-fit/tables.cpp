// Raw table files and the properties of a finished picture.
#include "tables.h"

#include "files.h"
#include "output_file.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const FixedRecord FIXED_RECORDS[FIXED_RECORD_COUNT] = {
    {0, {255, 5, 255, 194, 3, 9}, 48},
    {1, {53, 255, 38, 0, 253, 255}, 43},
    {2, {206, 255, 255, 255, 231, 138}, 5},
    {17998, {78, 177, 79, 181, 126, 177}, 16},
    {17999, {241, 173, 236, 172, 243, 197}, 5},
};

static bool readFile(const std::string& path, size_t size, std::vector<uint8_t>& bytes,
                     std::string& error) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = "cannot open " + path;
        return false;
    }
    bytes.assign(size + 1, 0);
    size_t got = std::fread(bytes.data(), 1, size + 1, f);
    std::fclose(f);
    if (got != size) {
        error = path + " holds " + std::to_string(got) + (got > size ? "+" : "") +
                " bytes; " + std::to_string(size) + " expected";
        return false;
    }
    bytes.resize(size);
    return true;
}

bool writeTables(const Picture& picture, const std::string& trianglesPath,
                 const std::string& shadesPath, std::string& error) {
    std::vector<uint8_t> tri, shade;
    for (size_t i = 0; i < picture.triangles.size(); ++i) {
        const Triangle& t = picture.triangles[i];
        tri.insert(tri.end(), {t.x0, t.y0, t.x1, t.y1, t.x2, t.y2});
        shade.insert(shade.end(), {picture.greys[i], 0, 0});
    }
    // Both tables are complete under temporary names before either replaces
    // the real one, so a failure on the way leaves the old pair as it was.
    std::string triTemporary, shadeTemporary;
    if (!writeTemporary(trianglesPath, tri, triTemporary, error)) return false;
    if (!writeTemporary(shadesPath, shade, shadeTemporary, error)) {
        outputDiscard(triTemporary);
        return false;
    }
    if (!commitTemporary(triTemporary, trianglesPath, error)) {
        outputDiscard(shadeTemporary);
        return false;
    }
    return commitTemporary(shadeTemporary, shadesPath, error);
}

bool readTables(const std::string& trianglesPath, const std::string& shadesPath,
                Picture& picture, std::string& error) {
    std::vector<uint8_t> tri, shade;
    if (!readFile(trianglesPath, size_t(TRIANGLE_COUNT) * TRIANGLE_RECORD, tri, error) ||
        !readFile(shadesPath, size_t(TRIANGLE_COUNT) * SHADE_RECORD, shade, error))
        return false;
    picture.triangles.resize(TRIANGLE_COUNT);
    picture.greys.resize(TRIANGLE_COUNT);
    for (int i = 0; i < TRIANGLE_COUNT; ++i) {
        const uint8_t* r = &tri[size_t(i) * TRIANGLE_RECORD];
        picture.triangles[i] = {r[0], r[1], r[2], r[3], r[4], r[5]};
        picture.greys[i] = shade[size_t(i) * SHADE_RECORD];
    }
    return true;
}

TableFacts tableFacts(const Picture& picture) {
    TableFacts facts;
    const int n = int(picture.triangles.size());
    std::vector<uint8_t> covered(GRID * GRID, 0);
    double blockSum = 0;
    facts.blockMeanMin = 1e30;
    facts.blockMeanMax = 0;
    for (int i = 0; i < n; ++i) {
        const Triangle& t = picture.triangles[i];
        int a2 = twiceArea(t);
        if (a2 > 0) ++facts.clockwise;
        else if (a2 < 0) ++facts.counterClockwise;
        else ++facts.zeroArea;
        double area = std::abs(a2) / 2.0;
        facts.largestArea = std::max(facts.largestArea, area);
        blockSum += area;
        if ((i + 1) % BLOCK == 0) {
            facts.blockMeanMin = std::min(facts.blockMeanMin, blockSum / BLOCK);
            facts.blockMeanMax = std::max(facts.blockMeanMax, blockSum / BLOCK);
            blockSum = 0;
        }
        facts.greyMax = std::max<int>(facts.greyMax, picture.greys[i]);
        forEachSpan(t, [&](int y, int x0, int x1) {
            std::fill(&covered[y * GRID + x0], &covered[y * GRID + x1] + 1, 1);
        });
    }
    for (const FixedRecord& r : FIXED_RECORDS) {
        if (r.index >= n) continue;
        const Triangle& t = picture.triangles[r.index];
        if (std::memcmp(&t, &r.triangle, sizeof t) == 0 && picture.greys[r.index] == r.grey)
            ++facts.fixedRecordsMatching;
    }
    facts.uncoveredPoints = int(std::count(covered.begin(), covered.end(), 0));
    return facts;
}

std::vector<std::string> tableProblems(const TableFacts& f) {
    std::vector<std::string> problems;
    char line[160];
    auto add = [&](bool bad, const char* format, double a, double b) {
        if (!bad) return;
        std::snprintf(line, sizeof line, format, a, b);
        problems.push_back(line);
    };
    add(f.greyMax > GREY_MAX, "grey level %.0f above %.0f", f.greyMax, GREY_MAX);
    add(f.blockMeanMin < BLOCK_MEAN_MIN, "a block's mean area is %.1f, below %.0f",
        f.blockMeanMin, BLOCK_MEAN_MIN);
    add(f.blockMeanMax > BLOCK_MEAN_MAX, "a block's mean area is %.1f, above %.0f",
        f.blockMeanMax, BLOCK_MEAN_MAX);
    // "About half the grid": 40% of 256 x 256 or more.
    add(f.largestArea < 0.4 * GRID * GRID, "largest triangle %.0f, below %.0f",
        f.largestArea, 0.4 * GRID * GRID);
    int turning = f.clockwise + f.counterClockwise;
    add(std::abs(f.clockwise - f.counterClockwise) > turning / 20,
        "windings unbalanced: %.0f clockwise, %.0f counter-clockwise", f.clockwise,
        f.counterClockwise);
    add(f.zeroArea != ZERO_AREA_COUNT, "%.0f zero-area triangles, %.0f wanted", f.zeroArea,
        ZERO_AREA_COUNT);
    add(f.fixedRecordsMatching != FIXED_RECORD_COUNT, "%.0f of %.0f fixed records match",
        f.fixedRecordsMatching, FIXED_RECORD_COUNT);
    add(f.uncoveredPoints != 0, "%.0f of %.0f grid points never covered", f.uncoveredPoints,
        GRID * GRID);
    return problems;
}
