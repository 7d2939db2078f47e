#include "analysis/accumulation.h"

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/log_record.h"
#include "base/error_log.h"
#include "base/settings.h"
#include "logs/log_reader.h"
#include "logs/request_parser.h"
#include "stats/agent_classes.h"
#include "stats/counted_list.h"
#include "support/fake_resolver.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

// One request as count_request receives it: the record fields it reads and
// the parsed values.
struct Request {
  std::string client = "192.0.2.1";
  std::string path = "/index.html";
  std::string extension = ".HTM";
  bool is_page = true;
  std::string status = "200";
  std::string referrer = "-";
  std::string agent = "Mozilla/5.0 (X11; Linux x86_64)";
  std::string stamp = "[30/Apr/2002:13:05:33";
  int hour = 13;
  int minute = 5;
  int64_t kbytes = 4;
};

using Keys = std::vector<std::string>;

class AccumulationTest : public SorvikTest {
 protected:
  void SetUp() override {
    SorvikTest::SetUp();
    std::vector<std::string> messages(43);
    messages[5] = "Week";
    messages[6] = "of";
    messages[7] = "Month";
    messages[8] = "Year";
    messages[9] = "unnamed";
    messages[15] = "Unknown return code";
    messages[17] = "Writing report";
    messages[18] = "done.";
    set_group_lines(kMessages, messages);
    set_group_lines(kReturnCodes,
                    {"Other code", "200 OK", "4041 too long", "404 Not Found", "200 Fine"});
    std::vector<std::string> html(26);
    html[4] = "key";
    html[5] = "hits";
    html[6] = "kB";
    html[7] = "visits";
    html[13] = "by";
    html[25] = "Volume";
    set_group_lines(kHtml, html);
    std::vector<std::string> host_texts(8);
    host_texts[7] = "other agent";
    set_group_lines(kHosts, host_texts);
    for (int slot = 1; slot <= kPeriodListSlots; ++slot) {
      list_set_title(slot, "T" + std::to_string(slot));
    }

    settings.target_dir = ".";
    settings.html_out = false;
    settings.html_week = settings.html_month = settings.html_year = false;
    settings.errlog_file = "errlog.txt";
    error_log_open();
    analysis.current_log_path = "logs/a.23";
    resolver_.install();
    take_console_output();
  }

  void count(const Request& r) {
    LogRecord& record = analysis.record;
    record.field[kFieldClient] = r.client;
    record.field[kFieldTimeStamp] = r.stamp;
    record.field[kFieldStatus] = r.status;
    record.field[kFieldServerHost] = "www.example.org";
    record.field[kFieldReferrer] = r.referrer;
    record.field[kFieldAgent] = r.agent;
    RequestInfo info;
    info.path = r.path;
    info.extension = r.extension;
    info.is_page = r.is_page;
    info.kbytes = r.kbytes;
    info.time = pack_time(
        TimeStamp{2002, 4, 30, static_cast<uint16_t>(r.hour), static_cast<uint16_t>(r.minute), 33});
    count_request(record, info, tally_);
  }

  // A tally that owes only what `owes` sets, as a counting child's does
  // while it counts a stretch.
  static StretchTally tally_owing(bool paths, bool directories, bool agents, bool pages) {
    StretchTally tally;
    reset_stretch_tally(tally);
    tally.path_lists_owed = paths;
    tally.directories_owed = directories;
    tally.agents_owed = agents;
    tally.client_pages_owed = pages;
    return tally;
  }

  // Counted with this tally, or as a run mode counts when it is nullptr.
  StretchTally* tally_ = nullptr;

  static Request image(const std::string& path, const std::string& extension) {
    Request r;
    r.path = path;
    r.extension = extension;
    r.is_page = false;
    return r;
  }

  // The entries of the text report's section of list `slot` sorted by
  // `caption`, as "key=value".
  static std::vector<std::string> section(const std::string& report, int slot,
                                          const std::string& caption) {
    const std::string head = " T" + std::to_string(slot) + "by " + caption + "\n";
    std::vector<std::string> result;
    std::size_t at = report.find(head);
    if (at == std::string::npos) return result;
    at += head.size();
    for (;;) {
      const std::size_t end = report.find('\n', at);
      const std::string line = report.substr(at, end - at);
      if (line == "---" || end == std::string::npos) break;
      const std::string key = line.substr(0, line.find(" ."));
      const std::size_t number_end = line.rfind(' ');
      const std::size_t number_start = line.rfind(' ', number_end - 1) + 1;
      result.push_back(key + "=" + line.substr(number_start, number_end - number_start));
      at = end + 1;
    }
    return result;
  }

