// The registry of field kinds: which class holds the value of each TIFF type.
//
// The container library fills in its numeric kinds; libvarden registers the
// ASCII and UNDEFINED kinds when it is loaded, so neither library has to
// link the other's symbols at build time in both directions.
#ifndef ORVANE_OSMER_FIELDKINDS_H
#define ORVANE_OSMER_FIELDKINDS_H

#include <memory>

#include "field.h"

using fieldMaker = std::unique_ptr<field> (*)(const entry& e);

// Registers the maker for a TIFF type (1..13); returns false for other types.
bool registerFieldKind(unsigned short tiffType, fieldMaker make);

// A new, unpopulated field for the entry, or null when no kind is
// registered for its type.
std::unique_ptr<field> makeField(const entry& e);

#endif
