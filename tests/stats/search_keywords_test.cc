#include "stats/search_keywords.h"

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "stats/counted_list.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

class SearchKeywordTest : public SorvikTest {
 protected:
  // Stages a request the way the accumulation does before asking.
  void SetUp() override {
    SorvikTest::SetUp();
    EntryValues& entry = lists.current_entry;
    entry.extra = "/page.html";
    entry.hits = 1;
    entry.kbytes = 7;
    entry.time = 0x2D8C5A20;
    entry.visits = 1;
  }

  // The phrase a search referrer yields, or "<none>" when it is no search.
  std::string phrase_of(const std::string& referrer) {
    list_clear(kSearchEngines);
    list_clear(kSearchPhrases);
    if (!extract_search_keyword(referrer)) return "<none>";
    return std::string(list_snapshot(kSearchPhrases).entries.at(0).key);
  }
};

TEST_F(SearchKeywordTest, SearchQueryCountsEngineAndPhraseWithStagedValues) {
  lists.current_entry.hits = 5;
  EXPECT_TRUE(
      extract_search_keyword("http://www.example-search.com/search?hl=de&q=blue+shoes&x=1"));
  EXPECT_EQ(list_hits(kSearchEngines), (KeyHits{{"http://www.example-search.com", 1}}));
  EXPECT_EQ(list_hits(kSearchPhrases), (KeyHits{{"blue shoes", 1}}));
  const ListEntry& phrase = list_snapshot(kSearchPhrases).entries.at(0);
  EXPECT_EQ(phrase.kbytes, 7);
  EXPECT_EQ(phrase.time, 0x2D8C5A20u);
  EXPECT_EQ(phrase.visits, 1u);
  EXPECT_EQ(phrase.extra, "/page.html");

  EXPECT_TRUE(extract_search_keyword("http://www.example-search.com/search?q=blue+shoes"));
  EXPECT_EQ(list_hits(kSearchEngines), (KeyHits{{"http://www.example-search.com", 2}}));
  EXPECT_EQ(list_hits(kSearchPhrases), (KeyHits{{"blue shoes", 2}}));
}

TEST_F(SearchKeywordTest, ReferrersThatAreNoSearchAddNothing) {
  for (const char* referrer : {
           "-",
           "",
           "http://",                            // nothing after the scheme
           "HTTP://www.example.com/find?q=x",    // scheme in capitals
           "http://www.example.com",             // no slash after the host
           "http://www.example.com/",            // empty query part
           "http:///find?q=x",                   // the slash right after the scheme is no host end
           "https:///find?q=x",                  // nor the one right after "https://"
           "https://",                           // nothing after the scheme
           "http://www.example.com/q=x",         // key at the very start of the query part
           "http://www.example.com/find?faq=x",  // key inside a longer parameter name
           "http://www.example.com/find?x=q=y",  // key after "=" does not count
           "http://www.example.com/find?Q=x",    // letter case of keys matters
           "http://www.example.com/index.html",
       }) {
    EXPECT_FALSE(extract_search_keyword(referrer)) << referrer;
  }
  EXPECT_EQ(list_snapshot(kSearchEngines).count, 0);
  EXPECT_EQ(list_snapshot(kSearchPhrases).count, 0);
}

TEST_F(SearchKeywordTest, EngineIsSchemeAndHostWithPort) {
  EXPECT_TRUE(extract_search_keyword("http://a+b.example:8080/cgi/find?s=c+d"));
  EXPECT_TRUE(extract_search_keyword("http://x/?q=y"));  // a one-character host
  EXPECT_EQ(list_hits(kSearchEngines), (KeyHits{{"http://a+b.example:8080", 1}, {"http://x", 1}}));
  EXPECT_EQ(list_hits(kSearchPhrases),
            (KeyHits{{"c d", 1}, {"y", 1}}));  // "+" becomes a blank only here
}

TEST_F(SearchKeywordTest, SecureReferrersAreReadLikePlainOnes) {
  EXPECT_TRUE(extract_search_keyword("https://www.example-search.com/search?hl=de&q=blue+shoes"));
  EXPECT_TRUE(extract_search_keyword("https://x/?q=y"));
  EXPECT_EQ(list_hits(kSearchEngines),
            (KeyHits{{"https://www.example-search.com", 1}, {"https://x", 1}}));
  EXPECT_EQ(list_hits(kSearchPhrases), (KeyHits{{"blue shoes", 1}, {"y", 1}}));
}

TEST_F(SearchKeywordTest, KeysAreTriedInTableOrderNotQueryOrder) {
  EXPECT_EQ(phrase_of("http://e.example/find?query=first&q=second"), "second");
  EXPECT_EQ(phrase_of("http://e.example/find?words=w&keyword=k&p=p"), "k");
  EXPECT_EQ(phrase_of("http://e.example/find?QUERY=upper&query=lower"), "lower");
  EXPECT_EQ(phrase_of("http://e.example/find?QUERY=upper"), "upper");
  EXPECT_EQ(phrase_of("http://e.example/find?SearchTerms=a+b"), "a b");
  EXPECT_EQ(phrase_of("http://e.example/?szukaj=x&url=y"), "x");
}

TEST_F(SearchKeywordTest, OnlyTheFirstOccurrenceOfAKeyIsExamined) {
  // "q=" first stands inside "as_q=", so it never counts; "as_q=" gives the phrase.
  EXPECT_EQ(phrase_of("http://e.example/find?as_q=inner&q=outer"), "inner");
  // "q=" first stands inside "faq=", and the later "&q=" is not looked at.
  EXPECT_EQ(phrase_of("http://e.example/find?faq=1&q=2&s=3"), "3");
}

