#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "compress/ezcompress.h"

namespace {

std::vector<unsigned char> Sample(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<unsigned char> data(size);
  // Mostly a small alphabet, so that the data compresses and the stream is not just stored blocks.
  for (auto& b : data) b = static_cast<unsigned char>("BSP upgrade "[rng() % 12]);
  return data;
}

TEST(Ezcompress, RoundTripsThroughUncompressAndMatchesCompress2) {
  for (size_t size : {size_t(0), size_t(1), size_t(5000), size_t(300000)}) {
    std::vector<unsigned char> source = Sample(size, 7);
    std::vector<unsigned char> packed(compressBound(size));
    unsigned long packedLen = packed.size();
    ASSERT_EQ(ezcompressTS2(packed.data(), &packedLen, source.data(), source.size()), Z_OK) << size;

    std::vector<unsigned char> reference(compressBound(size));
    uLongf referenceLen = reference.size();
    ASSERT_EQ(compress2(reference.data(), &referenceLen, source.data(), source.size(), Z_DEFAULT_COMPRESSION), Z_OK);
    EXPECT_EQ(std::vector<unsigned char>(packed.begin(), packed.begin() + packedLen),
              std::vector<unsigned char>(reference.begin(), reference.begin() + referenceLen))
        << size;

    std::vector<unsigned char> back(size + 1);
    uLongf backLen = back.size();
    ASSERT_EQ(uncompress(back.data(), &backLen, packed.data(), packedLen), Z_OK);
    EXPECT_EQ(std::vector<unsigned char>(back.begin(), back.begin() + backLen), source);
  }
}

TEST(Ezcompress, ReportsBufErrorWhenTheDestinationIsTooSmall) {
  std::vector<unsigned char> source = Sample(10000, 3);
  std::vector<unsigned char> packed(8);
  unsigned long packedLen = packed.size();
  EXPECT_EQ(ezcompressTS2(packed.data(), &packedLen, source.data(), source.size()), Z_BUF_ERROR);
}

}  // namespace
