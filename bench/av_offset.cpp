// Lip sync of a recording of the virtual card's sync marks ("sync_marks": true): the offset of each
// white picture's beep, and last the largest.
//
//   av_offset FILE.avi
#include "bench/avsync.h"

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE.avi\n", argv[0]);
    return 2;
  }
  const orv::avsync::Analysis a = orv::avsync::Analyse(argv[1]);
  std::fputs(orv::avsync::Report(a).c_str(), a.error.empty() ? stdout : stderr);
  return a.error.empty() && !a.pairs.empty() ? 0 : 1;
}