  // The entries of the period lists 1..20.
  static std::vector<std::vector<ListEntry>> period_entries() {
    std::vector<std::vector<ListEntry>> entries;
    for (int slot = 1; slot <= kPeriodListSlots; ++slot) {
      entries.push_back(list_snapshot(slot).entries);
    }
    return entries;
  }

  // A request for `path`, `minute` minutes after 10:00.
  static Request path_request(const std::string& path, int minute, int64_t kbytes) {
    Request r;
    r.path = path;
    classify_path(path, r.extension, r.is_page);
    r.minute = minute % 60;
    r.hour = 10 + minute / 60;
    r.kbytes = kbytes;
    return r;
  }

  // Empties the period lists, which then keep their entries' first times as
  // a counting child's do.
  static void clear_lists_keeping_first_times() {
    clear_period_lists();
    for (int slot = 1; slot <= kPeriodListSlots; ++slot) {
      lists.list_slots[slot].keep_first_times = true;
    }
  }

  // What the reports show of a list whose visits and latest times are not
  // shown (a list made from another at the end of a stretch).
  struct ShownList {
    Keys keys;
    std::vector<uint64_t> hits;
    std::vector<int64_t> kbytes;
    std::vector<PackedTime> first_times;
    int32_t count = 0;
    uint64_t total_hits = 0;
    int64_t total_kbytes = 0;
    bool operator==(const ShownList&) const = default;
  };
  static ShownList shown_list(int slot) {
    const CountedList& list = list_snapshot(slot);
    ShownList shown;
    for (const ListEntry& entry : list.entries) {
      shown.keys.emplace_back(entry.key);
      shown.hits.push_back(entry.hits);
      shown.kbytes.push_back(entry.kbytes);
    }
    shown.first_times = list.first_times;
    shown.count = list.count;
    shown.total_hits = list.total_hits;
    shown.total_kbytes = list.total_kbytes;
    return shown;
  }

  FakeResolver resolver_;
};

TEST_F(AccumulationTest, PageRequestFillsItsLists) {
  Request r;
  r.path = "/docs/a.html";
  count(r);
  EXPECT_EQ(list_keys(kClients), Keys{"192.0.2.1"});
  EXPECT_EQ(list_snapshot(kClients).entries[0].extra, "/docs/a.html");
  EXPECT_EQ(list_keys(kEntryPages), Keys{"/docs/a.html"});
  EXPECT_EQ(list_keys(kFiles), Keys{"/docs/a.html"});
  EXPECT_EQ(list_keys(kPages), Keys{"/docs/a.html"});
  EXPECT_EQ(list_keys(kDirectories), Keys{"/docs/"});
  EXPECT_EQ(list_keys(kExternalReferrers), Keys{"-"});  // a missing referrer is an external one
  EXPECT_EQ(list_keys(kStatusCodes), Keys{"200"});
  EXPECT_EQ(list_keys(kAgentNames), Keys{"Mozilla/5.0"});
  EXPECT_EQ(list_keys(kBrowsers), Keys{"other agent"});
  EXPECT_EQ(list_keys(kOperatingSystems), Keys{"other agent"});
  EXPECT_EQ(list_keys(kHours), Keys{"13"});
  for (int slot : {2, 3, 7, 8, 10, 12, 13, 15, 16}) EXPECT_EQ(list_snapshot(slot).count, 0) << slot;
  EXPECT_EQ(list_snapshot(kFiles).total_kbytes, 4);
}

TEST_F(AccumulationTest, FirstRequestThatIsNoPageGivesNoEntryPage) {
  count(image("/logo.gif", ".GIF"));
  Request page;
  page.minute = 6;
  count(page);
  EXPECT_EQ(list_snapshot(kEntryPages).count, 0);
  EXPECT_EQ(list_snapshot(kClients).entries[0].extra, "/index.html");
  EXPECT_EQ(list_snapshot(kClients).entries[0].hits, 2u);
}

