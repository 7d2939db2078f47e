#include "stats/agent_classes.h"

#include <string>
#include <utility>
#include <vector>

#include "base/run_stop.h"
#include "base/settings.h"
#include "stats/counted_list.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

class AgentClassTest : public SorvikTest {
 protected:
  void SetUp() override {
    SorvikTest::SetUp();
    std::vector<std::string> messages(40, "-");
    messages[12] = " patterns";
    messages[36] = "Unknown browsers to";
    messages[37] = "Unknown systems to";
    messages[38] = "Browser patterns:";
    messages[39] = "System patterns:";
    set_group_lines(kMessages, messages);
    set_group_lines(kHosts, {"", "", "", "", "", "", "", "unknown"});
    settings.browser_file = "browsers.lst";
    settings.opsys_file = "opsys.lst";
  }

  // Loads `lines` as the browser patterns and forgets the console text.
  void load_browsers(const std::string& lines) {
    write_file("browsers.lst", lines);
    load_agent_list(kBrowserPatterns);
    take_console_output();
  }

  // Stages a request's values as the accumulation does before classifying.
  void stage_request(int64_t kbytes) {
    EntryValues& entry = lists.current_entry;
    entry.key = "request key";
    entry.hits = 1;
    entry.kbytes = kbytes;
    entry.time = 0x2D8C5A20;
    entry.visits = 1;
  }
};

TEST_F(AgentClassTest, LoadSkipsCommentLinesAndKeepsPatternsAsWritten) {
  write_file("browsers.lst",
             "/ comment\n"
             "* star comment\n"
             "\n"
             "MSIE\n"
             " Opera\n"
             "Firefox/ \n"
             "MSIE\n"
             "last without line feed");
  lists.current_entry.hits = 9;
  load_agent_list(kBrowserPatterns);
  EXPECT_EQ(list_keys(kBrowserPatterns),
            (std::vector<std::string>{"MSIE", " Opera", "Firefox/ ", "last without line feed"}));
  for (const ListEntry& pattern : list_snapshot(kBrowserPatterns).entries) {
    EXPECT_EQ(pattern.hits, 0u);
    EXPECT_EQ(pattern.kbytes, 0);
    EXPECT_EQ(pattern.visits, 0u);
  }
  EXPECT_EQ(console_output(), "Browser patterns: 4 patterns\n");
}

TEST_F(AgentClassTest, LoadOfOperatingSystemsUsesItsOwnFileAndText) {
  write_file("opsys.lst", "Windows\nLinux\n");
  load_agent_list(kOpsysPatterns);
  EXPECT_EQ(list_keys(kOpsysPatterns), (std::vector<std::string>{"Windows", "Linux"}));
  EXPECT_EQ(list_snapshot(kBrowserPatterns).count, 0);
  EXPECT_EQ(console_output(), "System patterns: 2 patterns\n");
}

TEST_F(AgentClassTest, MissingListFileEndsTheRunWithAnIoError) {
  settings.browser_file = "absent.lst";
  try {
    load_agent_list(kBrowserPatterns);
    FAIL() << "no stop";
  } catch (const RunStop& stop) {
    EXPECT_EQ(stop.exit_status, kExitIoError);
    EXPECT_EQ(stop.console_line.rfind("Cannot open absent.lst: ", 0), 0u) << stop.console_line;
  }
}

TEST_F(AgentClassTest, ClassIsPatternAndVersionTextUpToADelimiter) {
  load_browsers("MSIE\nNetscape\nLynx\nTest\n");
  EXPECT_EQ(classify_agent(kBrowserPatterns, "Mozilla/4.0 (compatible; MSIE 5.5; Windows 98)"),
            "MSIE 5.5");
  EXPECT_EQ(classify_agent(kBrowserPatterns, "Mozilla/4.0 (compatible; MSIE"), "MSIE");
  EXPECT_EQ(classify_agent(kBrowserPatterns, "Netscape6/6.2 (X11)"), "Netscape6/6.2 ");
  EXPECT_EQ(classify_agent(kBrowserPatterns, "Lynx/2.8.4rel.1 libwww-FM/2.14"),
            "Lynx/2.8.4rel.1 libwww-FM/2.14");
  EXPECT_EQ(classify_agent(kBrowserPatterns, "Test)x"), "Test");
  // The text after the first occurrence is taken.
  EXPECT_EQ(classify_agent(kBrowserPatterns, "MSIE 6 (MSIE 7)"), "MSIE 6 ");
  EXPECT_EQ(list_snapshot(kUnknownBrowsers).count, 0);
}

