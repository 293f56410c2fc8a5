// Where the catalog of a given name is looked for.
#pragma once

#include <string>

// Sets `path` to the host path of the catalog file for `name` and returns
// true, or returns false when there is none. A name holding a path
// separator is that file itself. Otherwise each element of the search list
// (NLSPATH, then "\bin\resdll\%N_%L.cat" under the installation roots of
// registry parameters 7 and 8) has "%N" replaced by the name and "%L" by
// the user-interface language, and the first that names an existing file
// wins. May throw std::bad_alloc.
bool ksi_catalog_find(const char *name, std::string &path);
