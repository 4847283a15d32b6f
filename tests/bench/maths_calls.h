// Calls of the maths library made by the code under test: the bench tests
// are linked with --wrap for sin, cos, atan and pow.
#pragma once

#include <array>
#include <atomic>

namespace ps {

using _mathsCalls = std::array<long, 4>;  // sin, cos, atan, pow

extern std::atomic<long> sinCalls, cosCalls, atanCalls, powCalls;

inline _mathsCalls mathsCallsSoFar() { return {sinCalls.load(), cosCalls.load(), atanCalls.load(), powCalls.load()}; }

inline _mathsCalls operator-(const _mathsCalls& a, const _mathsCalls& b) {
  return {a[0] - b[0], a[1] - b[1], a[2] - b[2], a[3] - b[3]};
}

}  // namespace ps
