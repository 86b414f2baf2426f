// textHandlerMap: which handler renders the fields of each tag.
//
// plainHandlers::map is the default set: the plain handler for every tag.
#ifndef ORVANE_TELMAR_TEXTHANDLERMAP_H
#define ORVANE_TELMAR_TEXTHANDLERMAP_H

#include <utility>
#include <vector>

#include "textHandler.h"
#include "orvaneExport.h"

class ORVANE_EXPORT textHandlerMap {
 public:
  // The handler for the tag: one set for it, else the fallback; null when
  // there is neither.  The map keeps ownership.
  const textHandler* findHandler(unsigned short tag) const;

  // Sets (or, with null, removes) the handler of one tag.
  void setHandler(unsigned short tag, const textHandler* h);
  // The handler for tags that have none of their own (may be null).
  void setFallback(const textHandler* h) { thm_fallback = h; }

 private:
  std::vector<std::pair<unsigned short, const textHandler*>> thm_handlers;  // sorted
  const textHandler* thm_fallback = nullptr;
};

class ORVANE_EXPORT plainHandlers : public textHandlerMap {
 public:
  plainHandlers();
  static plainHandlers map;

 private:
  plainTextHandler ph_plain;
};

#endif
