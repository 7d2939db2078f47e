#include "analysis/accumulation_fixture.h"

namespace sorvik {
namespace {

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
