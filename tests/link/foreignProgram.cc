// A program of someone else's: built with the compiler's defaults, not
// through the suite's link function, it links libosmer and the system's C++
// run-time and uses both.  It lists a photograph's markers, compares them
// with the library's exported jfif_marker::null (data the program itself
// holds a copy of), catches the library's misc_error, and uses the C++
// run-time's streams and exceptions on its own.
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "exceptions.h"
#include "jfif.h"

int main(int argc, char** argv) {
  std::ostringstream out;
  for (int i = 1; i < argc; ++i) {
    try {
      jfif file(argv[i]);
      file.buildMarkerList(0);
      int markers = 0;
      while (!(file.nextMarker(jfif_marker::jm_nada) == jfif_marker::null)) ++markers;
      out << argv[i] << ": " << markers << " markers\n";
    } catch (const misc_error& e) {
      out << argv[i] << ":" << e.msg1() << e.msg2() << "\n";
    }
  }
  try {
    throw std::runtime_error("its own exception");
  } catch (const std::exception& e) {
    out << e.what() << "\n";
  }
  std::cout << out.str();
  return 0;
}
