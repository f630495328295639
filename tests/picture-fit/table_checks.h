// The properties every picture table pair keeps, as GoogleTest expectations
// over the raw file bytes: used on the committed tables and on tables a test
// has just fitted. Coverage is checked point by point with the edge functions,
// independently of the fitter's scan conversion.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "raster.h"

// The whole contents of a file; empty when it cannot be read.
std::vector<uint8_t> readRaw(const std::string& path);

// Their sizes; then 64 grey levels with zero padding, block sizes that do not
// trend and a giant reaching half the grid, balanced windings and 52 of zero
// area, the five telling records, and every grid point covered.
void expectValidTables(const std::vector<uint8_t>& tri, const std::vector<uint8_t>& shade);

// Whether one point is covered, by the edge functions alone: the reference
// the scan conversion (forEachSpan) is checked against; slow.
bool coversPoint(const Triangle& t, int px, int py);
