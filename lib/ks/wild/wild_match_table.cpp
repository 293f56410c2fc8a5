// Exact matching by a table: for each pattern item, from the last to the
// first, whether the rest of the pattern from that item matches the rest
// of the name from each character position. Every answer is computed once
// from the answers of the next item (or of a later position of the same
// item, for stars and "..."), so the work is (items) x (characters)
// whatever the pattern. Only two rows are kept.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "wild/wild_match_internal.h"

namespace {

enum class Kind : uint8_t { kStar, kAny, kClass, kLevels, kByte1, kSep, kChar };

struct Item {
  const char *p;  // where the item starts in the compiled pattern
  Kind kind;
  int len;  // bytes of a kChar item
};

// The items of the compiled pattern p, in order; returns their number.
// items has room for strlen(p) of them.
size_t split_items(const char *p, bool path, bool single, Item *items) {
  size_t n = 0;
  while (*p != '\0') {
    Item &it = items[n++];
    it.p = p;
    it.len = 1;
    if (*p == kWildEsc) {
      const char kind = p[1];
      if (kind == kWildStar || kind == kWildAny) {
        it.kind = kind == kWildStar ? Kind::kStar : Kind::kAny;
        p += 2;
      } else if (kind == kWildClass) {
        it.kind = Kind::kClass;
        for (p += 2; *p != kWildEsc && *p != '\0';) p += wild_step(p, single);
        if (*p == kWildEsc) ++p;
      } else if (kind == kWildLevels) {
        it.kind = Kind::kLevels;
        for (p += 2; wild_is_sep(*p);) ++p;
      } else {
        it.kind = Kind::kByte1;
        p += kind == '\0' ? 1 : 2;
      }
    } else if (path && wild_is_sep(*p)) {
      it.kind = Kind::kSep;
      while (wild_is_sep(*p)) ++p;
    } else {
      it.kind = Kind::kChar;
      it.len = wild_step(p, single);
      p += it.len;
    }
  }
  return n;
}

// The name's characters up to stop: count and the byte offset of each
// (plus one past the last).
struct Chars {
  const char *s;
  uint32_t *offset;  // null in a single-byte code page: offset = index
  size_t count;

  const char *at(size_t i) const { return s + (offset ? offset[i] : i); }
  int length(size_t i) const {
    return offset ? static_cast<int>(offset[i + 1] - offset[i]) : 1;
  }
};

// Fills row (for item it) from next (for the item after it). At the end
// position both rows hold the answer for a used-up name.
void fill_row(const Item &it, const Chars &c, bool path, WildChars &chars,
              bool trailing_seps, const uint8_t *next, uint8_t *row) {
  const size_t n = c.count;
  // For "...": the answer at the end position when a level ends exactly
  // there (the rest after the separators), and the next separator's index.
  row[n] = next[n];
  size_t next_sep = n;
  for (size_t i = n; i-- > 0;) {
    const char *ch = c.at(i);
    const int len = c.length(i);
    bool yes = false;
    switch (it.kind) {
      case Kind::kStar:
        yes = next[i] || (!(path && wild_is_sep(*ch)) && row[i + 1]);
        break;
      case Kind::kAny:
        yes = next[i + 1];
        break;
      case Kind::kClass: {
        const char *after;
        yes = wild_class_match(it.p + 2, ch, len, chars, &after) && next[i + 1];
        break;
      }
      case Kind::kLevels:
        if (wild_is_sep(*ch)) next_sep = i;
        if (next[i]) {
          yes = true;
        } else if (next_sep < n) {
          yes = row[next_sep + 1];
        } else {
          yes = trailing_seps && row[n];
        }
        break;
      case Kind::kByte1:
        yes = *ch == kWildEsc && next[i + 1];
        break;
      case Kind::kSep:
        if (wild_is_sep(*ch)) {
          size_t j = i;
          while (j < n && wild_is_sep(*c.at(j))) ++j;
          yes = next[j];
        }
        break;
      case Kind::kChar:
        yes = len == it.len && wild_starts_with(ch, it.p, len) && next[i + 1];
        break;
    }
    row[i] = yes;
  }
  row[n] = wild_matches_nothing(it.p, path);
}

}  // namespace

int wild_match_by_table(const char *p, const char *s, bool path,
                        WildChars &chars) {
  const bool single = chars.single_byte();
  const char *const stop = wild_name_stop(s, path, chars);
  const size_t plen = std::strlen(p);
  size_t count = 0;
  for (const char *q = s; q < stop; q += wild_step(q, single)) ++count;
  const size_t row_bytes = count + 1;
  // One block: the items, then the character offsets (multibyte code
  // pages only), then the two rows; every part starts aligned for its type.
  const size_t offsets = single ? 0 : count + 1;
  const size_t bytes =
      sizeof(Item) * (plen + 1) + sizeof(uint32_t) * offsets + 2 * row_bytes;
  auto *block = static_cast<char *>(std::malloc(bytes));
  if (block == nullptr) return 0;
  auto *items = reinterpret_cast<Item *>(block);
  const size_t nitems = split_items(p, path, single, items);
  auto *offset = reinterpret_cast<uint32_t *>(items + plen + 1);
  const char *q = s;
  for (size_t i = 0; i < offsets; ++i) {
    offset[i] = static_cast<uint32_t>(q - s);
    if (i < count) q += wild_step(q, single);
  }
  char *rest = reinterpret_cast<char *>(offset + offsets);
  auto *next = reinterpret_cast<uint8_t *>(rest);
  auto *row = next + row_bytes;
  // After the last item only a used-up name matches.
  std::memset(next, 0, row_bytes);
  next[count] = 1;
  const Chars name{s, single ? nullptr : offset, count};
  const bool trailing_seps = *stop != '\0';
  for (size_t k = nitems; k-- > 0;) {
    fill_row(items[k], name, path, chars, trailing_seps, next, row);
    uint8_t *done = row;
    row = next;
    next = done;
  }
  const int result = next[0];
  std::free(block);
  return result;
}
