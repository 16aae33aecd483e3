// The sample period dialog: it shows the caller's period, takes 100 and
// 1000000, refuses 99 and 1000001 with the range message and stays open,
// and Help opens context 3000.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>

#include "ui/dialog_result.h"
#include "ui/dlg_stats_sample_pd.h"
#include "ui/html_help.h"
#include "ui_test_support.h"

namespace {

class SamplePeriodTest : public UiTest {
 protected:
  // Enters `period` and presses Enter (OK); a dialog that stays open is cancelled.
  int Enter(CDlgStatsSamplePd& dialog, const QString& period) {
    return RunModal(dialog, [&] {
      dialog.Control<QLineEdit>(1000)->setText(period);
      PressKey(dialog, Qt::Key_Return);
      if (!dialog.isVisible()) return;
      EXPECT_EQ(dialog.focusWidget(), dialog.Control<QLineEdit>(1000));
      dialog.Control<QPushButton>(IDCANCEL)->click();
    });
  }
};

TEST_F(SamplePeriodTest, RendersAsItsTemplateWithTheCallersPeriod) {
  CDlgStatsSamplePd dialog(nullptr);
  EXPECT_EQ(dialog.m_samplePeriodMs, 0u);
  dialog.m_samplePeriodMs = 1000;
  EXPECT_EQ(RunModal(dialog,
                     [&] {
                       ExpectLaidOutAsTemplate(dialog, 134);
                       EXPECT_EQ(dialog.Control<QLineEdit>(1000)->text().toStdString(), "1000");
                       SaveScreenshot(dialog, "dialog_134");
                       PressKey(dialog, Qt::Key_Escape);
                     }),
            IDCANCEL);
}

TEST_F(SamplePeriodTest, TakesTheRangeAndRefusesWhatLiesJustOutside) {
  for (uint32_t period : {100u, 1000000u}) {
    CDlgStatsSamplePd dialog(nullptr);
    EXPECT_EQ(Enter(dialog, QString::number(period)), IDOK) << period;
    EXPECT_EQ(dialog.m_samplePeriodMs, period);
  }
  EXPECT_TRUE(boxes_.empty());
  for (const char* period : {"99", "1000001", ""}) {
    SCOPED_TRACE(period);
    boxes_.clear();
    CDlgStatsSamplePd dialog(nullptr);
    dialog.m_samplePeriodMs = 5000;
    EXPECT_EQ(Enter(dialog, period), IDCANCEL);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text.toStdString(), "Please enter an integer between 100 and 1000000.");
    EXPECT_EQ(boxes_[0].icon, CMessageBox::Icon::Exclamation);
    EXPECT_EQ(dialog.m_samplePeriodMs, 5000u);
  }
}

TEST_F(SamplePeriodTest, HelpOpensContext3000) {
  CHelpPageRecorder recorder;
  CDlgStatsSamplePd dialog(nullptr);
  EXPECT_EQ(RunModal(dialog,
                     [&] {
                       dialog.Control<QPushButton>(1024)->click();
                       EXPECT_TRUE(dialog.isVisible());
                       dialog.Control<QPushButton>(IDCANCEL)->click();
                     }),
            IDCANCEL);
  EXPECT_EQ(recorder.opened, std::vector{QUrl::fromLocalFile(QString::fromStdString(HelpFolder() + "/context-3000.html"))});
}

}  // namespace
