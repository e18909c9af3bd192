#pragma once
// The one function the executable exports: compress a buffer as a single zlib stream.

extern "C" {
// Compresses sourceLen bytes of source into dest at zlib's default level. *destLen holds the
// room in dest on entry and the compressed size on return. Returns zlib's status: Z_OK,
// Z_BUF_ERROR when dest is too small, Z_MEM_ERROR.
__attribute__((visibility("default"))) int ezcompressTS2(unsigned char* dest, unsigned long* destLen,
                                                         const unsigned char* source, unsigned long sourceLen);
}