TEST_F(SearchKeywordTest, EmptyPhraseStillCountsTheEngine) {
  EXPECT_TRUE(extract_search_keyword("http://e.example/find?q=&hl=en"));
  EXPECT_TRUE(extract_search_keyword("http://e.example/find?q="));
  EXPECT_EQ(list_hits(kSearchEngines), (KeyHits{{"http://e.example", 2}}));
  EXPECT_EQ(list_hits(kSearchPhrases), (KeyHits{{"", 2}}));
}

TEST_F(SearchKeywordTest, EscapesAreDecodedAfterPlusSigns) {
  EXPECT_EQ(phrase_of("http://e.example/?q=a%2Bb+c"), "a+b c");
  EXPECT_EQ(phrase_of("http://e.example/?q=a%20b"), "a b");
  EXPECT_EQ(phrase_of("http://e.example/?q=%41"), "A");
  EXPECT_EQ(phrase_of("http://e.example/?q=caf%E9"), "caf\xE9");
  EXPECT_EQ(phrase_of("http://e.example/?q=caf%e9"), "caf?");  // lower-case hex is no escape
  EXPECT_EQ(phrase_of("http://e.example/?q=%2541"), "A");      // a decoded "%" decodes again
  EXPECT_EQ(phrase_of("http://e.example/?q=%252525252541"), "A");
  EXPECT_EQ(phrase_of("http://e.example/?q=a%26b&c"), "a&b");  // decoded "&" does not end it
  EXPECT_EQ(phrase_of("http://e.example/?q=a%4Gb"), "a?b");
  EXPECT_EQ(phrase_of("http://e.example/?q=ab%4"), "ab?");
  EXPECT_EQ(phrase_of("http://e.example/?q=ab%"), "ab?");
  EXPECT_EQ(phrase_of("http://e.example/?q=%00x"), "?x");  // a control byte, see below
}

TEST_F(SearchKeywordTest, EscapesOfControlBytesGiveQuestionMarks) {
  // A decoded line end would write a line of its own into the text report.
  EXPECT_EQ(phrase_of("http://e.example/?q=a%0Ab"), "a?b");
  EXPECT_EQ(phrase_of("http://e.example/?q=a%0D%0A%09b"), "a???b");
  EXPECT_EQ(phrase_of("http://e.example/?q=%1F%7F"), "??");
  EXPECT_EQ(phrase_of("http://e.example/?q=%250A"), "?");  // also when decoded a second time
  EXPECT_EQ(phrase_of("http://e.example/?q=a%20b%7E%80"), "a b~\x80");
}

TEST_F(SearchKeywordTest, DecodingEndsOnRunsOfPercentSigns) {
  EXPECT_EQ(phrase_of("http://e.example/?q=%%%"), "?");
  EXPECT_EQ(phrase_of("http://e.example/?q=%%%%%25%25"), "??5?");
  EXPECT_EQ(phrase_of("http://e.example/?q=%25%25%25%25"), "?5?5");

  // Whatever the escapes, the phrase comes out without any "%".
  std::mt19937 generator(20261207);
  const std::string alphabet = "%%%25AF+e";
  for (int round = 0; round < 2000; ++round) {
    std::string referrer = "http://e.example/?q=";
    const int length = static_cast<int>(generator() % 200);
    for (int i = 0; i < length; ++i) referrer += alphabet[generator() % alphabet.size()];
    const std::string phrase = phrase_of(referrer);
    ASSERT_EQ(phrase.find('%'), std::string::npos) << referrer;
  }
}

TEST_F(SearchKeywordTest, LongKeysAreCutAt255Bytes) {
  const std::string host(300, 'h');
  EXPECT_TRUE(extract_search_keyword("http://" + host + "/?q=" + std::string(300, 'w')));
  EXPECT_EQ(list_snapshot(kSearchEngines).entries.at(0).key, ("http://" + host).substr(0, 255));
  EXPECT_EQ(list_snapshot(kSearchPhrases).entries.at(0).key, std::string(255, 'w'));
}

TEST(HexValueTest, AcceptsDigitsAndUpperCaseLettersOnly) {
  EXPECT_EQ(hex_value('0'), 0);
  EXPECT_EQ(hex_value('9'), 9);
  EXPECT_EQ(hex_value('A'), 10);
  EXPECT_EQ(hex_value('F'), 15);
  for (char c : {'a', 'f', 'G', '/', ':', '@', '`', ' ', '\0', '\xC1'}) {
    EXPECT_EQ(hex_value(c), 255) << static_cast<int>(c);
  }
}

TEST(DecodeEscapeTest, ReplacesTheEscapeAtItsPosition) {
  std::string text = "ab%41cd";
  decode_escape(text, 2);
  EXPECT_EQ(text, "abAcd");

  text = "%4x%41";
  decode_escape(text, 0);
  EXPECT_EQ(text, "?%41");

  text = "x%";
  decode_escape(text, 1);
  EXPECT_EQ(text, "x?");

  text = "x%F";
  decode_escape(text, 1);
  EXPECT_EQ(text, "x?");

  text = "abc";
  decode_escape(text, 3);  // past the end: nothing to replace
  EXPECT_EQ(text, "abc");
}

}  // namespace
}  // namespace sorvik