TEST_F(AccumulationTest, OtherFilesAreSortedByExtensionAndTheirReferrersIgnored) {
  const std::vector<std::pair<const char*, const char*>> files = {{"/a.gif", ".GIF"},
                                                                  {"/b.jpeg", ".JPE"},
                                                                  {"/c.jp", ".JP"},
                                                                  {"/d.png", ".PNG"},
                                                                  {"/e.gifx", ".GIF"}};
  const char* referrers[] = {"http://www.example.org/x.html", "http://other.example/",
                             "http://g.example/s?q=x", "-", "-"};
  for (std::size_t i = 0; i < files.size(); ++i) {
    Request r = image(files[i].first, files[i].second);
    r.referrer = referrers[i];
    count(r);
  }
  EXPECT_EQ(list_keys(kGifImages), (Keys{"/a.gif", "/e.gifx"}));
  EXPECT_EQ(list_keys(kJpegImages), (Keys{"/b.jpeg", "/c.jp"}));
  EXPECT_EQ(list_snapshot(kPages).count, 0);
  EXPECT_EQ(list_snapshot(kFiles).count, 5);
  EXPECT_EQ(list_keys(kDirectories), Keys{"/"});
  for (int slot = 13; slot <= 16; ++slot) EXPECT_EQ(list_snapshot(slot).count, 0) << slot;
}

TEST_F(AccumulationTest, ReferrersOfPagesAreInternalSearchOrExternal) {
  Request r;
  for (const char* referrer :
       {"http://www.example.org/", "http://www.example.org/x.html", "HTTP://www.example.org/x.html",
        "http://www.google.com/search?q=log+report", "http://www.example.org"}) {
    r.referrer = referrer;
    count(r);
  }
  EXPECT_EQ(list_keys(kInternalReferrers), (Keys{"/", "/x.html"}));
  EXPECT_EQ(list_keys(kExternalReferrers), Keys{"HTTP://www.example.org/x.html"});
  EXPECT_EQ(list_keys(kSearchEngines), Keys{"http://www.google.com"});
  EXPECT_EQ(list_keys(kSearchPhrases), Keys{"log report"});
}

TEST_F(AccumulationTest, SecureReferrersOfTheOwnSiteAreInternalToo) {
  Request r;
  for (const char* referrer : {"https://www.example.org", "https://www.example.org/x.html",
                               "http://www.example.org/x.html", "HTTPS://www.example.org/y.html",
                               "https://search.example/find?q=log+report"}) {
    r.referrer = referrer;
    count(r);
  }
  EXPECT_EQ(list_hits(kInternalReferrers), (KeyHits{{"/", 1}, {"/x.html", 2}}));
  EXPECT_EQ(list_keys(kExternalReferrers), Keys{"HTTPS://www.example.org/y.html"});
  EXPECT_EQ(list_keys(kSearchEngines), Keys{"https://search.example"});
  EXPECT_EQ(list_keys(kSearchPhrases), Keys{"log report"});
}

TEST_F(AccumulationTest, NotFoundPathsAreCountedOnlyFor404) {
  Request r;
  r.path = "/gone.html";
  r.status = "404";
  count(r);
  r.path = "/other.html";
  r.status = "4040";
  count(r);
  EXPECT_EQ(list_keys(kNotFound), Keys{"/gone.html"});
  EXPECT_EQ(list_keys(kStatusCodes), (Keys{"404", "4040"}));
}

TEST_F(AccumulationTest, UnknownMethodCountsAsPageWithEmptyPath) {
  Request r;
  r.path = "";
  r.extension = "";
  count(r);
  EXPECT_EQ(list_keys(kFiles), Keys{""});
  EXPECT_EQ(list_keys(kPages), Keys{""});
  EXPECT_EQ(list_keys(kEntryPages), Keys{""});
  EXPECT_EQ(list_keys(kDirectories), Keys{""});
}

