// ORVANE_EXPORT marks what the suite's shared libraries offer each other and
// the tools.  The libraries are built with hidden visibility, so everything
// else stays inside its library: no dynamic symbol, no lookup at start-up,
// and internal calls go straight to their target.  Classes whose objects or
// exceptions cross libraries carry the mark for their type information too.
#ifndef ORVANE_OSMER_ORVANEEXPORT_H
#define ORVANE_OSMER_ORVANEEXPORT_H

#define ORVANE_EXPORT __attribute__((visibility("default")))
// A private member of an exported class that no other library calls.
#define ORVANE_LOCAL __attribute__((visibility("hidden")))

#endif
