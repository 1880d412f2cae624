// Octree colour quantisation and the inverse colour map.
//
// Each colour walks down the tree by one bit of red, green and blue per level;
// at the bottom (or at a node merged earlier) it adds to that leaf's sums.
// When the leaves exceed the limit, or the node pool runs low, the newest
// node of the deepest level that has children is merged: its children's sums
// move into it and it becomes a leaf. A source with no more distinct colours
// than leaves keeps every colour exactly.
//
// The inverse map holds, for each cell of 8 reds x 4 greens x 4 blues, the
// palette entry nearest to the cell's centre by the sum of absolute
// differences (the lowest index on ties). The search packs distance and index
// into one key so that the minimum over the palette vectorises.
#include "dib/quantize.h"

#include <algorithm>
#include <cstdlib>

namespace dib {
namespace {

constexpr int kPoolPerLeaf = 3;
constexpr std::size_t kInverseMapCells = std::size_t{1} << 17;

}  // namespace

Octree::Octree(int depth, int max_leaves)
    : depth_(std::clamp(depth, 1, 8)), max_leaves_(std::max(max_leaves, 1)),
      pool_(static_cast<std::size_t>(std::max(kPoolPerLeaf * std::max(max_leaves, 1), depth_ + 9))),
      reducible_(static_cast<std::size_t>(depth_), -1), cache_(kCacheSize) {
  free_.reserve(pool_.size());
  for (std::int32_t i = static_cast<std::int32_t>(pool_.size()) - 1; i >= 0; --i) free_.push_back(i);
  root_ = new_node(0);
}

std::int32_t Octree::new_node(int level) {
  const std::int32_t n = free_.back();
  free_.pop_back();
  Node& node = pool_[static_cast<std::size_t>(n)];
  node = Node{};
  std::fill(std::begin(node.child), std::end(node.child), -1);
  node.level = static_cast<std::uint8_t>(level);
  if (level == depth_) {
    node.leaf = true;
    ++leaves_;
  } else {
    node.next_reducible = reducible_[static_cast<std::size_t>(level)];
    reducible_[static_cast<std::size_t>(level)] = n;
  }
  return n;
}

void Octree::reduce() {
  int level = depth_ - 1;
  while (level > 0 && reducible_[static_cast<std::size_t>(level)] < 0) --level;
  const std::int32_t n = reducible_[static_cast<std::size_t>(level)];
  if (n < 0) return;
  Node& node = pool_[static_cast<std::size_t>(n)];
  reducible_[static_cast<std::size_t>(level)] = node.next_reducible;
  int merged = 0;
  for (std::int32_t& c : node.child) {
    if (c < 0) continue;
    const Node& child = pool_[static_cast<std::size_t>(c)];
    node.r += child.r, node.g += child.g, node.b += child.b, node.count += child.count;
    free_.push_back(c);
    c = -1;
    ++merged;
  }
  node.leaf = true;
  leaves_ -= merged - 1;
  ++epoch_;
}

void Octree::add(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  const std::uint32_t colour = (std::uint32_t{r} << 16) | (std::uint32_t{g} << 8) | b;
  CacheEntry& slot = cache_[((colour * 2654435761u) >> 20) & (kCacheSize - 1)];
  std::int32_t n;
  if (slot.epoch == epoch_ && slot.colour == colour) {
    n = slot.leaf;
  } else {
    // A walk may need a node per level.
    while (static_cast<int>(free_.size()) < depth_ + 1 && !pool_[static_cast<std::size_t>(root_)].leaf) reduce();
    n = root_;
    for (int level = 0; !pool_[static_cast<std::size_t>(n)].leaf; ++level) {
      const int shift = 7 - level;
      const int idx = (((r >> shift) & 1) << 2) | (((g >> shift) & 1) << 1) | ((b >> shift) & 1);
      std::int32_t next = pool_[static_cast<std::size_t>(n)].child[idx];
      if (next < 0) {
        next = new_node(level + 1);
        pool_[static_cast<std::size_t>(n)].child[idx] = next;
      }
      n = next;
    }
  }
  Node& leaf = pool_[static_cast<std::size_t>(n)];
  leaf.r += r, leaf.g += g, leaf.b += b, ++leaf.count;
  // A reduce while walking started a new epoch; the walk's leaf is current.
  slot = CacheEntry{colour, epoch_, n};
  while (leaves_ > max_leaves_) reduce();
}

void Octree::add_row(const std::uint8_t* bgr, int width) {
  for (int x = 0; x < width; ++x, bgr += 3) add(bgr[2], bgr[1], bgr[0]);
}

void Octree::collect(std::int32_t n, std::vector<Rgbq>& out) const {
  const Node& node = pool_[static_cast<std::size_t>(n)];
  if (node.leaf) {
    if (node.count == 0) return;
    const std::uint64_t c = node.count;
    out.push_back(Rgbq{static_cast<std::uint8_t>((node.b + c / 2) / c), static_cast<std::uint8_t>((node.g + c / 2) / c),
                       static_cast<std::uint8_t>((node.r + c / 2) / c), 0});
    return;
  }
  for (std::int32_t c : node.child) {
    if (c >= 0) collect(c, out);
  }
}

std::vector<Rgbq> Octree::colours() const {
  std::vector<Rgbq> out;
  collect(root_, out);
  return out;
}

std::vector<std::uint8_t> inverse_map_build(const Rgbq* entries, int count) {
  std::vector<std::uint8_t> map(kInverseMapCells, 0);
  const int n = std::clamp(count, 1, 256);
  std::vector<std::uint32_t> dr(static_cast<std::size_t>(n)), drg(static_cast<std::size_t>(n));
  std::vector<std::int32_t> eb(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) eb[static_cast<std::size_t>(i)] = entries[i].blue;
  for (int r5 = 0; r5 < 32; ++r5) {
    const int rc = r5 * 8 + 4;
    for (int i = 0; i < n; ++i) dr[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(std::abs(rc - entries[i].red));
    for (int g6 = 0; g6 < 64; ++g6) {
      const int gc = g6 * 4 + 2;
      for (int i = 0; i < n; ++i) {
        drg[static_cast<std::size_t>(i)] =
            ((dr[static_cast<std::size_t>(i)] + static_cast<std::uint32_t>(std::abs(gc - entries[i].green))) << 8) |
            static_cast<std::uint32_t>(i);
      }
      std::uint8_t* out = map.data() + ((static_cast<std::size_t>(r5) << 12) | (static_cast<std::size_t>(g6) << 6));
      for (int b6 = 0; b6 < 64; ++b6) {
        const std::int32_t bc = b6 * 4 + 2;
        std::uint32_t best = 0xFFFFFFFFu;
        for (int i = 0; i < n; ++i) {
          const std::int32_t d = bc - eb[static_cast<std::size_t>(i)];
          const std::uint32_t key = drg[static_cast<std::size_t>(i)] + (static_cast<std::uint32_t>(d < 0 ? -d : d) << 8);
          best = std::min(best, key);
        }
        out[b6] = static_cast<std::uint8_t>(best & 0xFF);
      }
    }
  }
  return map;
}

}  // namespace dib
