// damageText: how the container library words damage, in one place.
//
// A damage report completes the line "chronel: FILE" + text + ".":
//   truncated("the PNG chunk header at offset 8 runs past the end of the file")
//     -> " is truncated: the PNG chunk header at offset 8 runs past the end of the file"
//   damaged("no marker at offset 2 (byte 0x00)")
//     -> " is damaged: no marker at offset 2 (byte 0x00)"
//   damagedIn("PNG file", "PNG chunk eXIf at offset 33 declares 4294967295 bytes of data")
//     -> " has a damaged PNG file: PNG chunk eXIf at offset 33 declares ..."
// The pieces of a text: atOffset(33) is " at offset 33", hexByte(0) "0x00",
// fourccText('VP8 ') "VP8" (printable ASCII without trailing blanks, else
// "0x0000ABCD").
#ifndef ORVANE_OSMER_DAMAGETEXT_H
#define ORVANE_OSMER_DAMAGETEXT_H

#include <cstdint>
#include <string>

#include "exceptions.h"
#include "orvaneExport.h"

namespace damageText {

ORVANE_EXPORT std::string atOffset(uint64_t pos);
ORVANE_EXPORT std::string hexByte(unsigned b);
ORVANE_EXPORT std::string fourccText(uint32_t code);

ORVANE_EXPORT misc_error truncated(const std::string& what);
ORVANE_EXPORT misc_error damaged(const std::string& what);
ORVANE_EXPORT misc_error damagedIn(const std::string& container, const std::string& what);

}  // namespace damageText

#endif
