#include "jfif.h"

#include "markerScanner.h"

jfif::jfif(const char* name) : j_name(name ? name : "") { j_err = j_image.open(j_name.c_str()); }

void jfif::buildMarkerList(int) {
  j_markers.clear();
  j_damage.reset();
  j_next = 0;
  markerScanner scan(j_image);
  jfif_marker m;
  while (scan.next(m)) j_markers.push_back(m);
  j_damage = scan.damage();
}

jfif_marker jfif::nextMarker(jfif_marker::type_t type) {
  while (j_next < j_markers.size()) {
    const jfif_marker& m = j_markers[j_next++];
    if (type == jfif_marker::jm_nada || m.type() == type) return m;
  }
  if (j_damage) throw *j_damage;
  return jfif_marker::null;
}
