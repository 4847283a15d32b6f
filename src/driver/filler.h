#pragma once

// Fixed blocks of text printed before the test on request, to make the
// program's output larger: a Lorem ipsum text and two captured render logs.

namespace ps {

constexpr int loremIpsumPieceCount = 5;
constexpr int blenderLogPieceCount = 117;
constexpr int houdiniLogPieceCount = 173;

// The stored pieces of each block, in output order (log blocks: one line each).
extern const char* const loremIpsumPieces[loremIpsumPieceCount];
extern const char* const blenderLogPieces[blenderLogPieceCount];
extern const char* const houdiniLogPieces[houdiniLogPieceCount];

// Each writes its pieces to standard output, one write per piece, unflushed.
void printLoremIpsum();
void printBlenderLog();
void printHoudiniLog();

}  // namespace ps
