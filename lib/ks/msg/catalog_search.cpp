// The catalog search: a ';'-separated list of file name templates, built
// from NLSPATH and the installation roots, tried in order.
//
// Templates and names are in the product's Windows form; each candidate is
// turned into a host path through the companion library's drive and share
// tables before it is looked at.
#include <sys/stat.h>

#include <orvexnt/nt_env.h>
#include <orvexnt/nt_registry.h>

#include <cstring>
#include <string>

#include "msg/catalog_search.h"

namespace {

// Where an installation keeps its catalogs, below its root directory.
constexpr const char kRootTemplate[] = "\\bin\\resdll\\%N_%L.cat";
// Registry parameters naming installation roots, searched in this order:
// a second installation root, then the product directory.
constexpr uint32_t kRootParams[] = {7, 8};
constexpr size_t kPathMax = 4096;

bool is_separator(char c) { return c == '\\' || c == '/'; }

// Appends one element to the list, never doubling a separator.
void append_element(std::string &list, const std::string &element) {
  if (!list.empty() && list.back() != ';') list += ';';
  list += element;
}

std::string search_list() {
  std::string list;
  if (const char *env = nt_getenv_safe("NLSPATH")) list = env;
  for (uint32_t param : kRootParams) {
    char root[kPathMax];
    if (ntregy_get_param(param, sizeof root, root, NTREGY_TYPE_TEXT) ==
        NTREGY_OK)
      append_element(list, std::string(root) + kRootTemplate);
  }
  if (list.empty() || list.back() != ';') list += ';';
  return list;
}

// The element with "%N" and "%L" replaced; other '%' sequences stay.
std::string expand(const std::string &element, const char *name,
                   const char *language) {
  std::string out;
  for (size_t i = 0; i < element.size(); ++i) {
    if (element[i] == '%' && i + 1 < element.size() &&
        (element[i + 1] == 'N' || element[i + 1] == 'L')) {
      out += element[i + 1] == 'N' ? name : language;
      ++i;
    } else {
      out += element[i];
    }
  }
  return out;
}

// The host path of a file that exists (and is not a directory).
bool existing_file(const std::string &product_path, std::string &host) {
  char mapped[kPathMax];
  if (nt_map_path(product_path.c_str(), mapped, sizeof mapped) != 0)
    return false;
  struct stat st;
  if (stat(mapped, &st) != 0 || S_ISDIR(st.st_mode)) return false;
  host = mapped;
  return true;
}

}  // namespace

bool ksi_catalog_find(const char *name, std::string &path) {
  for (const char *c = name; *c != '\0'; ++c)
    if (is_separator(*c)) return existing_file(name, path);
  const char *language = nt_get_ui_language();
  std::string list = search_list();
  size_t start = 0;
  for (size_t end; (end = list.find(';', start)) != std::string::npos;
       start = end + 1) {
    if (end == start) continue;
    if (existing_file(expand(list.substr(start, end - start), name, language),
                      path))
      return true;
  }
  return false;
}
