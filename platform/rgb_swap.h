// Exchanging the first and third byte of every 3-byte pixel: TWAIN sends red
// first, a DIB keeps blue first. A letter page at 300 dpi is 25 MB of such
// pixels, and a byte-by-byte exchange costs about five copies of it; where the
// processor can shuffle bytes (SSSE3) the exchange runs 16 bytes at a time
// and costs about as much as one copy.
//
// Header-only, so the data sources, which do not link the library, use it too.
#pragma once
#include <cstddef>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace platform {
namespace detail {

inline void swap_rb24_bytes(const std::uint8_t* in, std::uint8_t* out, std::size_t from, std::size_t pixels) {
  for (std::size_t x = from; x < pixels; ++x) {
    const std::uint8_t red = in[3 * x];
    out[3 * x] = in[3 * x + 2];
    out[3 * x + 1] = in[3 * x + 1];
    out[3 * x + 2] = red;
  }
}

#if defined(__x86_64__)
// Sixteen pixels (48 bytes) per step: three 16-byte loads, shuffles within
// each and the three bytes of the pixels that straddle the loads brought
// across, three stores. All loads of a step come before its stores and no
// step reads what the one before wrote, so `out` may be `in` without the
// stalls of overlapping stores and loads. Returns the pixels done; the
// caller finishes the rest.
__attribute__((target("ssse3"))) inline std::size_t swap_rb24_ssse3(const std::uint8_t* in, std::uint8_t* out,
                                                                     std::size_t pixels) {
  const char z = -128;  // a shuffle index with the top bit set yields 0
  const __m128i a_own = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, z);
  const __m128i a_from_b = _mm_setr_epi8(z, z, z, z, z, z, z, z, z, z, z, z, z, z, z, 1);
  const __m128i b_own = _mm_setr_epi8(0, z, 4, 3, 2, 7, 6, 5, 10, 9, 8, 13, 12, 11, z, 15);
  const __m128i b_from_a = _mm_setr_epi8(z, 15, z, z, z, z, z, z, z, z, z, z, z, z, z, z);
  const __m128i b_from_c = _mm_setr_epi8(z, z, z, z, z, z, z, z, z, z, z, z, z, z, 0, z);
  const __m128i c_own = _mm_setr_epi8(z, 3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13);
  const __m128i c_from_b = _mm_setr_epi8(14, z, z, z, z, z, z, z, z, z, z, z, z, z, z, z);
  std::size_t x = 0;
  for (; x + 16 <= pixels; x += 16) {
    const std::uint8_t* src = in + 3 * x;
    std::uint8_t* dst = out + 3 * x;
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 32));
    const __m128i oa = _mm_or_si128(_mm_shuffle_epi8(a, a_own), _mm_shuffle_epi8(b, a_from_b));
    const __m128i ob = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(b, b_own), _mm_shuffle_epi8(a, b_from_a)),
                                    _mm_shuffle_epi8(c, b_from_c));
    const __m128i oc = _mm_or_si128(_mm_shuffle_epi8(c, c_own), _mm_shuffle_epi8(b, c_from_b));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), oa);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16), ob);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 32), oc);
  }
  return x;
}
#endif

}  // namespace detail

// Writes the `pixels` 3-byte pixels of `in` to `out` with their first and
// third bytes exchanged. `out` may be `in`; otherwise they must not overlap.
inline void swap_rb24(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels) {
  std::size_t done = 0;
#if defined(__x86_64__)
  static const bool shuffle = __builtin_cpu_supports("ssse3");
  if (shuffle) done = detail::swap_rb24_ssse3(in, out, pixels);
#endif
  detail::swap_rb24_bytes(in, out, done, pixels);
}

}  // namespace platform
