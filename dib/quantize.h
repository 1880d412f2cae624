// Colour quantisation for palette targets: an octree over the source colours
// picks the palette, and an inverse map gives the nearest entry for each of
// 2^17 colour cells so that mapping a pixel costs one table lookup.
#pragma once
#include <cstdint>
#include <vector>

#include "dib/dib.h"

namespace dib {

// Gathers colours in an octree of `depth` levels with at most `max_leaves`
// leaves, merging the deepest reducible node whenever there are too many
// leaves or the node pool (3 x max_leaves) runs low.
class Octree {
 public:
  Octree(int depth, int max_leaves);
  void add(std::uint8_t r, std::uint8_t g, std::uint8_t b);
  // Adds a row of blue, green, red pixels.
  void add_row(const std::uint8_t* bgr, int width);
  // The average colour of every leaf.
  std::vector<Rgbq> colours() const;
  int leaves() const { return leaves_; }

 private:
  struct Node {
    std::uint64_t r = 0, g = 0, b = 0;
    std::uint32_t count = 0;
    std::int32_t child[8];
    std::int32_t next_reducible = -1;
    std::uint8_t level = 0;
    bool leaf = false;
  };
  std::int32_t new_node(int level);
  void reduce();
  void collect(std::int32_t n, std::vector<Rgbq>& out) const;

  int depth_;
  int max_leaves_;
  int leaves_ = 0;
  std::int32_t root_ = 0;
  std::vector<Node> pool_;
  std::vector<std::int32_t> free_;
  std::vector<std::int32_t> reducible_;  // per level, newest first
  // Leaves found for recent colours (a direct-mapped cache of colour ->
  // leaf): scanned pages repeat a few colours with noise, and a cached colour
  // skips the walk. Merging nodes starts a new epoch, which empties it.
  struct CacheEntry {
    std::uint32_t colour = 0;
    std::uint32_t epoch = 0;
    std::int32_t leaf = -1;
  };
  static constexpr std::size_t kCacheSize = 4096;
  std::vector<CacheEntry> cache_;
  std::uint32_t epoch_ = 1;
};

// The nearest palette entry (sum of absolute differences, lowest index on
// ties) for each cell (r / 8, g / 4, b / 4): 2^17 indices.
std::vector<std::uint8_t> inverse_map_build(const Rgbq* entries, int count);

}  // namespace dib
