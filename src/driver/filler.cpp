#include "driver/filler.h"

#include <cstdio>

namespace ps {

namespace {

// The texts hold percent signs, so they are written as they stand, never
// passed as a format.
void printPieces(const char* const* pieces, int count) {
  for (int i = 0; i < count; ++i) {
    if (pieces[i]) fputs(pieces[i], stdout);
  }
}

}  // namespace

void printLoremIpsum() { printPieces(loremIpsumPieces, loremIpsumPieceCount); }

void printBlenderLog() { printPieces(blenderLogPieces, blenderLogPieceCount); }

void printHoudiniLog() { printPieces(houdiniLogPieces, houdiniLogPieceCount); }

}  // namespace ps