// The page and image lists made from the file list at the end equal those
// counted request by request: entries, order, visits, first times and
// totals. Paths longer than a key (cut to one key in the file list, of
// different kinds after the cut) make them at once, from the requests
// before, and are counted one by one from there.
TEST_F(AccumulationTest, PageAndImageListsMadeFromTheFileListEqualThoseCountedOneByOne) {
  const std::string stem = "/" + std::string(260, 'p');
  std::vector<Request> requests;
  int minute = 0;
  const auto add = [&](const std::string& path) {
    requests.push_back(path_request(path, minute, minute % 7));
    minute += 17;
  };
  for (const char* path : {"/a.html", "/b.gif", "/c.JPG", "/d.png", "/", "", "/a.html", "/b.gif"}) {
    add(path);
  }
  const std::size_t short_ones = requests.size();
  for (const char* tail : {".gif", ".html", ".jpeg", ".htm"}) add(stem + tail);
  for (const char* path : {"/a.html", "/c.JPG", "/e.htm"}) add(path);

  struct Shown {
    std::vector<ListEntry> entries;
    std::vector<PackedTime> first_times;
    uint64_t hits;
    int64_t kbytes;
    uint64_t visits;
    bool operator==(const Shown&) const = default;
  };
  const auto counted = [&](std::size_t n, bool owed) {
    clear_lists_keeping_first_times();
    StretchTally tally = tally_owing(true, false, false, false);
    tally_ = owed ? &tally : nullptr;
    for (std::size_t i = 0; i < n; ++i) count(requests[i]);
    tally_ = nullptr;
    if (owed && tally.path_lists_owed) make_path_lists(tally);
    std::vector<Shown> shown;
    for (int slot = 1; slot <= kPeriodListSlots; ++slot) {
      const CountedList& list = list_snapshot(slot);
      EXPECT_EQ(list.count, static_cast<int32_t>(list.entries.size())) << slot;
      shown.push_back(Shown{list.entries, list.first_times, list.total_hits, list.total_kbytes,
                            list.total_visits});
    }
    return shown;
  };
  for (const std::size_t n : {short_ones, requests.size()}) {
    EXPECT_EQ(counted(n, true), counted(n, false)) << n;
  }
  EXPECT_EQ(list_keys(kGifImages), (Keys{"/b.gif", stem.substr(0, 255)}));
  EXPECT_EQ(list_keys(kPages), (Keys{"/a.html", "/", "", stem.substr(0, 255), "/e.htm"}));
  EXPECT_EQ(list_snapshot(kPages).entries[3].hits, 2u);  // the long ".html" and ".htm"
}

// The directory list made from the file list at the end shows what counting
// request by request shows: keys in order, hits, kilobytes, first times and
// totals (its visits and latest times are not shown). A path longer than a
// key, whose cut may share a file entry with a path of another directory,
// makes it at once from the requests before; it is counted one by one from
// there.
TEST_F(AccumulationTest, DirectoriesMadeFromTheFileListShowWhatCountingOneByOneShows) {
  const std::string long_dir = "/" + std::string(250, 'd');
  std::vector<Request> requests;
  int minute = 0;
  const auto add = [&](const std::string& path) {
    requests.push_back(path_request(path, minute, minute % 7 - 2));  // a negative size too
    minute += 41;
  };
  for (const char* path : {"/a/x.html", "/b/y.gif", "/a/z.gif", "", "/", "/a/x.html", "noslash",
                           "/b/", "/a/b/c.htm", "/b/y.gif"}) {
    add(path);
  }
  const std::size_t short_ones = requests.size();
  // Both cut to the same file key; their directories differ.
  add(long_dir + "/" + std::string(20, 'f'));
  add(long_dir + std::string(20, 'f') + "/g");
  for (const char* path : {"/a/x.html", "/c/w.html"}) add(path);

  const auto counted = [&](std::size_t n, bool owed) {
    clear_lists_keeping_first_times();
    StretchTally tally = tally_owing(false, true, false, false);
    tally_ = owed ? &tally : nullptr;
    for (std::size_t i = 0; i < n; ++i) {
      count(requests[i]);
      if (owed && i + 1 < short_ones) {
        EXPECT_EQ(list_snapshot(kDirectories).count, 0);
      }
    }
    tally_ = nullptr;
    if (owed && tally.directories_owed) make_directory_list(tally);
    EXPECT_FALSE(owed && tally.directories_owed);
    return shown_list(kDirectories);
  };
  for (const std::size_t n : {short_ones, requests.size()}) {
    EXPECT_EQ(counted(n, true), counted(n, false)) << n;
  }
  const Keys keys = list_keys(kDirectories);
  ASSERT_EQ(keys.size(), 8u);
  EXPECT_EQ(Keys(keys.begin(), keys.begin() + 5), (Keys{"/a/", "/b/", "", "/", "/a/b/"}));
  EXPECT_EQ(keys[7], "/c/");
  EXPECT_EQ(list_snapshot(kDirectories).entries[0].hits, 4u);
}

