#include "jfif.h"

jfif::jfif(const char* name) : j_name(name ? name : "") { j_err = j_image.open(j_name.c_str()); }

void jfif::buildMarkerList(int) {
  j_kept.clear();
  // The walk goes through the whole file, read in growing steps of up to a
  // megabyte: each step is walked while it is still in the processor's
  // cache, and from slow storage the kernel reads ahead of each step while
  // the last one is walked.  (One read of the whole file took 1.2 to 1.3
  // times as long for photographs of 20 to 40 MB: the walk then went over
  // them a second time from main memory.)  A file that cannot be held fails
  // where it must.
  j_image.readOnward();
  if (j_image.size() > heldWhole) j_walk.letImageDataGo();
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
    if (type != jfif_marker::jm_nada && m.type() != type) continue;
    // An RSTn marker's page may have been let go with the image data.
    j_image.load(static_cast<size_t>(m.offset()), m.len());
    return m;
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
