// The properties every picture table pair keeps, as GoogleTest expectations
// over the raw file bytes: used on the committed tables and on tables a test
// has just fitted. Coverage is checked point by point with the edge functions,
// independently of the fitter's scan conversion.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The whole contents of a file; empty when it cannot be read.
std::vector<uint8_t> readRaw(const std::string& path);

void expectExactSizes(const std::vector<uint8_t>& tri, const std::vector<uint8_t>& shade);
void expectSixtyFourGreysAndZeroPadding(const std::vector<uint8_t>& shade);
void expectEvenSizesAndAGiant(const std::vector<uint8_t>& tri);
void expectBalancedWindingsAnd52ZeroAreas(const std::vector<uint8_t>& tri);
void expectTheFiveTellingRecords(const std::vector<uint8_t>& tri, const std::vector<uint8_t>& shade);
void expectEveryGridPointCovered(const std::vector<uint8_t>& tri);

// All of the above; stops after the sizes when they are wrong.
void expectValidTables(const std::vector<uint8_t>& tri, const std::vector<uint8_t>& shade);
