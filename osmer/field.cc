#include "field.h"

// The key function: field's type information and virtual table live here.
field::~field() = default;
