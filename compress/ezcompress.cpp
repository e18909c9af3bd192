#include "compress/ezcompress.h"

#include <zlib.h>

extern "C" int ezcompressTS2(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
                             unsigned long sourceLen) {
  uLongf room = *destLen;
  int status = compress2(dest, &room, source, sourceLen, Z_DEFAULT_COMPRESSION);
  *destLen = room;
  return status;
}
