// ks_qsort: an in-place quicksort for arrays of any element size whose
// comparison function takes a caller context.
//
// Ranges of 4 or more elements are partitioned around the middle element
// (the median of first, middle and last from 6 elements on), which stays in
// place so that sorted and reversed inputs split evenly. A partition
// pass that had to exchange nothing takes its range to be presorted and
// finishes it by insertion sort. The smaller side is sorted by recursion
// and the larger by the next round of the loop, which bounds the recursion
// depth by log2(count). Elements move in place (exchanges in 8-byte
// pieces); only insertion of an element of up to 64 bytes uses a stack copy.
#include <orvexks/list.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

constexpr size_t kStackElement = 64;

struct sorter {
  size_t size;
  ks_qsort_cmp_t compare;
  void *context;

  int cmp(const unsigned char *a, const unsigned char *b) const {
    return compare(a, b, context);
  }

  // Exchanges two elements in place: a 4-byte element as one word, others
  // eight bytes at a time, then bytewise.
  void swap(unsigned char *a, unsigned char *b) const {
    if (size == 4) {
      uint32_t x, y;
      std::memcpy(&x, a, 4);
      std::memcpy(&y, b, 4);
      std::memcpy(a, &y, 4);
      std::memcpy(b, &x, 4);
      return;
    }
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
      uint64_t x, y;
      std::memcpy(&x, a + i, 8);
      std::memcpy(&y, b + i, 8);
      std::memcpy(a + i, &y, 8);
      std::memcpy(b + i, &x, 8);
    }
    for (; i < size; ++i) {
      unsigned char t = a[i];
      a[i] = b[i];
      b[i] = t;
    }
  }

  // Moves the element at `from` down to `to`, shifting [to, from) up by one.
  // Small elements go through a copy on the stack and one block move;
  // larger ones rotate byte column by byte column, needing no buffer.
  void rotate(unsigned char *to, unsigned char *from) const {
    if (size <= kStackElement) {
      unsigned char saved[kStackElement];
      std::memcpy(saved, from, size);
      std::memmove(to + size, to, static_cast<size_t>(from - to));
      std::memcpy(to, saved, size);
      return;
    }
    for (size_t i = 0; i < size; ++i) {
      unsigned char t = from[i];
      for (unsigned char *p = from; p != to; p -= size) p[i] = (p - size)[i];
      to[i] = t;
    }
  }

  // Stable for equal elements: an element moves only past greater ones.
  void insertion(unsigned char *base, size_t n) const {
    for (size_t i = 1; i < n; ++i) {
      unsigned char *cur = base + i * size;
      unsigned char *to = cur;
      while (to != base && cmp(cur, to - size) < 0) to -= size;
      if (to != cur) rotate(to, cur);
    }
  }

  void small(unsigned char *base, size_t n) const {
    if (n == 2) {
      if (cmp(base, base + size) > 0) swap(base, base + size);
    } else if (n == 3) {
      insertion(base, n);
    }
  }

  // Swaps the median of first, middle and last into the middle.
  void median_to_middle(unsigned char *first, unsigned char *mid,
                        unsigned char *last) const {
    int fm = cmp(first, mid);
    int ml = cmp(mid, last);
    int fl = cmp(first, last);
    unsigned char *median;
    if (fm < 0) {
      median = ml < 0 ? mid : (fl < 0 ? last : first);
    } else {
      median = ml > 0 ? mid : (fl < 0 ? first : last);
    }
    if (median != mid) swap(median, mid);
  }

  // Hoare partition of [0, n) around the middle element, which stays where
  // it is until an exchange moves it (the pivot pointer follows it).
  // Returns the last index of the left side, which is never the last
  // element, so both sides are smaller than n; counts the exchanges.
  size_t partition(unsigned char *base, size_t n, size_t *exchanges) const {
    unsigned char *pivot = base + (n / 2) * size;
    if (n >= 6) median_to_middle(base, pivot, base + (n - 1) * size);
    unsigned char *lo = base - size;
    unsigned char *hi = base + n * size;
    *exchanges = 0;
    for (;;) {
      do lo += size;
      while (cmp(lo, pivot) < 0);
      do hi -= size;
      while (cmp(hi, pivot) > 0);
      if (lo >= hi) return static_cast<size_t>(hi - base) / size;
      swap(lo, hi);
      ++*exchanges;
      if (pivot == lo) {
        pivot = hi;
      } else if (pivot == hi) {
        pivot = lo;
      }
    }
  }

  void quick(unsigned char *base, size_t n) const {
    while (n >= 4) {
      size_t exchanges;
      size_t left_n = partition(base, n, &exchanges) + 1;
      if (exchanges == 0) {
        insertion(base, n);
        return;
      }
      unsigned char *right = base + left_n * size;
      size_t right_n = n - left_n;
      if (left_n < right_n) {
        quick(base, left_n);
        base = right;
        n = right_n;
      } else {
        quick(right, right_n);
        n = left_n;
      }
    }
    small(base, n);
  }
};

}  // namespace

extern "C" {

void ks_qsort(void *base, size_t count, size_t element_size,
              ks_qsort_cmp_t compare, void *context) {
  if (count < 2 || element_size == 0) return;
  sorter s{element_size, compare, context};
  auto *bytes = static_cast<unsigned char *>(base);
  if (count <= 3) {
    s.insertion(bytes, count);
  } else {
    s.quick(bytes, count);
  }
}

}  // extern "C"
