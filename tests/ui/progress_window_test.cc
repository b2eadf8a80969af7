#include "ui/progress_window.h"

#include <gtest/gtest.h>

#include "base/pause.h"
#include "platform/text_codec.h"
#include "ui/scripted_ui.h"

namespace quil::ui {
namespace {

using platform::ToNarrow;

class ProgressWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetPauseForTesting([this](Milliseconds pause) { pauses_.push_back(pause.count()); });
    ResetProgressWindowForTesting();
  }
  void TearDown() override { SetPauseForTesting(nullptr); }
  ScopedScriptedUi ui_;
  std::vector<long> pauses_;  // milliseconds asked for, in order
};

TEST_F(ProgressWindowTest, StepFormatFillsStepTotalAndText) {
  reportProgress(ToNarrow("憑證申請"), ToNarrow("步驟 %d / %d, %s"), 3, 7, ToNarrow("產生憑證請求資訊 ..."));
  ASSERT_EQ(ui_->progress.size(), 1u);
  EXPECT_EQ(ui_->progress[0].text, "步驟 3 / 7, 產生憑證請求資訊 ...");
  EXPECT_EQ(ui_->progress[0].title, "憑證申請");
  EXPECT_EQ(ui_->progress[0].step, 3);
  EXPECT_EQ(ui_->progress[0].total, 7);
  reportProgress("", "", 50, 100, ToNarrow("正在接收伺服器端回應 ..."));
  EXPECT_EQ(ui_->progress[1].text, "正在接收伺服器端回應 ...") << "no format: the text alone";
}

TEST_F(ProgressWindowTest, EmptyTitleKeepsTheCaptionAcrossOperations) {
  reportProgress(ToNarrow("登入"), "", 0, 100, "a");
  reportProgress("", "", 90, 100, "b");
  EXPECT_EQ(ui_->progress.back().title, "登入");
  reportProgress("", "", -1, 0, ToNarrow("登入作業已完成"));
  EXPECT_FALSE(CurrentProgressState().visible);
  EXPECT_EQ(ui_->hides, 1);
  reportProgress("", "", 1, 0, "c");  // a later operation that gives no title
  EXPECT_EQ(ui_->progress.back().title, "登入");
  EXPECT_TRUE(CurrentProgressState().visible);
}

TEST_F(ProgressWindowTest, ALaterReportMayChangeTheTotal) {
  reportProgress("t", "", 1, 0, "x");
  reportProgress("", "", 2, 7, "x");
  EXPECT_EQ(CurrentProgressState().view.total, 7);
  EXPECT_EQ(CurrentProgressState().view.step, 2);
  reportProgress("", "", 1, 0x10005, "x");
  EXPECT_EQ(CurrentProgressState().view.total, 5) << "only the low 16 bits";
}

TEST_F(ProgressWindowTest, FinalReportShowsItsTextThenHides) {
  reportProgress("t", "", 1, 2, "x");
  reportProgress("", "fmt %d", -1, 0, ToNarrow("憑證申請作業完成"));
  EXPECT_EQ(ui_->progress.back().text, "憑證申請作業完成") << "the format is not used";
  EXPECT_EQ(ui_->hides, 1);
  EXPECT_EQ(CurrentProgressState().view.title, "t") << "caption stays for the next operation";
}

TEST_F(ProgressWindowTest, FinalReportBeforeAnyStepShowsNothing) {
  reportProgress("t", "", -1, 0, "failed");
  EXPECT_TRUE(ui_->progress.empty());
  EXPECT_EQ(ui_->hides, 0);
  EXPECT_FALSE(CurrentProgressState().created);
  EXPECT_TRUE(pauses_.empty()) << "nothing shown, nothing to wait for";
}

// The window paces itself: a step stays 100 ms, the closing text 1000 ms.
TEST_F(ProgressWindowTest, PausesAfterEachStepAndLongerAfterTheFinalReport) {
  reportProgress("t", "", 1, 3, "a");
  reportProgress("", "", 2, 3, "b");
  reportProgress("", "", -1, 0, "done");
  EXPECT_EQ(pauses_, (std::vector<long>{100, 100, 1000}));
}

TEST(StepTextTest, FillsPlaceholdersInOrder) {
  EXPECT_EQ(FormatStepText("%d/%d %s %%", 1, 2, "x"), "1/2 x %");
  EXPECT_EQ(FormatStepText("%s only", 1, 2, "x"), "x only");
  EXPECT_EQ(FormatStepText("trailing %", 1, 2, "x"), "trailing %");
}

}  // namespace
}  // namespace quil::ui
