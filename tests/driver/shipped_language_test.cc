// The language files in examples/ must carry a text at every line position
// the program reads, with the blanks the composed console and page texts
// rely on.
#include <set>
#include <string>
#include <vector>

#include "base/message_table.h"
#include "base/settings.h"
#include "driver/language_file.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

struct GroupUse {
  Group group;
  const char* name;
  std::vector<int> lines;
};

std::vector<int> range(int first, int last) {
  std::vector<int> lines;
  for (int k = first; k <= last; ++k) lines.push_back(k);
  return lines;
}

std::vector<int> joined(std::vector<std::vector<int>> parts) {
  std::vector<int> lines;
  for (const auto& part : parts) lines.insert(lines.end(), part.begin(), part.end());
  return lines;
}

// Every line position some part of the program reads.
const std::vector<GroupUse>& used_lines() {
  static const std::vector<GroupUse> uses = {
      {kReturnCodes, "Return codes", {0, 1}},
      {kLists, "Lists", range(0, 27)},
      {kSortOptions, "Sort options", range(0, 6)},
      {kHosts, "Hosts", {7}},
      {kMessages, "Messages",
       joined({{0, 1, 3},
               range(5, 15),
               range(17, 21),
               range(23, 25),
               range(27, 29),
               range(31, 34),
               range(36, 42)})},
      {kHtml, "HTML", joined({range(1, 40), range(42, 46), range(48, 51)})},
  };
  return uses;
}

// Lines that are composed directly after or before a number or a word, and
// so need their own blank there.
struct Blanks {
  Group group;
  std::vector<int> leading;
  std::vector<int> trailing;
};
const std::vector<Blanks> kBlanks = {
    {kMessages, {0, 12, 23, 24, 25}, {1, 3}},
    {kHtml, {13, 14, 18, 20, 21, 26, 43, 44, 49}, {19, 20, 21, 43, 44, 46, 48, 50}},
    {kSortOptions, {1, 2, 3, 4, 5}, {}},
};

bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

class ShippedLanguageTest : public SorvikTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    SorvikTest::SetUp();
    path_ = std::string(SORVIK_SOURCE_DIR) + "/examples/" + GetParam();
    settings.lang_file = path_;
    load_language();
    derive_vocabularies();
  }
  std::string path_;
};

TEST_P(ShippedLanguageTest, FitsTheTableAndClosesEveryGroup) {
  int stored = 0;
  std::string line;
  for (char c : read_file(path_) + "\n") {
    if (c != '\n') {
      line += c;
      continue;
    }
    if (!line.empty() && line[0] != '[') ++stored;
    line.clear();
  }
  EXPECT_LE(stored, kMessageEntries);
  for (const GroupUse& use : used_lines()) {
    EXPECT_GT(message_table.group_start[use.group], 0) << use.name;
    // A group ends where the next header starts; Return codes are searched
    // from that end downwards.
    EXPECT_GE(message_table.group_end[use.group], message_table.group_start[use.group]) << use.name;
  }
  EXPECT_GT(message_table.group_start[kEndOfConfiguration], 0);
}

TEST_P(ShippedLanguageTest, EveryReadPositionHasAText) {
  for (const GroupUse& use : used_lines()) {
    const int available =
        message_table.group_end[use.group] - message_table.group_start[use.group] + 1;
    for (int k : use.lines) {
      EXPECT_LT(k, available) << use.name << " line " << k << " is outside its group";
      EXPECT_FALSE(message(use.group, k).empty()) << use.name << " line " << k;
    }
  }
}

TEST_P(ShippedLanguageTest, ComposedTextsCarryTheirBlanks) {
  for (const Blanks& rule : kBlanks) {
    for (int k : rule.leading) {
      const std::string& text = message(rule.group, k);
      EXPECT_TRUE(!text.empty() && text.front() == ' ') << rule.group << "/" << k << " leading";
    }
    for (int k : rule.trailing) {
      const std::string& text = message(rule.group, k);
      EXPECT_TRUE(!text.empty() && text.back() == ' ') << rule.group << "/" << k << " trailing";
    }
  }
}

TEST_P(ShippedLanguageTest, ListLettersAreDistinctLetters) {
  const std::string& letters = message_table.list_letters;
  ASSERT_GE(letters.size(), 26u);
  std::set<char> seen;
  for (char c : letters) {
    EXPECT_TRUE(is_ascii_letter(c)) << "list letter " << int(c);
    EXPECT_TRUE(seen.insert(c).second) << "list letter " << c << " twice";
  }
}

