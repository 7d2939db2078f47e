#include "report/page_writer.h"

#include <string>

#include "base/block_writer.h"
#include "base/run_stop.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

using PageWriterTest = SorvikTest;

TEST_F(PageWriterTest, TextIsEscapedAndMarkupPassesUnchanged) {
  PageWriter page = PageWriter::create("page.html");
  page.text("<script>alert(\"x&y\")</script>'\xFC").markup("<B>&amp;</B>").markup_line();
  page.markup_line("<TD>").text("&").text("").markup_line("</TD>");
  page.finish();
  EXPECT_EQ(read_file("page.html"),
            "&lt;script&gt;alert(&quot;x&amp;y&quot;)&lt;/script&gt;'\xFC<B>&amp;</B>\n"
            "<TD>\n&amp;</TD>\n");
}

// A page larger than a block reaches its file in several writes: every
// byte arrives once, in order, and a hostile text astride a block's end
// stays escaped.
TEST_F(PageWriterTest, LargePageArrivesWholeAndEscaped) {
  PageWriter page = PageWriter::create("large.html");
  std::string expected;
  for (int row = 0; row < 3000; ++row) {
    page.markup("<TR><TD>").text("<b>\"x\"&y</b>").markup_line("</TD></TR>");
    expected += "<TR><TD>&lt;b&gt;&quot;x&quot;&amp;y&lt;/b&gt;</TD></TR>\n";
  }
  page.finish();
  ASSERT_GT(expected.size(), 2 * kPageBlockBytes);
  EXPECT_EQ(read_file("large.html"), expected);
}

TEST_F(PageWriterTest, PageKeptInMemoryIsCreatedByTheBlockWriterWhenFinished) {
  BlockWriter writer;
  PageWriter page = PageWriter::create_later("later.html", &writer);
  page.markup("<P>").text("a<b");
  finish_blocks(&writer);
  EXPECT_FALSE(file_exists("later.html"));
  page.finish();
  finish_blocks(&writer);
  EXPECT_EQ(read_file("later.html"), "<P>a&lt;b");
}

// A run stopped while a page is written leaves the page with what was
// written to it; a page kept in memory is not created at all.
TEST_F(PageWriterTest, UnfinishedPageKeepsWhatWasWritten) {
  {
    PageWriter page = PageWriter::create("stopped.html");
    page.markup("<H1>").text("&");
    BlockWriter writer;
    PageWriter later = PageWriter::create_later("dropped.html", &writer);
    later.markup("<H1>");
  }
  EXPECT_EQ(read_file("stopped.html"), "<H1>&amp;");
  EXPECT_FALSE(file_exists("dropped.html"));
}

TEST_F(PageWriterTest, PageThatCannotBeWrittenEndsTheRun) {
  const RunStop stop = stop_of_with_file_limit(1000, [] {
    PageWriter page = PageWriter::create("full.html");
    for (int row = 0; row < 10000; ++row) page.markup_line("<TR><TD>row</TD></TR>");
    page.finish();
  });
  EXPECT_EQ(stop.exit_status, kExitIoError);
  EXPECT_EQ(stop.console_line, "Cannot write full.html: File too large");
}

}  // namespace
}  // namespace sorvik
