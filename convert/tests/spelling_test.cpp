// Spell checking: the system's dictionary, the medical list on top, the personal list, and a
// dictionary in an ISO-8859 encoding.
#include "convert/spelling.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/files.h"
#include "tests/support/peer.h"

namespace {

TEST(Spelling, SystemMedicalPersonalAndLatin1Dictionaries) {
  const std::string dir = testsupport::MakeTempDir("spelling");
  SpellChecker en("/usr/share/hunspell", dir + "/words.txt");
  ASSERT_EQ(en.LanguageFor("en_US.UTF-8"), "en_US") << "hunspell-en-us is not installed (scripts/install-deps --test)";
  EXPECT_EQ(en.LanguageFor("de_DE.UTF-8").substr(0, 2), "en");  // no German: the first there is
  EXPECT_TRUE(en.Correct("anything"));                           // nothing loaded: nothing marked
  ASSERT_TRUE(en.Load("en_US"));
  EXPECT_TRUE(en.Correct("receive"));
  EXPECT_FALSE(en.Correct("recieve"));
  const std::vector<std::string> s = en.Suggestions("recieve");
  EXPECT_NE(std::find(s.begin(), s.end(), "receive"), s.end());
  EXPECT_TRUE(en.Correct("hepatomegaly"));  // from hunspell-en-med
  EXPECT_FALSE(en.Correct("Brelvandoscopy"));
  en.AddToPersonalList("Brelvandoscopy");
  EXPECT_TRUE(en.Correct("Brelvandoscopy"));
  SpellChecker again("/usr/share/hunspell", dir + "/words.txt");
  ASSERT_TRUE(again.Load("en_US"));
  EXPECT_TRUE(again.Correct("Brelvandoscopy"));  // the personal list is kept

  // A Latin-1 dictionary: the UTF-8 word is converted to its encoding.
  testsupport::WriteAll(dir + "/fr_TEST.aff", "SET ISO8859-1\n");
  testsupport::WriteAll(dir + "/fr_TEST.dic", "2\ncaf\xE9\nh\xF4pital\n");
  SpellChecker latin(dir, dir + "/none.txt");
  EXPECT_EQ(latin.Languages(), std::vector<std::string>{"fr_TEST"});
  ASSERT_TRUE(latin.Load("fr_TEST"));
  EXPECT_TRUE(latin.Correct("caf\xC3\xA9"));
  EXPECT_TRUE(latin.Correct("h\xC3\xB4pital"));
  EXPECT_FALSE(latin.Correct("cafe\xCC\x81x"));
  EXPECT_FALSE(latin.Correct("\xE2\x82\xAC"));  // no place in Latin-1: misspelt
  testsupport::RemoveTree(dir);
}

}  // namespace
