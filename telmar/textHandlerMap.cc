#include "textHandlerMap.h"

#include <algorithm>

namespace {
bool tagBelow(const std::pair<unsigned short, const textHandler*>& p, unsigned short tag) {
  return p.first < tag;
}
}  // namespace

const textHandler* textHandlerMap::findHandler(unsigned short tag) const {
  auto hit = std::lower_bound(thm_handlers.begin(), thm_handlers.end(), tag, tagBelow);
  if (hit != thm_handlers.end() && hit->first == tag) return hit->second;
  return thm_fallback;
}

void textHandlerMap::setHandler(unsigned short tag, const textHandler* h) {
  auto hit = std::lower_bound(thm_handlers.begin(), thm_handlers.end(), tag, tagBelow);
  const bool present = hit != thm_handlers.end() && hit->first == tag;
  if (!h) {
    if (present) thm_handlers.erase(hit);
  } else if (present) {
    hit->second = h;
  } else {
    thm_handlers.insert(hit, {tag, h});
  }
}

plainHandlers plainHandlers::map;

plainHandlers::plainHandlers() { setFallback(&ph_plain); }
