// The registry of field kinds: which class holds the value of each TIFF type.
//
// The container library fills in its numeric kinds; libvarden registers the
// ASCII and UNDEFINED kinds when it is loaded, so neither library has to
// link the other's symbols at build time in both directions.  A program
// that does not load libvarden cannot read an EXIF set at all (see
// missingFieldKinds), rather than silently losing its ASCII fields.
#ifndef ORVANE_OSMER_FIELDKINDS_H
#define ORVANE_OSMER_FIELDKINDS_H

#include <memory>
#include <new>

#include "field.h"
#include "fieldArena.h"
#include "orvaneExport.h"

// Builds an unpopulated field for the entry in the arena.
using fieldMaker = field* (*)(fieldArena& arena, const entry& e);

// The maker of one kind.
template <class Kind>
field* makeFieldIn(fieldArena& arena, const entry& e) {
  return new (arena.allocate(sizeof(Kind), alignof(Kind))) Kind(e);
}

// Destroys a field built in an arena (the arena keeps its bytes).
struct destroyField {
  void operator()(field* f) const { f->~field(); }
};
using fieldPtr = std::unique_ptr<field, destroyField>;

// Registers the maker for a TIFF type (1..13); returns false for other types.
ORVANE_EXPORT bool registerFieldKind(unsigned short tiffType, fieldMaker make);

// A new, unpopulated field for the entry, built in the arena, or null when
// no kind is registered for its type.
ORVANE_EXPORT fieldPtr makeField(const entry& e, fieldArena& arena);

// The name of the library whose kinds are not registered (libvarden, when
// the ASCII or UNDEFINED kind is missing), or null when all are there.
ORVANE_EXPORT const char* missingFieldKinds();

#endif
