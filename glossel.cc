// glossel: not written yet.
#include <iostream>
int main() { return 0; }