TEST_F(AgentClassTest, FirstPatternInFileOrderWins) {
  load_browsers("Opera\nMSIE\n");
  EXPECT_EQ(classify_agent(kBrowserPatterns,
                           "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1) Opera 7.11"),
            "Opera 7.11");
  list_clear(kBrowserPatterns);
  load_browsers("MSIE\nOpera\n");  // the classes found by the old order are forgotten
  EXPECT_EQ(classify_agent(kBrowserPatterns,
                           "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1) Opera 7.11"),
            "MSIE 6.0");
}

TEST_F(AgentClassTest, PatternsMatchExactBytesBlanksAndCaseIncluded) {
  load_browsers("Firefox/ \n Opera\nChrome/\n");
  stage_request(3);
  EXPECT_EQ(classify_agent(kBrowserPatterns, "Gecko Firefox/ 3.0"), "Firefox/ 3.0");
  EXPECT_EQ(classify_agent(kBrowserPatterns, "Gecko Firefox/3.0"), "unknown");
  EXPECT_EQ(classify_agent(kBrowserPatterns, "X Opera 9"), " Opera 9");
  EXPECT_EQ(classify_agent(kBrowserPatterns, "Opera/9.80"), "unknown");
  EXPECT_EQ(classify_agent(kBrowserPatterns, "chrome/1"), "unknown");
}

TEST_F(AgentClassTest, UnknownAgentIsCountedOnEveryRequestAndStagedValuesReturn) {
  load_browsers("Firefox/\n");
  stage_request(42);
  const std::string agent = "Mozilla/5.0 (Unknown) Strange/1";
  for (int request = 0; request < 3; ++request) {
    EXPECT_EQ(classify_agent(kBrowserPatterns, agent), "unknown");
    EXPECT_EQ(lists.current_entry.hits, 1u);
    EXPECT_EQ(lists.current_entry.kbytes, 42);
    EXPECT_EQ(lists.current_entry.visits, 1u);
    EXPECT_EQ(lists.current_entry.time, 0x2D8C5A20u);
  }
  ASSERT_EQ(list_hits(kUnknownBrowsers), (KeyHits{{agent, 3}}));
  const CountedList& unknown = list_snapshot(kUnknownBrowsers);
  EXPECT_EQ(unknown.entries[0].kbytes, 3);  // one per request, not the request's kilobytes
  EXPECT_EQ(unknown.entries[0].time, 0x2D8C5A20u);
  EXPECT_EQ(list_snapshot(kUnknownOpsys).count, 0);
}

TEST_F(AgentClassTest, ClassesWrittenIntoTheStagedKeyMatchTheReturnedOnes) {
  load_browsers("Firefox/\n");
  stage_request(42);
  // A long staged key: the unknown agent's own count must not leave it behind.
  lists.current_entry.key.assign(300, 'k');
  const std::string unknown_agent = "Mozilla/5.0 (Unknown) Strange/1";
  classify_agent_into(kBrowserPatterns, unknown_agent, lists.current_entry.key);
  EXPECT_EQ(lists.current_entry.key, "unknown");
  EXPECT_EQ(list_hits(kUnknownBrowsers), (KeyHits{{unknown_agent, 1}}));
  const std::string known_agent = "Mozilla/5.0 (X11; rv:128.0) Gecko/20100101 Firefox/128.0";
  classify_agent_into(kBrowserPatterns, known_agent, lists.current_entry.key);
  EXPECT_EQ(lists.current_entry.key, classify_agent(kBrowserPatterns, known_agent));
  EXPECT_EQ(lists.current_entry.key, "Firefox/128.0");
  agent_name_into(known_agent, lists.current_entry.key);
  EXPECT_EQ(lists.current_entry.key, "Mozilla/5.0");
  agent_name_into(std::string(300, 'a'), lists.current_entry.key);
  EXPECT_EQ(lists.current_entry.key, std::string(255, 'a'));
}

