// The capture time of one file, whichever way it records one: the EXIF
// DateTimeOriginal of a photograph (util.h), or the time that a movie or a
// Canon CRW file records outside EXIF data.
#ifndef ORVANE_FILECAPTURETIME_H
#define ORVANE_FILECAPTURETIME_H

#include "exifLocator.h"
#include "util.h"

class exifHeader;

// The file's capture time in the zone asked for: its recorded time when
// its format has one instead of EXIF data, else DateTimeOriginal (or with
// captureTags::fallback the other EXIF dates) read as readCaptureTime reads
// it, with the fraction of the second when asked for (readSubSeconds).
// Throws the file's damage, or misc_error.
captureTime fileCaptureTime(exifHeader& header, captureZone zone, captureTags tags = captureTags::original,
                            bool fraction = false);

// A recorded time, checked and read:
//   - a movie's Keys date "YYYY-MM-DDTHH:MM:SS" followed by "Z", "+HHMM"
//     or "+HH:MM" (or "-"): the camera's wall clock with its offset, read
//     like DateTimeOriginal (in the local zone; with captureZone::camera at
//     its own offset); anything else throws " has an invalid creation date";
//   - a movie header's instant (UTC), whatever the zone;
//   - CRW's TimeStamp: the camera's wall clock (seconds as if UTC), read in
//     the local zone.
// None, or a time of 0 (its formats' "not set"), throws " does not contain
// a creation time".
captureTime readRecordedTime(const recordedTime& r, captureZone zone);

#endif
