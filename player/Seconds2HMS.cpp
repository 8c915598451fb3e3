#include "Seconds2HMS.h"

namespace {
// The last two characters of the number behind "00", as the original formatting gives them.
std::string lastTwo(long n) {
  const std::string s = "00" + std::to_string(n);
  return s.substr(s.size() - 2);
}
}  // namespace

std::string Seconds2HMS(long seconds) {
  long t = seconds;
  const long h = t / 3600;
  t -= h * 3600;
  const long m = t / 60;
  const long sec = t - m * 60;
  if (h <= 0) return lastTwo(m) + ":" + lastTwo(sec);
  return lastTwo(h) + ":" + lastTwo(m) + ":" + lastTwo(sec);
}
