// benchstart: the start-up floor.  A C++ program built and linked as the
// tools are (the shared C++ runtime, the same options) that prints one line
// through the C++ streams and exits: what one run of any tool costs before
// it looks at a photograph.  Built twice: benchstartlibs also loads the
// suite's three libraries, as every tool does.
#include <iostream>

int main() {
  std::cout << "benchstart: nothing to do\n";
  return 0;
}