// Clients given their latest pages from the file list at the end hold what
// copying each page request's path gives: a client's first request no page,
// pages with an empty path (which leave the latest page as it is), a path
// longer than a key, and pages given in the middle of the counting.
TEST_F(AccumulationTest, LatestPagesGivenFromTheFileListEqualThoseCopiedPerRequest) {
  const std::string long_page = "/" + std::string(300, 'q') + ".html";
  std::vector<Request> requests;
  const auto add = [&](const std::string& client, const std::string& path) {
    Request r;
    r.client = client;
    r.path = path;
    classify_path(path, r.extension, r.is_page);
    requests.push_back(r);
  };
  add("192.0.2.1", "/a.gif");
  add("192.0.2.2", "/b.html");
  add("192.0.2.1", "/c.html");
  add("192.0.2.3", "");
  add("192.0.2.2", "");
  add("192.0.2.2", "/d.png");
  add("192.0.2.3", long_page);
  add("192.0.2.1", "/b.html");
  add("192.0.2.4", "/e.jpg");
  add("192.0.2.3", "/");

  const auto clients = [&](bool owed, std::size_t give_after) {
    clear_period_lists();
    StretchTally tally = tally_owing(false, false, false, true);
    tally_ = owed ? &tally : nullptr;
    for (std::size_t i = 0; i < requests.size(); ++i) {
      count(requests[i]);
      if (owed && i + 1 == give_after) give_client_pages(tally);
    }
    tally_ = nullptr;
    if (owed) give_client_pages(tally);
    EXPECT_TRUE(tally.client_pages.empty());
    std::vector<ListEntry> entries = list_snapshot(kClients).entries;
    EXPECT_EQ(list_snapshot(kFiles).entries.size(), 8u);
    return entries;
  };
  const std::vector<ListEntry> copied = clients(false, 0);
  ASSERT_EQ(copied.size(), 4u);
  EXPECT_EQ(copied[0].extra, "/b.html");
  EXPECT_EQ(copied[1].extra, "/b.html");
  EXPECT_EQ(copied[2].extra, "/");
  EXPECT_EQ(copied[3].extra, "");
  for (std::size_t give_after = 0; give_after <= requests.size(); ++give_after) {
    EXPECT_EQ(clients(true, give_after), copied) << give_after;
  }
  clients(true, 7);
  EXPECT_EQ(list_snapshot(kClients).entries[2].extra, "/");
  EXPECT_EQ(list_snapshot(kFiles).entries[5].key, long_page.substr(0, 255));
}

// The keys of a line are hashed as it is cut, and the counting takes those
// hashes instead of hashing again: the lists come out as when the keys are
// hashed again, also where the path counted is not the one the request line
// names (a default file appended, an unknown method).
TEST_F(AccumulationTest, KeysHashedAsTheLinesWereCutCountAsKeysHashedAgain) {
  settings.default_file = "index.html";
  settings.host_url = "www.example.org";
  std::string log;
  int client = 0;
  for (const std::string& request :
       {std::string("GET /docs/ HTTP/1.0"), std::string("GET /a.gif"), std::string("POST /b.html"),
        std::string("GET  /x"), "GET /" + std::string(300, 'p') + ".htm",
        std::string("HEAD /docs/index.html"), std::string("GET /docs/"), std::string("GET /")}) {
    log += "192.0.2." + std::to_string(client++ % 3) + " - - [30/Apr/2002:13:05:33 +0100] \"" +
           request + "\" 200 2326 \"-\" \"M\"\n";
  }
  write_file("a.log", log);
  const auto counted = [&](bool copied) {
    clear_period_lists();
    open_log("a.log");
    std::size_t hinted = 0;
    std::vector<std::string> fields(kRecordFields + 1);
    while (read_record(analysis.record, LogReporter{}) == kRecordFields) {
      if (copied) {
        // Fields of their own, as the reader did not give them.
        for (int i = 1; i <= kRecordFields; ++i) {
          fields[i] = std::string(analysis.record.field[i]);
          analysis.record.field[i] = fields[i];
        }
      }
      RecordHints hints;
      if (current_record_hints(analysis.record, hints)) hinted += 1;
      RequestInfo info;
      parse_request_into(analysis.record, {}, LogReporter{}, info);
      count_request(analysis.record, info);
    }
    close_log();
    EXPECT_EQ(hinted, copied ? 0u : 8u);
    return period_entries();
  };
  const auto hashed_again = counted(true);
  EXPECT_EQ(counted(false), hashed_again);
  EXPECT_EQ(list_keys(kClients), (Keys{"192.0.2.0", "192.0.2.1", "192.0.2.2"}));
  // Files: "/docs/index.html", "/a.gif", "", the long one cut, "/index.html".
  EXPECT_EQ(list_snapshot(kFiles).count, 5);
  reset_log_reader();
}

