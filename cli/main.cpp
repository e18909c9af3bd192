#include <cstdio>

int main() {
  std::fprintf(stderr, "usage: bsplift\n");
  return 2;
}
