// Calls of the maths library made by the code under test: the bench tests
// are linked with --wrap for sin, cos, atan and pow.
#pragma once

#include <atomic>
#include <ostream>

namespace ps {

struct _mathsCalls {
  long sin, cos, atan, pow;
};

extern std::atomic<long> sinCalls, cosCalls, atanCalls, powCalls;

inline _mathsCalls mathsCallsSoFar() { return {sinCalls.load(), cosCalls.load(), atanCalls.load(), powCalls.load()}; }

inline _mathsCalls operator-(const _mathsCalls& a, const _mathsCalls& b) {
  return {a.sin - b.sin, a.cos - b.cos, a.atan - b.atan, a.pow - b.pow};
}

inline bool operator==(const _mathsCalls& a, const _mathsCalls& b) {
  return a.sin == b.sin && a.cos == b.cos && a.atan == b.atan && a.pow == b.pow;
}

inline std::ostream& operator<<(std::ostream& out, const _mathsCalls& c) {
  return out << "sin " << c.sin << ", cos " << c.cos << ", atan " << c.atan << ", pow " << c.pow;
}

}  // namespace ps
