#include "nullField.h"

entry nullField::nf_e;
