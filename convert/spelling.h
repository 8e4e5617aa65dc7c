#pragma once
// Spell checking for the report editor through Hunspell: the dictionaries installed on the system,
// the English medical word list on top when it is there, and a personal word list.
#include <memory>
#include <string>
#include <vector>

class Hunspell;

class SpellChecker {
 public:
  // folder: where the dictionaries are (<language>.aff and .dic); personalList: the file of the
  // words the user added, one per line (created when the first word is added).
  SpellChecker(std::string folder, std::string personalList);
  ~SpellChecker();
  SpellChecker(const SpellChecker&) = delete;
  SpellChecker& operator=(const SpellChecker&) = delete;

  // The languages with a dictionary in the folder ("en_US", ...), sorted.
  std::vector<std::string> Languages() const;
  // The language among Languages() that suits a locale name ("de_DE.UTF-8"): the same one, else one
  // of the same language, else the first; "" when there is none.
  std::string LanguageFor(const std::string& locale) const;
  // Loads a language's dictionary with the medical word lists of its language ("<lang>_med*.dic")
  // and the personal list; false (checking off) when it cannot be loaded.
  bool Load(const std::string& language);
  const std::string& Language() const { return language_; }
  bool Loaded() const { return hunspell_ != nullptr; }

  // UTF-8 words; a word the dictionary's encoding cannot hold is misspelt. Without a dictionary
  // every word is correct.
  bool Correct(const std::string& word) const;
  std::vector<std::string> Suggestions(const std::string& word) const;
  // Accepts the word from now on and keeps it in the personal list.
  void AddToPersonalList(const std::string& word);
  // Another personal list (the configuration folder is known only after start-up); the loaded
  // language is loaded again with it.
  void SetPersonalList(const std::string& path);

 private:
  bool ToDictionary(const std::string& utf8, std::string& out) const;

  std::string folder_, personalList_, language_, encoding_;
  std::unique_ptr<Hunspell> hunspell_;
};
