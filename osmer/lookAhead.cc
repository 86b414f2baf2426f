#include "lookAhead.h"

#include "fileImage.h"

void lookAhead::after(char** at) {
  if (!fileImage::storageIsSlow()) return;
  if (la_next <= at) la_next = at + 1;
  char** const end = la_last - at > window ? at + 1 + window : la_last;
  for (; la_next < end; ++la_next) fileImage::foresee(*la_next);
}
