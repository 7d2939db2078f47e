#include "driver/language_file.h"

#include <functional>
#include <string>

#include "base/error_log.h"
#include "base/message_table.h"
#include "base/run_stop.h"
#include "base/settings.h"
#include "stats/counted_list.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

class LanguageFileTest : public SorvikTest {
 protected:
  void load(const std::string& content) {
    write_file("test.lng", content);
    settings.lang_file = "test.lng";
    load_language();
  }
};

TEST_F(LanguageFileTest, GroupsAreAddressedFromTheLineAfterTheirHeader) {
  load(
      "before\n"
      "[Messages]\n"
      "zero\n"
      "\n"
      "one\n"
      "   \n"
      "three\n"
      "[HTML]\n"
      "html zero\n"
      "[End of configuration file]\n"
      "after\n");
  EXPECT_EQ(console_output(), "Read language in test.lng ... done.\n");
  const MessageTable& table = message_table;
  EXPECT_EQ(table.entry_count, 7);
  EXPECT_EQ(table.entries[1], "before");  // stored, in no group
  EXPECT_EQ(table.group_start[kMessages], 2);
  EXPECT_EQ(table.group_end[kMessages], 5);
  EXPECT_EQ(message(kMessages, 0), "zero");
  EXPECT_EQ(message(kMessages, 1), "one");  // the empty line was skipped
  EXPECT_EQ(message(kMessages, 2), "   ");  // a blank-only line is a line
  EXPECT_EQ(message(kMessages, 3), "three");
  EXPECT_EQ(message(kHtml, 0), "html zero");
  EXPECT_EQ(table.group_end[kHtml], 6);
  EXPECT_EQ(table.group_start[kEndOfConfiguration], 7);
  EXPECT_EQ(table.group_end[kEndOfConfiguration], 0);  // the last group never ends
  EXPECT_EQ(table.entries[7], "after");
}

TEST_F(LanguageFileTest, HeaderNamesTheFirstGroupInTableOrder) {
  load(
      "[ Sort options and Lists ]\n"
      "lists line\n"
      "[Hosts]\n"
      "first hosts\n"
      "[Messages]\n"
      "message\n"
      "[x Hosts x]\n"
      "second hosts\n"
      "[Return codes]\n"
      "000 none\n");
  EXPECT_EQ(message(kLists, 0), "lists line");
  EXPECT_EQ(message_table.group_start[kSortOptions], 0);
  // A repeated header takes the later position; the group current at it
  // ends there.
  EXPECT_EQ(message(kHosts, 0), "second hosts");
  EXPECT_EQ(message_table.group_end[kMessages], 3);
  EXPECT_EQ(message_table.group_end[kHosts], 4);
  EXPECT_EQ(message(kReturnCodes, 0), "000 none");
}

TEST_F(LanguageFileTest, MissingGroupReadsFromTheTableStart) {
  load("[Lists]\n" + std::string("a\nb\nc\n"));
  EXPECT_EQ(message_table.group_start[kMessages], 0);
  EXPECT_EQ(message(kMessages, 2), "b");  // Messages line k is entry k
  EXPECT_EQ(message(kMessages, 0), "");   // entry 0 is never filled
}

TEST_F(LanguageFileTest, LinesBeyondEntry200AreIgnored) {
  std::string content = "[Lists]\nletters\n[Messages]\n";
  for (int i = 0; i < 250; ++i) content += "m" + std::to_string(i) + "\n";
  content += "[HTML]\nlate\n";
  load(content);
  EXPECT_EQ(message_table.entry_count, 200);
  EXPECT_EQ(message_table.entries[200], "m198");
  EXPECT_EQ(message(kMessages, 198), "m198");
  EXPECT_EQ(message(kMessages, 199), "");  // entry 201 is outside the table
  EXPECT_EQ(message_table.group_end[kMessages], 251);
  EXPECT_EQ(message_table.group_start[kHtml], 252);
  EXPECT_EQ(message(kHtml, 0), "");
  EXPECT_EQ(console_output(), "Read language in test.lng ... done.\n");
}

