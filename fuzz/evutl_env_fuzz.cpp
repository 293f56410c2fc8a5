// Fuzzes environment objects: copies an arbitrary environ vector, then runs
// arbitrary sets, unsets and lookups on it, checking every result and the
// final vector against a plain model of the same rules. The input is split
// at NUL bytes; pieces up to the first empty one form the vector, each
// later piece is an operation chosen by its first byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <string>
#include <vector>

#include <orvexks/evutl.h>
#include <orvexks/stg.h>

namespace {

using Model = std::vector<std::string>;

// The first entry that begins with name and '='.
Model::iterator find(Model &model, const std::string &name) {
  for (auto it = model.begin(); it != model.end(); ++it) {
    if (it->size() > name.size() && it->compare(0, name.size(), name) == 0 &&
        (*it)[name.size()] == '=')
      return it;
  }
  return model.end();
}

void set(Model &model, const std::string &name, const std::string &text) {
  auto it = find(model, name);
  if (it != model.end())
    *it = text;
  else
    model.push_back(text);
}

void check(bool ok) {
  if (!ok) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<std::string> pieces(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0)
      pieces.emplace_back();
    else
      pieces.back() += static_cast<char>(data[i]);
  }
  size_t first_op = 0;
  std::vector<char *> vector;
  while (first_op < pieces.size() && !pieces[first_op].empty())
    vector.push_back(pieces[first_op++].data());
  vector.push_back(nullptr);
  Model model(pieces.begin(), pieces.begin() + first_op);

  stg_area_t area = (size & 1) != 0 ? STG_AREA_HEAP : stg_create_area(256);
  evutl_env_t *env = nullptr;
  check(evutl_copy_environ(area, vector.data(), &env) == 0);
  for (size_t i = first_op + 1; i < pieces.size(); ++i) {
    if (pieces[i].empty()) continue;
    const char op = pieces[i][0];
    const std::string arg = pieces[i].substr(1);
    const size_t equals = arg.find('=');
    if (op == 's') {
      const int rc = evutl_setenv(env, arg.c_str());
      check(rc == (equals == std::string::npos ? 1 : 0));
      if (rc == 0) set(model, arg.substr(0, equals), arg);
    } else if (op == '2') {
      // Name and value are split at the first '\x01'.
      const size_t cut = arg.find('\x01');
      const std::string name = arg.substr(0, cut);
      const std::string value =
          cut == std::string::npos ? "" : arg.substr(cut + 1);
      check(evutl_setenv2(env, name.c_str(), value.c_str()) == 0);
      set(model, name, name + "=" + value);
    } else if (op == 'u') {
      check(evutl_unsetenv(env, arg.c_str()) == 0);
      auto it = find(model, arg);
      if (it != model.end()) model.erase(it);
    } else {
      const char *value = evutl_getenv(env, arg.c_str());
      auto it = find(model, arg);
      check((value == nullptr) == (it == model.end()));
      if (value != nullptr) check(it->substr(arg.size() + 1) == value);
    }
  }
  char **result = evutl_env2environ(env);
  size_t n = 0;
  for (; result[n] != nullptr; ++n)
    check(n < model.size() && model[n] == result[n]);
  check(n == model.size());
  check(evutl_setenv(env, "A=1") == 1);
  evutl_free(env);
  if (area != STG_AREA_HEAP) stg_delete_area(&area);
  return 0;
}
