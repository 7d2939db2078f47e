// Inputs with which the fuzz targets (fuzz/) broke a property of the driver's
// readers, as plain examples; the raw inputs are in fuzz/regressions/.
#include <string>

#include "base/settings.h"
#include "driver/result_file.h"
#include "support/test_support.h"

namespace sorvik {
namespace {

class FuzzRegressionTest : public SorvikTest {
 protected:
  void SetUp() override {
    SorvikTest::SetUp();
    settings.results_file = "results.txt";
  }

  // Writes the result lists and reads the file back into them.
  static void write_and_read_results() {
    write_results();
    reset_results();
    read_results();
  }
};

TEST_F(FuzzRegressionTest, ResultFileReadsBackNamesThatHoldTheFieldMarkers) {
  // A log file whose name holds "incomplete" leaves its period complete.
  results.result_lists[3].push_back(ResultEntry{"2002w17", "access.incomplete", true, 1, 2, 3});
  write_and_read_results();
  ASSERT_EQ(results.result_lists[3].size(), 1u);
  EXPECT_TRUE(results.result_lists[3][0].complete);
  EXPECT_EQ(results.result_lists[3][0].log, "access.incomplete");
  EXPECT_EQ(results.start_file[3], "");

  // A hand-edited period name that holds "log=" keeps the log of its log
  // field, however often it is written and read.
  write_file("results.txt",
             "{ Weeks }\nlog=w17: complete, files=1, kBytes=2, visits=3, log=a.17\n"
             "log=w18: complete, files=1, kBytes=2, visits=3\n");
  reset_results();
  read_results();
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(results.result_lists[3].size(), 1u);
    EXPECT_EQ(results.result_lists[3][0].name, "log=w17");
    EXPECT_EQ(results.result_lists[3][0].log, "a.17");
    write_and_read_results();
  }
}

}  // namespace
}  // namespace sorvik