TEST_F(LanguageFileTest, LongLinesAreCutAndCrLfEndsALine) {
  load("[Messages]\r\n" + std::string(300, 'x') + "\nwindows\r\n[HTML]\r\nh\r\n");
  EXPECT_EQ(message(kMessages, 0), std::string(255, 'x'));
  EXPECT_EQ(message(kMessages, 1), "windows");
  EXPECT_EQ(message(kHtml, 0), "h");
}

TEST_F(LanguageFileTest, UnknownGroupStopsWithStatus5AfterAKey) {
  const RunStop stop = stop_of([&] { load("[Messages]\nm\n[messages]\nx\n"); });
  EXPECT_EQ(stop.exit_status, kExitBadSize);
  EXPECT_TRUE(stop.wait_for_key);
  EXPECT_EQ(take_console_output(), "Read language in test.lng ... Unknown group [messages]\n");
  // A group name beyond the 255-byte cut of a header is not seen.
  const std::string header = "[" + std::string(300, 'y') + "HTML]";
  EXPECT_EQ(stop_of([&] { load(header + "\n"); }).exit_status, kExitBadSize);
  EXPECT_EQ(console_output(),
            "Read language in test.lng ... Unknown group " + header.substr(0, 255) + "\n");
}

TEST_F(LanguageFileTest, UnknownGroupIsLoggedAndClosesAnOpenLog) {
  settings.errlog_file = "err.txt";
  error_log_open();
  take_console_output();
  stop_of([&] { load("[Lost]\n"); });
  EXPECT_FALSE(error_log.open);
  EXPECT_EQ(read_file("err.txt"),
            "**** Starting session 20261207 - 101112 ****\n"
            "101112: Error in file test.lng!\n"
            "        Unknown group [Lost]!\n"
            "***** Ending session 20261207 - 101112 *****\n"
            "\n");
  EXPECT_EQ(console_output(),
            "Read language in test.lng ... Unknown group [Lost]\n"
            "Errorlog err.txt ... ok.\n");
}

TEST_F(LanguageFileTest, MissingFileIsAnIoFailure) {
  const RunStop stop = stop_of([] {
    settings.lang_file = "absent.lng";
    load_language();
  });
  EXPECT_EQ(stop.exit_status, kExitIoError);
  EXPECT_EQ(stop.console_line, "Cannot open absent.lng: No such file or directory");
}

// A letters line shorter than 26 gives the later lists the letter with code 0.
TEST_F(LanguageFileTest, VocabulariesGiveListsTheirTitlesAndLetters) {
  std::string lists = "[Lists]\nabc\n";
  for (int i = 1; i <= 27; ++i) lists += "title " + std::to_string(i) + "\n";
  load(lists + "[Sort options]\nuahkvz\ns1\ns2\ns3\ns4\ns5\ns6\n[End of configuration file]\n");
  derive_vocabularies();
  const MessageTable& table = message_table;
  EXPECT_EQ(table.list_letters, "abc");
  EXPECT_EQ(table.list_titles[27], "title 27");
  EXPECT_EQ(table.sort_letters, "uahkvz");
  EXPECT_EQ(table.sort_names[1], "s1");
  EXPECT_EQ(table.sort_names[6], "s6");
  EXPECT_EQ(list_snapshot(1).title, "title 1");
  EXPECT_EQ(list_snapshot(1).list_letter, 'a');
  EXPECT_EQ(list_snapshot(3).list_letter, 'c');
  EXPECT_EQ(list_snapshot(4).list_letter, '\0');
  EXPECT_EQ(list_snapshot(26).title, "title 26");
  EXPECT_EQ(list_snapshot(26).list_letter, '\0');
}

}  // namespace
}  // namespace sorvik
