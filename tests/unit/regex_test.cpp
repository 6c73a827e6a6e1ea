// The regular-expression service and the wildcard-to-expression conversion of save-file masks.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "rtl/regex.h"
#include "vm/xmem.h"

namespace {

bool match(const std::string& pattern, const std::string& text, bool full, bool* valid = nullptr) {
  return vl_regexMatch(pattern.data(), pattern.size(), text.data(), text.size(), full, valid);
}

std::string wild(const std::string& mask) {
  size_t len;
  char* r = vl_regexFromWildcard(mask.data(), mask.size(), &len);
  std::string s(r, len);
  vl_xfree(r);
  return s;
}

TEST(Regex, FullAndPartialMatches) {
  bool valid = false;
  EXPECT_TRUE(match("ab+c", "abbbc", true, &valid));
  EXPECT_TRUE(valid);
  EXPECT_FALSE(match("ab+c", "xabbbcx", true));
  EXPECT_TRUE(match("ab+c", "xabbbcx", false));
  EXPECT_FALSE(match("^b", "ab", false));
  EXPECT_TRUE(match("", "", true));
  EXPECT_TRUE(match(std::string("a\0b", 3), std::string("a\0b", 3), true)) << "zero bytes are ordinary";
  EXPECT_FALSE(match("(", "(", false, &valid));
  EXPECT_FALSE(valid);
  // The cache must not confuse patterns: many distinct ones, then the first again.
  for (int i = 0; i < 40; ++i) EXPECT_TRUE(match("x" + std::to_string(i), "x" + std::to_string(i), true));
  EXPECT_TRUE(match("ab+c", "abc", true, &valid));
  EXPECT_TRUE(valid);
}

TEST(Regex, WildcardMasks) {
  struct Case {
    const char* mask;
    const char* text;
    bool matches;
  } cases[] = {
      {"*", "ANYTHING", true},      {"A*", "ABC", true},       {"A*", "BA", false},
      {"A?C", "ABC", true},         {"A?C", "AC", false},      {"A.C", "ABC", false},
      {"A.C", "A.C", true},         {"[AB]X", "BX", true},     {"[!AB]X", "BX", false},
      {"[!AB]X", "CX", true},       {"A+B", "A+B", true},      {"A+B", "AAB", false},
      {"(X)", "(X)", true},         {"A\\B", "A\\B", true},    {"$A^", "$A^", true},
  };
  for (const Case& c : cases) {
    bool valid = false;
    std::string re = wild(c.mask);
    EXPECT_EQ(match(re, c.text, true, &valid), c.matches) << c.mask << " -> " << re << " on " << c.text;
    EXPECT_TRUE(valid) << c.mask;
  }
  bool valid = true;
  match(wild("AB[CD"), "ABC", true, &valid);
  EXPECT_FALSE(valid) << "an open set leaves an invalid expression for the caller to report";
}

}  // namespace
