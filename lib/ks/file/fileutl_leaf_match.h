// Wildcard matching of one path-name component.
#pragma once

// 1 when name matches pattern: '*' any run of characters, '?' one
// character, [items] one character of a class of single characters and
// ranges a-b (a '-' first or last is literal; no negation), '^' the next
// character literally; anything else itself, byte for byte. A class
// without its ']' matches nothing.
bool ksi_leaf_match(const char *pattern, const char *name);
