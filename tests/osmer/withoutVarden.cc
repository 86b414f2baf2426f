// A program that links the container library but not libvarden: reading an
// EXIF set must fail with a report that names the missing library, not
// lose every ASCII field without a word.
#include <iostream>

#include "exceptions.h"
#include "exif.h"
#include "exifHeader.h"
#include "jfif.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    try {
      jfif file(argv[i]);
      exifHeader header(file);
      exif set(header);
      set.populate();
      std::cout << "read " << argv[i] << std::endl;
    } catch (const misc_error& e) {
      std::cout << "chronel:" << e.msg1() << " " << argv[i] << e.msg2() << "." << std::endl;
    }
  }
  return 0;
}
