#include "jfif.h"

jfif::jfif(const char* name) : j_name(name ? name : "") { j_err = j_image.open(j_name.c_str()); }

void jfif::buildMarkerList(int) {
  j_kept.clear();
  // The walk goes through the whole file.  From the page cache one that is
  // not too large is read at once, in one read.  From slow storage, and a
  // larger one anyway, it is read in growing steps: the kernel then reads
  // ahead of each step while the last one is walked, and a file that cannot
  // be held fails where it must.
  if (j_image.size() <= readAtOnce && !fileImage::storageIsSlow())
    j_image.loadAll();
  else
    j_image.readOnward();
  j_walk.restart();
  jfif_marker m;
  while (j_walk.next(m)) {
    // The walk checked the segment against the file's size; its bytes are
    // read now, so that the list's walk meets no I/O error.
    j_image.load(static_cast<size_t>(m.offset()), m.len());
    if (j_kept.size() < keptMarkers) {
      j_kept.push_back(m);
      if (j_kept.size() == keptMarkers) j_afterKept = j_walk.at();
    }
  }
  // The walk is over; a list no longer than what is kept ends where it did.
  if (j_kept.size() < keptMarkers) j_afterKept = j_walk.at();
  j_listed = true;
  rewind();
}

void jfif::rewind() {
  j_next = 0;
  j_walking = false;
  if (!j_listed) j_walk.restart();
}

jfif_marker jfif::nextMarker(jfif_marker::type_t type) {
  while (!j_walking && j_next < j_kept.size()) {
    const jfif_marker& m = j_kept[j_next++];
    if (type == jfif_marker::jm_nada || m.type() == type) return m;
  }
  if (j_listed && !j_walking) {
    j_walk.resume(j_afterKept);
    j_walking = true;
  }
  jfif_marker m;
  while (j_walk.next(m))
    if (type == jfif_marker::jm_nada || m.type() == type) return m;
  if (j_walk.damage()) throw *j_walk.damage();
  return jfif_marker::null;
}
