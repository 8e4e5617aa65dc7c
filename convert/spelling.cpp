#include "convert/spelling.h"

#include <hunspell.hxx>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "core/charset.h"
#include "core/fileutil.h"
#include "core/log.h"

namespace fs = std::filesystem;

SpellChecker::SpellChecker(std::string folder, std::string personalList)
    : folder_(std::move(folder)), personalList_(std::move(personalList)) {}

SpellChecker::~SpellChecker() = default;

std::vector<std::string> SpellChecker::Languages() const {
  std::vector<std::string> languages;
  std::error_code ec;
  for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path p = it->path();
    if (p.extension() == ".aff" && fs::exists(fs::path(p).replace_extension(".dic"), ec))
      languages.push_back(p.stem().string());
  }
  std::sort(languages.begin(), languages.end());
  return languages;
}

std::string SpellChecker::LanguageFor(const std::string& locale) const {
  const std::vector<std::string> languages = Languages();
  if (languages.empty()) return "";
  const std::string name = locale.substr(0, locale.find('.'));
  for (const std::string& l : languages)
    if (l == name) return l;
  const std::string language = name.substr(0, name.find('_'));
  for (const std::string& l : languages)
    if (l.substr(0, l.find('_')) == language) return l;
  return languages.front();
}

bool SpellChecker::Load(const std::string& language) {
  hunspell_.reset();
  language_.clear();
  const std::string base = folder_ + "/" + language;
  std::error_code ec;
  if (!fs::exists(base + ".aff", ec) || !fs::exists(base + ".dic", ec)) {
    WriteLog("WARNING, spell checking, no dictionary " + base);
    return false;
  }
  hunspell_ = std::make_unique<Hunspell>((base + ".aff").c_str(), (base + ".dic").c_str());
  language_ = language;
  encoding_ = hunspell_->get_dic_encoding();
  // The medical word lists of the same language ride on its affixes.
  const std::string prefix = language.substr(0, language.find('_')) + "_med";
  for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec))
    if (it->path().extension() == ".dic" && it->path().stem().string().rfind(prefix, 0) == 0)
      hunspell_->add_dic(it->path().c_str());
  std::ifstream personal(personalList_);
  for (std::string word; std::getline(personal, word);) {
    std::string coded;
    if (!word.empty() && ToDictionary(word, coded)) hunspell_->add(coded);
  }
  return true;
}

bool SpellChecker::ToDictionary(const std::string& utf8, std::string& out) const {
  if (encoding_.empty() || encoding_ == "UTF-8" || encoding_ == "utf-8") {
    out = utf8;
    return true;
  }
  return ConvertText(utf8, "UTF-8", encoding_.c_str(), out);
}

bool SpellChecker::Correct(const std::string& word) const {
  if (!hunspell_) return true;
  std::string coded;
  return ToDictionary(word, coded) && hunspell_->spell(coded);
}

std::vector<std::string> SpellChecker::Suggestions(const std::string& word) const {
  std::vector<std::string> out;
  std::string coded;
  if (!hunspell_ || !ToDictionary(word, coded)) return out;
  for (const std::string& s : hunspell_->suggest(coded)) {
    std::string utf8 = s;
    if (encoding_ != "UTF-8" && !ConvertText(s, encoding_.c_str(), "UTF-8", utf8)) continue;
    out.push_back(utf8);
  }
  return out;
}

void SpellChecker::AddToPersonalList(const std::string& word) {
  std::string coded;
  if (hunspell_ && ToDictionary(word, coded)) hunspell_->add(coded);
  // Patient names end up in it: the list is its owner's alone (0600, never through a link).
  bool ok = false;
  if (FILE* personal = OpenPrivateAppend(personalList_)) {
    ok = std::fprintf(personal, "%s\n", word.c_str()) > 0;
    ok = std::fclose(personal) == 0 && ok;
  }
  if (!ok) WriteLog("ERROR, spell checking, cannot write the personal word list " + personalList_);
}

void SpellChecker::SetPersonalList(const std::string& path) {
  if (path == personalList_) return;
  personalList_ = path;
  const std::string language = language_;  // Load starts by forgetting the loaded one
  if (!language.empty()) Load(language);
}