// The agent lists made from the requests' agents at the end show what
// counting request by request shows: the names, browsers and operating
// systems as the reports show them, the unknown agents' lists in full (with
// visits and latest times). Agents longer than a key, which may share a cut
// and not a class, have them made at once from the requests before.
TEST_F(AccumulationTest, AgentListsMadeFromTheRequestsAgentsShowWhatCountingOneByOneShows) {
  settings.browser_file = "browsers.lst";
  settings.opsys_file = "opsys.lst";
  write_file("browsers.lst", "Firefox\nMSIE\n");
  write_file("opsys.lst", "Linux\nWindows\n");
  load_agent_list(kBrowserPatterns);
  load_agent_list(kOpsysPatterns);
  take_console_output();
  std::vector<Request> requests;
  int minute = 0;
  const auto add = [&](const std::string& agent, int gap) {
    minute += gap;
    Request r;
    r.agent = agent;
    r.minute = minute % 60;
    r.hour = 10 + minute / 60;
    r.kbytes = minute % 5 - 1;
    requests.push_back(r);
  };
  const std::string firefox = "Mozilla/5.0 (X11; Linux x86_64) Firefox/99";
  add(firefox, 0);
  add("Zq7Fetch/0.4", 5);
  add("Mozilla/4.0 (compatible; MSIE 6.0; Windows 98)", 1);
  add("Zq7Fetch/0.4", 40);  // a new visit
  add(firefox, 2);
  add("Mozilla/4.0 (compatible; MSIE 5.5; Windows 98)", 3);
  add("Opera (Linux)", 1);  // no browser class, a system class
  add("Zq7Fetch/0.5", 50);
  add("Zq7Fetch/0.4", 10);
  add(firefox, 0);
  const std::size_t short_ones = requests.size();
  const std::string long_agent = "Firefox/" + std::string(260, 'v');
  add(long_agent + " (Linux)", 3);
  add(long_agent + " (Windows)", 3);
  add("Zq7Fetch/0.4", 3);

  const int unknown_lists[] = {kUnknownBrowsers, kUnknownOpsys};
  struct Counted {
    std::vector<ShownList> shown;
    std::vector<std::vector<ListEntry>> unknown;
    std::vector<std::vector<PackedTime>> unknown_first_times;
    std::vector<uint64_t> unknown_visits;
    bool operator==(const Counted&) const = default;
  };
  const auto counted = [&](std::size_t n, bool owed) {
    clear_lists_keeping_first_times();
    for (const int slot : unknown_lists) {
      list_clear(slot);
      lists.list_slots[slot].keep_first_times = true;
    }
    StretchTally tally = tally_owing(false, false, true, false);
    tally_ = owed ? &tally : nullptr;
    for (std::size_t i = 0; i < n; ++i) {
      count(requests[i]);
      if (owed && i + 1 < short_ones) {
        EXPECT_EQ(list_snapshot(kUnknownOpsys).count + list_snapshot(kAgentNames).count, 0);
      }
    }
    tally_ = nullptr;
    if (owed && tally.agents_owed) make_agent_lists(tally);
    EXPECT_FALSE(owed && tally.agents_owed);
    EXPECT_TRUE(tally.stretch_agents.entries.empty());
    Counted result;
    for (const int slot : {kAgentNames, kBrowsers, kOperatingSystems}) {
      result.shown.push_back(shown_list(slot));
    }
    for (const int slot : unknown_lists) {
      const CountedList& list = list_snapshot(slot);
      result.unknown.push_back(list.entries);
      result.unknown_first_times.push_back(list.first_times);
      result.unknown_visits.push_back(list.total_visits);
      result.shown.push_back(shown_list(slot));
    }
    return result;
  };
  for (const std::size_t n : {short_ones, requests.size()}) {
    EXPECT_EQ(counted(n, true), counted(n, false)) << n;
  }
  EXPECT_EQ(list_keys(kAgentNames), (Keys{"Mozilla/5.0", "Zq7Fetch/0.4", "Mozilla/4.0", "Opera",
                                          "Zq7Fetch/0.5", "Firefox/" + std::string(247, 'v')}));
  EXPECT_EQ(list_keys(kBrowsers).size(),
            5u);  // Firefox, other agent, MSIE 6.0, MSIE 5.5, long Firefox
  EXPECT_EQ(list_keys(kOperatingSystems),
            (Keys{"Linux x86_64", "other agent", "Windows 98", "Linux", "Windows"}));
  EXPECT_EQ(list_keys(kUnknownOpsys), (Keys{"Zq7Fetch/0.4", "Zq7Fetch/0.5"}));
  EXPECT_EQ(list_snapshot(kUnknownOpsys).entries[0].visits, 3u);
  EXPECT_EQ(list_snapshot(kUnknownBrowsers).count, 3);  // with "Opera (Linux)"
}