TEST_P(ShippedLanguageTest, SortLettersAreDistinctAndSortAboveTheFullStop) {
  const std::string& letters = message_table.sort_letters;
  ASSERT_GE(letters.size(), 6u);
  std::set<char> seen;
  for (std::size_t k = 0; k < letters.size(); ++k) {
    const char c = letters[k];
    EXPECT_TRUE(c >= 'a' && c <= 'z') << "sort letter of key " << k;
    EXPECT_TRUE(seen.insert(c).second) << "sort letter " << c << " twice";
    // "u" marks a list that was never sorted.
    if (k >= 1 && k <= 5) {
      EXPECT_NE(c, 'u') << "sort letter of key " << k;
    }
  }
}

TEST_P(ShippedLanguageTest, ReturnCodeLinesStartWithDistinctCodes) {
  std::set<std::string> codes;
  for (int k = 1;
       k <= message_table.group_end[kReturnCodes] - message_table.group_start[kReturnCodes]; ++k) {
    const std::string& text = return_codes_line(k);
    ASSERT_GE(text.size(), 5u) << "Return codes line " << k;
    for (int i = 0; i < 3; ++i) {
      EXPECT_TRUE(text[i] >= '0' && text[i] <= '9') << "Return codes line " << k;
    }
    EXPECT_EQ(text[3], ' ') << "Return codes line " << k;
    EXPECT_TRUE(codes.insert(text.substr(0, 3)).second) << "code " << text << " twice";
  }
  for (const char* code :
       {"200", "206", "301", "302", "304", "400", "401", "403", "404", "405", "500", "503"}) {
    EXPECT_EQ(codes.count(code), 1u) << code;
  }
}

// Latin-1, never UTF-8: the only bytes above 127 are German letters.
TEST_P(ShippedLanguageTest, NonAsciiBytesAreLatin1Umlauts) {
  const std::string allowed = "\xC4\xD6\xDC\xDF\xE4\xF6\xFC";
  for (char c : read_file(path_)) {
    if (static_cast<unsigned char>(c) < 0x80) continue;
    EXPECT_NE(allowed.find(c), std::string::npos)
        << "byte " << static_cast<int>(static_cast<unsigned char>(c));
  }
}

// The named lines are the ones the English file says they are: an id off by
// one would put a neighbouring text into every console line and page.
using EnglishLanguageTest = SorvikTest;

TEST_F(EnglishLanguageTest, NamedLinesReadTheirTexts) {
  settings.lang_file = std::string(SORVIK_SOURCE_DIR) + "/examples/english.lng";
  load_language();
  EXPECT_EQ(messages_line(MessageId::kFilesFound), " log files found.");
  EXPECT_EQ(messages_line(MessageId::kBadSize), "Wrong size: ");
  EXPECT_EQ(messages_line(MessageId::kUnresolved), "(unresolved)");
  EXPECT_EQ(messages_line(MessageId::kPressKey), "Press any key to end the program.");
  EXPECT_EQ(messages_line(MessageId::kNewNames), " (new)");
  EXPECT_EQ(messages_line(MessageId::kWithoutRunMode), "without a run mode!");
  EXPECT_EQ(messages_line(MessageId::kUnknownBrowsers), "Unknown browsers:");
  EXPECT_EQ(messages_line(MessageId::kNamingClients), "Naming clients");
  EXPECT_EQ(html_line(HtmlId::kCannotCreateFile), "Cannot create file");
  EXPECT_EQ(html_line(HtmlId::kNoOrder), "no order");
  EXPECT_EQ(html_line(HtmlId::kValueByKbytes), "kB");
  EXPECT_EQ(html_line(HtmlId::kHeadingMonth), " month ");
  EXPECT_EQ(html_line(HtmlId::kIndexLinkWeeks), "Weeks");
  EXPECT_EQ(html_line(HtmlId::kYearColumn), "Year");
  EXPECT_EQ(html_line(HtmlId::kLogIndex), "Log index");
  EXPECT_EQ(html_line(HtmlId::kPeriodPage), "Period page ");
  EXPECT_EQ(html_line(HtmlId::kPageSort), ", sort ");
  EXPECT_EQ(html_line(HtmlId::kTableColumn), "Table");
  EXPECT_EQ(lists_line(ListsId::kListLetters), "abcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(sort_options_line(SortOptionsId::kSortLetters), "uahkvz");
  EXPECT_EQ(hosts_line(HostsId::kUnknownAgentClass), "Unknown");
  EXPECT_EQ(return_codes_line(ReturnCodesId::kUnknownCode), "Unknown status code");
}

INSTANTIATE_TEST_SUITE_P(Examples, ShippedLanguageTest,
                         ::testing::Values("english.lng", "german.lng"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           const std::string name = info.param;
                           return name.substr(0, name.find('.'));
                         });

}  // namespace
}  // namespace sorvik
