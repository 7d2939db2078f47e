// The lists a counting child makes from a stretch's file and agent lists when
// it sends the stretch show what counting every request into them shows.
#include "analysis/accumulation_fixture.h"

namespace sorvik {
namespace {

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

}  // namespace
}  // namespace sorvik