// A stretch of very many different agents has them counted into the agent
// lists whenever kStretchAgentsHeld are held, so that the memory does not
// grow with every request; the lists show what counting one by one shows.
TEST_F(AccumulationTest, VeryManyAgentsAreCountedAsTheyReachTheMostHeld) {
  std::vector<Request> requests;
  for (std::size_t i = 0; i < kStretchAgentsHeld * 2 + 100; ++i) {
    Request r;
    r.agent = i % 3 == 0 ? "Bot/" + std::to_string(i % 1000) : "Probe " + std::to_string(i);
    r.minute = static_cast<int>(i % 60);
    r.hour = static_cast<int>(i / 60 % 24);
    r.kbytes = static_cast<int64_t>(i % 9);
    requests.push_back(r);
  }
  const auto counted = [&](bool owed) {
    clear_period_lists();
    list_clear(kUnknownOpsys);
    StretchTally tally = tally_owing(false, false, true, false);
    tally_ = owed ? &tally : nullptr;
    std::size_t most_held = 0;
    for (const Request& r : requests) {
      count(r);
      most_held = std::max(most_held, tally.stretch_agents.entries.size());
    }
    tally_ = nullptr;
    if (owed && tally.agents_owed) make_agent_lists(tally);
    EXPECT_LT(most_held, kStretchAgentsHeld);
    std::vector<ShownList> shown;
    for (const int slot : {kAgentNames, kBrowsers, kOperatingSystems, kUnknownOpsys}) {
      shown.push_back(shown_list(slot));
    }
    const CountedList& unknown = list_snapshot(kUnknownOpsys);
    return std::make_pair(shown, std::vector<ListEntry>(unknown.entries));
  };
  EXPECT_EQ(counted(true), counted(false));
  EXPECT_EQ(list_snapshot(kUnknownOpsys).count,
            static_cast<int32_t>(1000 + requests.size() * 2 / 3));
}

// A reader told not to hash the directories leaves the counting to hash
// them, where it counts them: the lists come out as with the reader's hashes.
TEST_F(AccumulationTest, DirectoriesNotHashedByTheReaderAreHashedByTheCounting) {
  std::string log;
  for (const char* path : {"/a/x.html", "/b/", "/a/y.gif", "/", "/c/d/e", "/a/x.html", "/b/"}) {
    log += std::string("192.0.2.1 - - [30/Apr/2002:13:05:33 +0100] \"GET ") + path +
           " HTTP/1.0\" 200 2326 \"-\" \"M\"\n";
  }
  write_file("a.log", log);
  const auto counted = [&](bool hints) {
    clear_period_lists();
    open_log("a.log", {}, {.directory_hints = hints});
    EXPECT_EQ(record_hints_have_directory(), hints);
    while (read_record(analysis.record, LogReporter{}) == kRecordFields) {
      RequestInfo info;
      parse_request_into(analysis.record, {}, LogReporter{}, info);
      count_request(analysis.record, info);
    }
    close_log();
    return period_entries();
  };
  const auto with_hashes = counted(true);
  EXPECT_EQ(counted(false), with_hashes);
  EXPECT_EQ(list_keys(kDirectories), (Keys{"/a/", "/b/", "/", "/c/d/"}));
  EXPECT_EQ(list_snapshot(kDirectories).entries[0].hits, 3u);
  reset_log_reader();
}