TEST_F(AgentClassTest, EmptyAgentIsAnUnknownOperatingSystemWithEmptyKey) {
  write_file("opsys.lst", "Linux\n");
  load_agent_list(kOpsysPatterns);
  stage_request(5);
  EXPECT_EQ(classify_agent(kOpsysPatterns, ""), "unknown");
  EXPECT_EQ(list_hits(kUnknownOpsys), (KeyHits{{"", 1}}));
  EXPECT_EQ(list_snapshot(kUnknownBrowsers).count, 0);
}

TEST_F(AgentClassTest, PatternsChangedOutsideTheLoaderAreNoticed) {
  load_browsers("Foo\n");
  EXPECT_EQ(classify_agent(kBrowserPatterns, "Foo/1"), "Foo/1");
  reset_lists();
  lists.current_entry = EntryValues{};
  lists.current_entry.key = "Bar";
  list_add(kBrowserPatterns);
  stage_request(1);
  EXPECT_EQ(classify_agent(kBrowserPatterns, "Foo/1"), "unknown");
  EXPECT_EQ(classify_agent(kBrowserPatterns, "Bar/2"), "Bar/2");
  lists.current_entry.key = "Foo";
  list_add(kBrowserPatterns);
  EXPECT_EQ(classify_agent(kBrowserPatterns, "Foo/1"), "Foo/1");
}

TEST_F(AgentClassTest, ClassesStayRightBeyondManyDistinctAgents) {
  load_browsers("Known/\n");
  stage_request(1);
  constexpr int kAgents = 70000;  // more than are remembered at a time
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < kAgents; ++i) {
      const std::string number = std::to_string(i);
      ASSERT_EQ(classify_agent(kBrowserPatterns, "Known/" + number + " x"),
                "Known/" + number + " x");
      if (i % 7 == 0) {
        ASSERT_EQ(classify_agent(kBrowserPatterns, "Other/" + number), "unknown");
      }
    }
  }
  const CountedList& unknown = list_snapshot(kUnknownBrowsers);
  EXPECT_EQ(unknown.count, (kAgents + 6) / 7);
  EXPECT_EQ(unknown.total_hits, 2u * unknown.count);
}

TEST_F(AgentClassTest, LongClassIsCutAt255Bytes) {
  load_browsers("X/\n");
  const std::string agent = "X/" + std::string(300, 'v');
  EXPECT_EQ(classify_agent(kBrowserPatterns, agent), "X/" + std::string(253, 'v'));
}

