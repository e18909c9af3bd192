#pragma once
// The one function the executable exports: compress a buffer as a single zlib stream.

#ifdef _WIN32
// An executable exports nothing unless a symbol says so.
#define BSPLIFT_EXPORT __declspec(dllexport)
#else
#define BSPLIFT_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
// Compresses sourceLen bytes of source into dest at zlib's default level. *destLen holds the
// room in dest on entry and the compressed size on return. Returns zlib's status: Z_OK,
// Z_BUF_ERROR when dest is too small, Z_MEM_ERROR.
BSPLIFT_EXPORT int ezcompressTS2(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
                                 unsigned long sourceLen);
}