TEST_F(AccumulationTest, UnknownAgentKeepsTheRequestsOwnValues) {
  Request r;
  r.kbytes = 7;
  count(r);
  EXPECT_EQ(list_snapshot(kBrowsers).total_kbytes, 7);
  EXPECT_EQ(list_snapshot(kOperatingSystems).total_kbytes, 7);
  EXPECT_EQ(list_snapshot(kHours).total_kbytes, 7);
  EXPECT_EQ(list_keys(kUnknownBrowsers), Keys{"Mozilla/5.0 (X11; Linux x86_64)"});
}

TEST_F(AccumulationTest, FlushDerivesRepeatClientsDomainsAndExitPages) {
  resolver_.answer("192.0.2.1", "a.example.DE");
  resolver_.answer("192.0.2.2", "b.example.de");
  Request r;
  r.hour = 10;
  count(r);
  r.hour = 11;  // an hour later: a second visit
  r.path = "/last.html";
  count(r);
  r.client = "192.0.2.2";
  count(r);
  Request images_only = image("/a.gif", ".GIF");
  images_only.client = "192.0.2.3";
  count(images_only);

  flush_period("2002w23", "23", "2002", kModeWeeks);
  const std::string report = read_file("2002w23.txt");
  EXPECT_EQ(report.substr(0, report.find('\n')), "Week 23 of 2002");
  EXPECT_EQ(section(report, 2, "visits"), Keys{"192.0.2.1=a.example.DE=2"});
  EXPECT_EQ(section(report, 3, "hits"), (Keys{"de=3", "unnamed=1"}));
  EXPECT_EQ(section(report, 10, "hits"), (Keys{"/last.html=2", "=1"}));
  for (int slot = 1; slot <= 20; ++slot) EXPECT_EQ(list_snapshot(slot).count, 0) << slot;
}

TEST_F(AccumulationTest, FlushNamesStatusCodesByReturnCodes) {
  analysis.record_number = 41;
  for (const char* status : {"200", "404", "599", "4041", "20"}) {
    Request r;
    r.status = status;
    count(r);
  }
  flush_period("2002m05", "05", "2002", kModeMonths);
  const std::string console = take_console_output();
  EXPECT_EQ(console.substr(console.find("Writing report")),
            "Writing report Unknown return code 599!\n"
            "Unknown return code 4041!\n"
            "Unknown return code 20!\n"
            "done.\n");
  const std::string entry =
      "101112: Error in file logs/a.23!\n        Unknown return code in line 41: ";
  EXPECT_EQ(error_log_entries(), entry + "599!\n" + entry + "4041!\n" + entry + "20!\n");
  const std::string report = read_file("2002m05.txt");
  EXPECT_EQ(report.substr(0, report.find('\n')), "Month 05 of 2002");
  // The search runs from the group's last line, so "200 Fine" wins over "200 OK".
  EXPECT_EQ(section(report, 11, "hits"), (Keys{"200 Fine=1", "404 Not Found=1", "Other code=1",
                                               "Other code=1", "Other code=1"}));
}

TEST_F(AccumulationTest, VolumeIsRoundedToTheEvenNeighbour) {
  const std::vector<std::pair<long double, std::string>> cases = {
      {1536, " 2 kB\n"}, {2560, " 2 kB\n"}, {2561, " 3 kB\n"}, {511, " 0 kB\n"}};
  for (const auto& [bytes, ending] : cases) {
    analysis.period_bytes = bytes;
    flush_period("2002y", "00", "2002", kModeYears);
    const std::string report = read_file("2002y.txt");
    EXPECT_EQ(report.substr(0, report.find('\n')), "Year 2002");
    EXPECT_EQ(report.substr(report.size() - ending.size()), ending) << bytes;
    EXPECT_EQ(analysis.period_bytes, 0);
  }
}

}  // namespace
}  // namespace sorvik
