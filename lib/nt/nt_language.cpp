// The three-letter user-interface language from the locale variables.
#include <orvexnt/nt_env.h>
#include <orvexnt/nt_registry.h>

#include <cstring>

namespace {

struct nti_language {
  const char *lang;     // ISO 639 language
  const char *country;  // ISO 3166 country, "" for the language's default
  const char *code;     // the Windows abbreviation
};

// The common Windows language abbreviations. A language's entry with an
// empty country stands for every country not listed for it.
constexpr nti_language kLanguages[] = {
    {"en", "US", "ENU"}, {"en", "GB", "ENG"}, {"en", "AU", "ENA"},
    {"en", "CA", "ENC"}, {"en", "NZ", "ENZ"}, {"en", "IE", "ENI"},
    {"en", "", "ENU"},   {"de", "AT", "DEA"}, {"de", "CH", "DES"},
    {"de", "LU", "DEL"}, {"de", "", "DEU"},   {"fr", "CA", "FRC"},
    {"fr", "BE", "FRB"}, {"fr", "CH", "FRS"}, {"fr", "", "FRA"},
    {"es", "MX", "ESM"}, {"es", "", "ESN"},   {"it", "CH", "ITS"},
    {"it", "", "ITA"},   {"pt", "BR", "PTB"}, {"pt", "", "PTG"},
    {"nl", "BE", "NLB"}, {"nl", "", "NLD"},   {"ja", "", "JPN"},
    {"ko", "", "KOR"},   {"zh", "TW", "CHT"}, {"zh", "HK", "ZHH"},
    {"zh", "", "CHS"},   {"sv", "", "SVE"},   {"da", "", "DAN"},
    {"nb", "", "NOR"},   {"no", "", "NOR"},   {"nn", "", "NON"},
    {"fi", "", "FIN"},   {"pl", "", "PLK"},   {"ru", "", "RUS"},
    {"cs", "", "CSY"},   {"sk", "", "SKY"},   {"hu", "", "HUN"},
    {"tr", "", "TRK"},   {"el", "", "ELL"},   {"he", "", "HEB"},
    {"ar", "", "ARA"},   {"th", "", "THA"},   {"uk", "", "UKR"},
};

constexpr const char *kDefaultCode = "ENU";

// The first locale variable that decides the message language.
const char *nti_message_locale() {
  static constexpr const char *kVariables[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  for (const char *name : kVariables) {
    const char *value = nt_getenv_safe(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return nullptr;
}

}  // namespace

extern "C" {

NT_API const char *nt_get_ui_language(void) {
  const char *locale = nti_message_locale();
  if (locale == nullptr) return kDefaultCode;
  // language[_COUNTRY][.codeset][@modifier]
  const size_t lang_len = strcspn(locale, "_.@");
  const char *country = locale[lang_len] == '_' ? locale + lang_len + 1 : "";
  const size_t country_len = strcspn(country, ".@");
  const char *fallback = kDefaultCode;
  for (const nti_language &l : kLanguages) {
    if (strlen(l.lang) != lang_len || strncmp(l.lang, locale, lang_len) != 0)
      continue;
    if (*l.country == '\0') {
      fallback = l.code;
      break;
    }
    if (strlen(l.country) == country_len &&
        strncmp(l.country, country, country_len) == 0)
      return l.code;
  }
  return fallback;
}

}  // extern "C"
