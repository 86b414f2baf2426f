// benchstart: the start-up floor.  A C++ program built and linked as the
// tools are (the shared C++ run-time, the same options) that writes one line
// and exits: what one run of any tool costs before it looks at a
// photograph.  Like the tools it writes through stdio, not the C++ streams,
// whose set-up would add 110,000 instructions that no tool spends.  Built
// twice: benchstartlibs also loads the suite's three libraries, as every
// tool does.
#include <cstdio>

int main() {
  std::fputs("benchstart: nothing to do\n", stdout);
  return 0;
}