// The pattern files shipped with the example run classify today's agents.
TEST_F(AgentClassTest, ShippedPatternFilesClassifyCommonAgents) {
  settings.browser_file = std::string(SORVIK_SOURCE_DIR) + "/examples/browsers.lst";
  settings.opsys_file = std::string(SORVIK_SOURCE_DIR) + "/examples/opsys.lst";
  load_agent_list(kBrowserPatterns);
  load_agent_list(kOpsysPatterns);
  stage_request(1);

  struct Case {
    const char* agent;
    const char* browser;
    const char* system;
  };
  const Case cases[] = {
      {"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
       "Chrome/131.0.0.0 Safari/537.36",
       "Chrome/131.0.0.0 Safari/537.36", "Windows NT 10.0"},
      {"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
       "Chrome/131.0.0.0 Safari/537.36 Edg/131.0.0.0",
       "Edg/131.0.0.0", "Windows NT 10.0"},
      {"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
       "Chrome/130.0.0.0 Safari/537.36 OPR/115.0.0.0",
       "OPR/115.0.0.0", "Windows NT 10.0"},
      {"Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:133.0) Gecko/20100101 Firefox/133.0",
       "Firefox/133.0", "Windows NT 10.0"},
      {"Mozilla/5.0 (X11; Linux x86_64; rv:133.0) Gecko/20100101 Firefox/133.0", "Firefox/133.0",
       "Linux x86_64"},
      {"Mozilla/5.0 (X11; Ubuntu; Linux x86_64; rv:131.0) Gecko/20100101 Firefox/131.0",
       "Firefox/131.0", "Ubuntu"},
      {"Mozilla/5.0 (Windows NT 10.0; WOW64; Trident/7.0; rv:11.0) like Gecko",
       "Trident/7.0; rv:11.0", "Windows NT 10.0"},
      {"Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 (KHTML, like Gecko) "
       "Version/18.1 Safari/605.1.15",
       "Version/18.1 Safari/605.1.15", "Mac OS X 10_15_7"},
      {"Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/537.36 (KHTML, like Gecko) "
       "Chrome/131.0.0.0 Safari/537.36",
       "Chrome/131.0.0.0 Safari/537.36", "Mac OS X 10_15_7"},
      {"Mozilla/5.0 (iPhone; CPU iPhone OS 18_1 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like "
       "Gecko) Version/18.1 Mobile/15E148 Safari/604.1",
       "Version/18.1 Mobile/15E148 Safari/604.1", "iPhone OS 18_1 like Mac OS X"},
      {"Mozilla/5.0 (iPhone; CPU iPhone OS 17_7 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like "
       "Gecko) CriOS/131.0.6778.73 Mobile/15E148 Safari/604.1",
       "CriOS/131.0.6778.73 Mobile/15E148 Safari/604.1", "iPhone OS 17_7 like Mac OS X"},
      {"Mozilla/5.0 (iPhone; CPU iPhone OS 18_1 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like "
       "Gecko) FxiOS/133.0 Mobile/15E148 Safari/605.1.15",
       "FxiOS/133.0 Mobile/15E148 Safari/605.1.15", "iPhone OS 18_1 like Mac OS X"},
      {"Mozilla/5.0 (iPad; CPU OS 17_6 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) "
       "Version/17.6 Mobile/15E148 Safari/604.1",
       "Version/17.6 Mobile/15E148 Safari/604.1", "iPad; CPU OS 17_6 like Mac OS X"},
      {"Mozilla/5.0 (Linux; Android 10; K) AppleWebKit/537.36 (KHTML, like Gecko) "
       "Chrome/131.0.0.0 Mobile Safari/537.36",
       "Chrome/131.0.0.0 Mobile Safari/537.36", "Android 10"},
      {"Mozilla/5.0 (Linux; Android 10; K) AppleWebKit/537.36 (KHTML, like Gecko) "
       "Chrome/131.0.0.0 Mobile Safari/537.36 EdgA/131.0.0.0",
       "EdgA/131.0.0.0", "Android 10"},
      {"Mozilla/5.0 (Linux; Android 14; SM-S921B) AppleWebKit/537.36 (KHTML, like Gecko) "
       "SamsungBrowser/26.0 Chrome/122.0.0.0 Mobile Safari/537.36",
       "SamsungBrowser/26.0 Chrome/122.0.0.0 Mobile Safari/537.36", "Android 14"},
      {"Mozilla/5.0 (Android 14; Mobile; rv:133.0) Gecko/133.0 Firefox/133.0", "Firefox/133.0",
       "Android 14"},
      {"Mozilla/5.0 (X11; CrOS x86_64 14541.0.0) AppleWebKit/537.36 (KHTML, like Gecko) "
       "Chrome/131.0.0.0 Safari/537.36",
       "Chrome/131.0.0.0 Safari/537.36", "CrOS x86_64 14541.0.0"},
      {"Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)", "Googlebot/2.1",
       "Googlebot/2.1"},
      {"Mozilla/5.0 (Linux; Android 6.0.1; Nexus 5X Build/MMB29P) AppleWebKit/537.36 (KHTML, like "
       "Gecko) Chrome/131.0.6778.69 Mobile Safari/537.36 (compatible; Googlebot/2.1; "
       "+http://www.google.com/bot.html)",
       "Googlebot/2.1", "Googlebot/2.1"},
      {"Mozilla/5.0 AppleWebKit/537.36 (KHTML, like Gecko; compatible; bingbot/2.0; "
       "+http://www.bing.com/bingbot.htm) Chrome/116.0.1938.76 Safari/537.36",
       "bingbot/2.0", "bingbot/2.0"},
      {"Mozilla/5.0 AppleWebKit/537.36 (KHTML, like Gecko; compatible; GPTBot/1.2; "
       "+https://openai.com/gptbot)",
       "GPTBot/1.2", "GPTBot/1.2"},
      {"facebookexternalhit/1.1 (+http://www.facebook.com/externalhit_uatext.php)",
       "facebookexternalhit/1.1 ", "facebookexternalhit/1.1 "},
      {"curl/8.5.0", "curl/8.5.0", "curl/8.5.0"},
      {"Wget/1.21.4", "Wget/1.21.4", "Wget/1.21.4"},
      {"python-requests/2.32.3", "python-requests/2.32.3", "python-requests/2.32.3"},
      {"Go-http-client/1.1", "Go-http-client/1.1", "Go-http-client/1.1"},
      {"", "unknown", "unknown"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(classify_agent(kBrowserPatterns, c.agent), c.browser) << c.agent;
    EXPECT_EQ(classify_agent(kOpsysPatterns, c.agent), c.system) << c.agent;
  }
  EXPECT_EQ(list_hits(kUnknownBrowsers), (KeyHits{{"", 1}}));
  EXPECT_EQ(list_hits(kUnknownOpsys), (KeyHits{{"", 1}}));
}

TEST(AgentNameTest, ShortAgentsAreTheirOwnNameLongOnesAreCut) {
  EXPECT_EQ(agent_name("Wget/1.21.3 (linux)"), "Wget/1.21.3");            // 19 bytes with "("
  EXPECT_EQ(agent_name("curl/8.5.0 x86 64 A"), "curl/8.5.0 x86 64 A");    // 19 bytes, blanks
  EXPECT_EQ(agent_name("curl/8.5.0 x86 64 AB"), "curl/8.5.0");            // 20 bytes with a blank
  EXPECT_EQ(agent_name("abcdefghij0123456789"), "abcdefghij0123456789");  // 20, no separator
  EXPECT_EQ(agent_name("ab(c"), "ab");
  EXPECT_EQ(agent_name("(compatible; Bot)"), "");
  EXPECT_EQ(agent_name(" leading blank and a long text"), "");
  EXPECT_EQ(agent_name("Mozilla/5.0 (Windows NT 10.0; Win64; x64)"), "Mozilla/5.0");
  EXPECT_EQ(agent_name("Mozilla/5.0(X11)"), "Mozilla/5.0");
  EXPECT_EQ(agent_name(""), "");
}

TEST_F(AgentClassTest, UnknownFilesHoldOnlyTheHeadingWhenAllAgentsWereKnown) {
  write_unknown_lists();
  EXPECT_EQ(read_file("browsers.lst.unknown"), "List of unknown browsers\n");
  EXPECT_EQ(read_file("opsys.lst.unknown"), "List of unknown operating systems\n");
  EXPECT_EQ(console_output(),
            "Unknown browsers to browsers.lst.unknown ... 0 patterns\n"
            "Unknown systems to opsys.lst.unknown ... 0 patterns\n");
}

TEST_F(AgentClassTest, UnknownFilesListAgentsByHitsMostFirst) {
  stage_request(1);
  for (const char* agent : {"once", "thrice", "twice", "thrice", "tie", "twice", "thrice"}) {
    classify_agent(kBrowserPatterns, agent);
  }
  classify_agent(kOpsysPatterns, "");
  write_unknown_lists();
  EXPECT_EQ(read_file("browsers.lst.unknown"),
            "List of unknown browsers\n"
            "3: thrice\n"
            "2: twice\n"
            "1: once\n"
            "1: tie\n");
  EXPECT_EQ(read_file("opsys.lst.unknown"), "List of unknown operating systems\n1: \n");
  EXPECT_EQ(console_output(),
            "Unknown browsers to browsers.lst.unknown ... 4 patterns\n"
            "Unknown systems to opsys.lst.unknown ... 1 patterns\n");
}

TEST_F(AgentClassTest, EmptyListSettingWritesDotUnknown) {
  settings.browser_file.clear();
  write_unknown_lists();
  EXPECT_EQ(read_file(".unknown"), "List of unknown browsers\n");
}

TEST_F(AgentClassTest, UnwritableUnknownFileEndsTheRunWithAnIoError) {
  settings.browser_file = "no-such-dir/browsers.lst";
  EXPECT_THROW(write_unknown_lists(), RunStop);
}

}  // namespace
}  // namespace sorvik
