#include "hosts/host_cache.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <random>

#include "base/run_stop.h"
#include "hosts_fixture.h"

namespace sorvik {
namespace {

using HostCacheTest = HostsTest;

HostAddress address_of(std::string_view text) {
  HostAddress address = 0;
  EXPECT_TRUE(parse_address(text, address)) << text;
  return address;
}

int32_t day_of(const std::string& address) { return cached(address_of(address)).day; }

std::string joined_lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// Every name in the working directory, to catch stray temporary files.
std::vector<std::string> directory_names() {
  std::vector<std::string> names;
  DIR* dir = opendir(".");
  while (const dirent* item = readdir(dir)) {
    const std::string name = item->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(HostCacheTest, ParseAddressFoldsEveryByteByTheDigitRule) {
  EXPECT_EQ(address_of("10.0.0.1"), 0x0A000001u);
  EXPECT_EQ(address_of("256.257.300.1000"), address_of("0.1.44.232"));  // modulo 256
  EXPECT_EQ(address_of("a.1a.0.0"), address_of("49.59.0.0"));           // 'a' counts 49
  EXPECT_EQ(address_of("/.0.0.0"), address_of("255.0.0.0"));            // 47 - 48 wraps
  EXPECT_EQ(address_of("1.2.3..5"), address_of("1.2.3.0"));             // empty part is 0
  EXPECT_EQ(address_of("1.2.3.4.99"), address_of("1.2.3.4"));           // rest ignored
  HostAddress address = 0;
  for (const char* text : {"", "1.2.3", "1.2.3.", "...", "www.example.com"}) {
    EXPECT_FALSE(parse_address(text, address)) << text;
  }
}

TEST_F(HostCacheTest, InsertKeepsEarlierNameAndDayWhenGivenNone) {
  host_insert("10.0.0.1", "first.example", 100);
  host_insert("010.0.0.1", "", 0);  // the same address, spelt differently
  EXPECT_EQ(host_lookup("10.0.0.1"), "first.example");
  EXPECT_EQ(day_of("10.0.0.1"), 100);
  host_insert("10.0.0.1", std::string(70, 'n'), 200);
  EXPECT_EQ(host_lookup("10.0.0.1"), std::string(64, 'n'));
  EXPECT_EQ(day_of("10.0.0.1"), 200);
  host_insert("10.0.0.2", "", 0);
  EXPECT_EQ(host_lookup("10.0.0.2"), "");
  host_insert("www.example.com", "ignored", 5);
  EXPECT_EQ(hosts.cache.entries.size(), 2u);
  EXPECT_EQ(host_lookup("10.0.0.3"), "(Not found!)");
  EXPECT_EQ(host_lookup("www.example.com"), "(Not found!)");
}

// IPv6 clients keep the "(Not found!)" naming: the mapped and compatible
// forms hold three dots, and the digit rule must not turn them into some
// unrelated IPv4 address that is looked up and saved.
TEST_F(HostCacheTest, Ipv6TextsAreNeverCached) {
  HostAddress address = 0;
  for (const char* text :
       {"2001:db8::1", "::ffff:192.0.2.1", "::192.0.2.1", "2001:db8::1.2.3.4", "fe80::1%eth0"}) {
    EXPECT_FALSE(parse_address(text, address)) << text;
    host_insert(text, "evil.example", 46363);
    EXPECT_EQ(host_lookup(text), "(Not found!)") << text;
  }
  EXPECT_TRUE(hosts.cache.entries.empty());
  write_file("host.dat", "::ffff:10.0.0.1=evil.example;46363\n10.0.0.1=ten.example;46363\n");
  host_cache_load();
  host_cache_save();
  EXPECT_EQ(read_file("host.dat"), "10.0.0.1=ten.example;46363\n");
}

TEST_F(HostCacheTest, TodayIsFixedAtFirstUse) {
  EXPECT_EQ(today(), kTestToday);
  set_time(LocalTime{2027, 1, 1, 0, 0, 0, 0});
  EXPECT_EQ(today(), kTestToday);
}

TEST_F(HostCacheTest, MissingFileIsReported) {
  host_cache_load();
  EXPECT_EQ(take_console_output(), "[21] host.dat ... [23]\n");
  EXPECT_TRUE(hosts.cache.entries.empty());
  EXPECT_EQ(logged_entries(), "101112: Error in file host.dat!\n        File not found!\n");
}

TEST_F(HostCacheTest, LoadReportsBadLinesAndKeepsTheRest) {
  const std::string long_name(65, 'x');
  write_file("host.dat", joined_lines({
                             "10.0.0.1=ten.example;46300",
                             "no separator",
                             "10.0.0.2=;46300",  // empty name: looked up again later
                             "10.0.0.3=" + long_name + ";46300",
                             "1.2.3=three.parts;46300",  // not an address: skipped silently
                             "300.0.0.4=wrapped;46300",
                             "10.0.0.5=" + std::string(64, 'y') + ";46300",
                         }));
  host_cache_load();
  EXPECT_EQ(take_console_output(), "[21] host.dat ... !\n!\n8[12]\n");
  EXPECT_EQ(logged_entries(),
            "101112: Error in file host.dat!\n        Line 2, Separator = missing!\n"
            "101112: Error in file host.dat!\n        Line 4, Url: " +
                long_name + ", Url-String is too long!\n");
  EXPECT_EQ(hosts.cache.entries.size(), 5u);
  EXPECT_EQ(host_lookup("10.0.0.1"), "ten.example");
  EXPECT_EQ(host_lookup("10.0.0.2"), "");
  EXPECT_EQ(host_lookup("10.0.0.3"), std::string(64, 'x'));
  EXPECT_EQ(host_lookup("44.0.0.4"), "wrapped");
  EXPECT_EQ(host_lookup("10.0.0.5"), std::string(64, 'y'));
}

TEST_F(HostCacheTest, LoadReadsCrLfLinesAsLfLines) {
  write_file("host.dat", "10.0.0.1=ten.example;46300\r\n10.0.0.2=two.example\r\n");
  host_cache_load();
  EXPECT_EQ(host_lookup("10.0.0.1"), "ten.example");
  EXPECT_EQ(day_of("10.0.0.1"), 46300);
  EXPECT_EQ(host_lookup("10.0.0.2"), "two.example");
}

TEST_F(HostCacheTest, LoadExpiresEntriesAt180Days) {
  const auto stamp = [](int32_t days_old) { return std::to_string(kTestToday - days_old); };
  write_file("host.dat", "1.0.0.1=a;" + stamp(179) + "\n1.0.0.2=b;" + stamp(180) + "\n1.0.0.3=c;" +
                             stamp(-5) + "\n1.0.0.4=d;  +" + stamp(3) +
                             "\n1.0.0.5=e;-2147483648\n");
  host_cache_load();
  EXPECT_EQ(host_lookup("1.0.0.1"), "a");
  EXPECT_EQ(host_lookup("1.0.0.2"), "(Not found!)");
  EXPECT_EQ(day_of("1.0.0.3"), kTestToday + 5);
  EXPECT_EQ(day_of("1.0.0.4"), kTestToday - 3);  // leading blanks and sign
  EXPECT_EQ(host_lookup("1.0.0.5"), "(Not found!)");
}

TEST_F(HostCacheTest, LaterLineOfTheSameAddressWins) {
  write_file("host.dat", "1.0.0.1=old;46300\n1.0.0.1=new;46301\n1.0.0.1=;46302\n");
  host_cache_load();
  EXPECT_EQ(host_lookup("1.0.0.1"), "new");
  EXPECT_EQ(day_of("1.0.0.1"), 46302);
}

// Lines without a usable day get today minus a draw from 0..6 (no ";") or
// 0..179 (a stamp that is not a number); many lines must hit both ends.
TEST_F(HostCacheTest, MissingAndBadDaysAreSpreadOverTheirRanges) {
  std::string unstamped, bad;
  const char* bad_stamps[] = {"", "abc", "12 ", "46300\r", "4x", "+", "99999999999"};
  for (int i = 0; i < 2000; ++i) {
    const std::string middle = std::to_string(i / 250) + "." + std::to_string(i % 250) + ".";
    unstamped += "1." + middle + "1=u\n";
    bad += "2." + middle + "2=b;" + bad_stamps[i % 7] + "\n";
  }
  write_file("host.dat", unstamped + bad + "3.0.0.3;x=semicolon.first;46300\n");
  host_cache_load();
  int32_t low[3] = {INT32_MAX, INT32_MAX, INT32_MAX}, high[3] = {0, 0, 0};
  for (const HostEntry* entry : host_cache_in_order(hosts.cache)) {
    const HostLeaf& leaf = entry->leaf;
    const int group = static_cast<int>(entry->address >> 24) - 1;
    low[group] = std::min(low[group], leaf.day);
    high[group] = std::max(high[group], leaf.day);
    EXPECT_EQ(leaf.name, group == 0 ? "u" : group == 1 ? "b" : "");
  }
  EXPECT_EQ(low[0], kTestToday - 6);
  EXPECT_EQ(high[0], kTestToday);
  EXPECT_EQ(low[1], kTestToday - 179);
  EXPECT_EQ(high[1], kTestToday);
  // The ";" in front of the "=" leaves an empty name and the day text "x=...".
  EXPECT_EQ(cached(address_of("3.0.0.226")).name, "");
  EXPECT_GE(low[2], kTestToday - 179);
}

TEST_F(HostCacheTest, SameSeedGivesTheSameStamps) {
  write_file("host.dat", "1.0.0.1=a\n1.0.0.2=b;bad\n");
  host_cache_load();
  const int32_t first[2] = {day_of("1.0.0.1"), day_of("1.0.0.2")};
  host_cache_free();
  seed_host_random(2026);
  host_cache_load();
  EXPECT_EQ(day_of("1.0.0.1"), first[0]);
  EXPECT_EQ(day_of("1.0.0.2"), first[1]);
}

TEST_F(HostCacheTest, UnreadableFileEndsTheRun) {
  ASSERT_EQ(mkdir("host.dat", 0755), 0);
  try {
    host_cache_load();
    FAIL() << "no stop";
  } catch (const RunStop& stop) {
    EXPECT_EQ(stop.exit_status, 74);
    EXPECT_EQ(stop.console_line, "Cannot read host.dat: Is a directory");
  }
}

TEST_F(HostCacheTest, SaveWritesNumericOrderAndKeepsTheOldFileAsBackup) {
  write_file("host.dat", "previous\n");
  write_file("host.dat~", "older\n");
  host_insert("10.0.0.1", "ten.example", 46360);
  host_insert("9.0.0.1", "nine.example", 46361);
  host_insert("10.0.0.2", "", -3);
  host_insert("10.0.0.10", "(not found)", 46190);
  host_cache_save();
  EXPECT_EQ(take_console_output(), "[29] 4 [12]\n");
  EXPECT_EQ(read_file("host.dat"),
            "9.0.0.1=nine.example;46361\n10.0.0.1=ten.example;46360\n10.0.0.2=;-3\n"
            "10.0.0.10=(not found);46190\n");
  EXPECT_EQ(read_file("host.dat~"), "previous\n");
  EXPECT_EQ(directory_names(), (std::vector<std::string>{"errlog.txt", "host.dat", "host.dat~"}));
}

// A save of a cache unchanged since the run's last save leaves that file as
// it is and gives the backup name to it as well: the same contents in both
// names as writing it again gives. A change of the cache, a file replaced
// meanwhile or an emptied cache makes the save write the file again.
TEST_F(HostCacheTest, ASaveOfTheUnchangedCacheKeepsItsFileAndNamesItAsBackupToo) {
  const auto inode = [](const char* path) {
    struct stat info {};
    EXPECT_EQ(stat(path, &info), 0);
    return info.st_ino;
  };
  write_file("host.dat", "previous\n");
  host_insert("10.0.0.1", "ten.example", 46360);
  host_cache_save();
  const std::string first = "10.0.0.1=ten.example;46360\n";
  const ino_t written = inode("host.dat");
  take_console_output();
  host_cache_save();
  EXPECT_EQ(take_console_output(), "[29] 1 [12]\n");
  EXPECT_EQ(read_file("host.dat"), first);
  EXPECT_EQ(read_file("host.dat~"), first);
  EXPECT_EQ(inode("host.dat"), written);
  EXPECT_EQ(directory_names(), (std::vector<std::string>{"errlog.txt", "host.dat", "host.dat~"}));

  resolver_.answer("10.0.0.2", "two.example");
  host_insert("10.0.0.2", "", 0);  // made without a name, then named
  resolve_new_hosts();
  host_cache_save();
  const std::string second = first + "10.0.0.2=two.example;46363\n";
  EXPECT_EQ(read_file("host.dat"), second);
  EXPECT_EQ(read_file("host.dat~"), first);

  write_file("host.dat", "edited\n");  // by hand, meanwhile
  host_cache_save();
  EXPECT_EQ(read_file("host.dat"), second);
  EXPECT_EQ(read_file("host.dat~"), "edited\n");

  host_cache_free();
  host_insert("10.0.0.1", "ten.example", 46360);
  host_cache_save();
  EXPECT_EQ(read_file("host.dat"), first);
  EXPECT_EQ(read_file("host.dat~"), second);
}

// Enough addresses to make the index grow several times and the file take
// more than a megabyte (it is written a part at a time), many of them alike
// but for one octet, some given again with a new name or day: every address
// is found with its latest values, absent ones are not, and the file lists
// them once each in numeric order.
TEST_F(HostCacheTest, ManyAddressesInAnyOrderAreFoundAndSavedInNumericOrder) {
  std::mt19937 random(7);
  std::map<HostAddress, HostLeaf> model;
  for (int i = 0; i < 20000; ++i) {
    HostAddress address = static_cast<HostAddress>(random());
    if (i % 3 == 0) address = 0x0A000000 | (address & 0xFF00FF);  // alike but for octets
    if (i % 5 == 0 && !model.empty()) address = std::next(model.begin(), i % model.size())->first;
    if (i == 1) address = 0;
    if (i == 2) address = 0xFFFFFFFF;
    const std::string name = i % 7 == 0 ? "" : "h" + std::to_string(i) + std::string(56, 'n');
    const int32_t day = i % 11 == 0 ? 0 : 46000 + i % 300;
    host_insert(format_address(address), name, day);
    HostLeaf& leaf = model[address];
    if (!name.empty()) leaf.name = name;
    if (day != 0) leaf.day = day;
  }
  ASSERT_EQ(hosts.cache.entries.size(), model.size());
  std::string expected;
  for (const auto& [address, leaf] : model) {
    EXPECT_EQ(host_lookup(format_address(address)), leaf.name);
    expected += format_address(address) + "=" + std::string(leaf.name) + ";" +
                std::to_string(leaf.day) + "\n";
  }
  for (int i = 0; i < 2000; ++i) {
    const HostAddress absent = static_cast<HostAddress>(random());
    if (model.count(absent) == 0) {
      EXPECT_EQ(host_lookup(format_address(absent)), "(Not found!)");
    }
  }
  host_cache_save();
  EXPECT_GT(expected.size(), std::size_t{1} << 20);
  EXPECT_EQ(read_file("host.dat"), expected);
}

TEST_F(HostCacheTest, SavedFileLoadsBackUnchanged) {
  const std::string content = "1.2.3.4=a=b;46300\n200.1.1.1=m\xFCller.example;46363\n";
  write_file("host.dat", "200.1.1.1=m\xFCller.example;46363\n1.2.3.4=a=b;46300\n");
  host_cache_load();
  host_cache_save();
  EXPECT_EQ(read_file("host.dat"), content);
}

TEST_F(HostCacheTest, EmptyCacheLeavesFileAndBackupUntouched) {
  write_file("host.dat", "1.2.3.4=a;46300\n");
  write_file("host.dat~", "old\n");
  host_cache_save();
  EXPECT_EQ(take_console_output(), "[29] [27]\n");
  EXPECT_EQ(read_file("host.dat"), "1.2.3.4=a;46300\n");
  EXPECT_EQ(read_file("host.dat~"), "old\n");
  EXPECT_EQ(logged_entries(),
            "101112: Error in file host.dat!\n        IP-list is empty, not saved!\n");
}

TEST_F(HostCacheTest, FailedBackupIsReportedAndTheFileStillReplaced) {
  write_file("host.dat", "previous\n");
  ASSERT_EQ(mkdir("host.dat~", 0755), 0);
  write_file("host.dat~/keep", "x");  // a non-empty folder can be neither removed nor replaced
  host_insert("1.2.3.4", "a", 46300);
  host_cache_save();
  EXPECT_EQ(take_console_output(), "[29] [28]\n1 [12]\n");
  EXPECT_EQ(read_file("host.dat"), "1.2.3.4=a;46300\n");
  EXPECT_EQ(logged_entries(),
            "101112: Error in file host.dat!\n        Failed renaming to host.dat~!\n");
}

TEST_F(HostCacheTest, FailedWriteKeepsThePreviousFiles) {
  write_file("host.dat", "previous\n");
  write_file("host.dat~", "older\n");
  for (int i = 0; i < 100; ++i) host_insert("1.2.3." + std::to_string(i), "name.example", 46300);
  // A file-size limit makes the write of the new content fail part-way.
  const RunStop stop = stop_of_with_file_limit(100, [] { host_cache_save(); });
  EXPECT_EQ(stop.exit_status, 74);
  EXPECT_EQ(stop.console_line.rfind("Cannot write host.dat: ", 0), 0u) << stop.console_line;
  EXPECT_EQ(read_file("host.dat"), "previous\n");
  EXPECT_EQ(read_file("host.dat~"), "older\n");
  EXPECT_EQ(directory_names(), (std::vector<std::string>{"errlog.txt", "host.dat", "host.dat~"}));
}

}  // namespace
}  // namespace sorvik
