// The progress dialog: it ends with OK at the tick after the work has
// ended, shows the work's range and position, and ends with Cancel at once
// on Cancel, Escape or Enter, clearing the keep-going flag; the worker keeps
// its handle and may outlive the dialog.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProgressBar>
#include <QPushButton>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "ui/dialog_result.h"
#include "ui/dlg_progress.h"
#include "ui_test_support.h"

namespace {

using namespace std::chrono_literals;

// What a work function and its test share.
struct Work {
  uint32_t range = 0;
  uint32_t position = 0;
  std::atomic<bool> release{false};      // lets a waiting work function go on
  std::atomic<bool> waitForRelease{false};
  std::atomic<bool> sawCancel{false};
  std::atomic<bool> returned{false};
  std::atomic<ULONG> refsAfterRelease{0};
  ComPtr<ProgressHandle> kept;           // a reference the test holds on to
};

// Sets range and position, then (if told) waits for the release or the
// cancel, and returns.
void StepThenWaitForCancel(void* parameter, ComPtr<ProgressHandle> handle) {
  auto& work = *static_cast<Work*>(parameter);
  handle->SetRange(work.range);
  handle->SetPosition(work.position);
  while (work.waitForRelease && handle->KeepGoing()) std::this_thread::sleep_for(2ms);
  work.sawCancel = !handle->KeepGoing();
  work.returned = true;
}

// Ignores the keep-going flag: waits for the release alone, then counts the
// references to its handle.
void IgnoreCancel(void* parameter, ComPtr<ProgressHandle> handle) {
  auto& work = *static_cast<Work*>(parameter);
  while (!work.release) std::this_thread::sleep_for(2ms);
  work.sawCancel = !handle->KeepGoing();
  work.refsAfterRelease = handle->AddRef();
  handle->Release();
  handle->SetPosition(1);
  work.kept = handle;
  work.returned = true;
}

bool WaitFor(const std::atomic<bool>& flag) {
  for (int i = 0; i < 2500 && !flag; ++i) std::this_thread::sleep_for(2ms);
  return flag;
}

class ProgressTest : public UiTest {};

TEST_F(ProgressTest, WorkEndingBeforeTheFirstTickEndsWithOKAtThatTick) {
  Work work;
  work.range = 10;
  work.position = 7;
  CDlgProgress dialog(&StepThenWaitForCancel, &work);
  EXPECT_FALSE(dialog.parentWidget());
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_GE(clock.elapsed(), 45) << "ended before the first tick";
  EXPECT_TRUE(work.returned);
  EXPECT_FALSE(work.sawCancel);
  // The tick that saw the end wrote the range and position first.
  auto* bar = dialog.Control<QProgressBar>(1007);
  ASSERT_TRUE(bar);
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 10);
  EXPECT_EQ(bar->value(), 7);
}

TEST_F(ProgressTest, RendersAsItsTemplateWithTheWorksProgress) {
  Work work;
  work.range = 100;
  work.position = 40;
  work.waitForRelease = true;
  CDlgProgress dialog(&StepThenWaitForCancel, &work);
  EXPECT_EQ(RunModal(dialog,
                     [&] {
                       auto* bar = dialog.Control<QProgressBar>(1007);
                       EXPECT_TRUE(ProcessEventsUntil([&] { return bar->value() == 40; }));
                       EXPECT_EQ(bar->maximum(), 100);
                       ExpectLaidOutAsTemplate(dialog, 1001);
                       SaveScreenshot(dialog, "dialog_1001");
                       dialog.Control<QPushButton>(IDCANCEL)->click();
                     }),
            IDCANCEL);
  EXPECT_TRUE(WaitFor(work.returned));
  EXPECT_TRUE(work.sawCancel);
}

struct CancelWay {
  const char* name;
  std::function<void(CDlgProgress&)> act;
};

void PrintTo(const CancelWay& c, std::ostream* out) { *out << c.name; }

class ProgressCancelTest : public ProgressTest, public testing::WithParamInterface<CancelWay> {};

TEST_P(ProgressCancelTest, CancelsAtOnce) {
  Work work;
  work.waitForRelease = true;
  CDlgProgress dialog(&StepThenWaitForCancel, &work);
  EXPECT_EQ(RunModal(dialog, [&] { GetParam().act(dialog); }), IDCANCEL);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_TRUE(WaitFor(work.returned));
  EXPECT_TRUE(work.sawCancel);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, ProgressCancelTest,
    testing::Values(CancelWay{"CancelButton", [](CDlgProgress& d) { d.Control<QPushButton>(IDCANCEL)->click(); }},
                    CancelWay{"Escape", [](CDlgProgress& d) { PressKey(d, Qt::Key_Escape); }},
                    CancelWay{"Enter", [](CDlgProgress& d) { PressKey(d, Qt::Key_Return); }},
                    CancelWay{"CloseBox", [](CDlgProgress& d) { d.close(); }}),
    [](const testing::TestParamInfo<CancelWay>& info) { return std::string(info.param.name); });

TEST_F(ProgressTest, TheWorkerOutlivesTheDialogWithItsHandle) {
  auto work = std::make_shared<Work>();
  auto dialog = std::make_unique<CDlgProgress>(&IgnoreCancel, work.get());
  // The dialog does not wait for a worker that goes on.
  EXPECT_EQ(RunModal(*dialog, [&] { dialog->Control<QPushButton>(IDCANCEL)->click(); }), IDCANCEL);
  EXPECT_FALSE(work->returned);
  dialog.reset();

  work->release = true;
  ASSERT_TRUE(WaitFor(work->returned));
  EXPECT_TRUE(work->sawCancel);
  // The worker's own reference and its argument, plus the one it took.
  EXPECT_EQ(work->refsAfterRelease, 3u);
  // The done flag still comes once the work function has returned.
  for (int i = 0; i < 2500 && !work->kept->Done(); ++i) std::this_thread::sleep_for(2ms);
  EXPECT_TRUE(work->kept->Done());
  EXPECT_EQ(work->kept->Position(), 1u);
}

// Writes to its handle for a while, whatever happens around it.
void KeepsWriting(void*, ComPtr<ProgressHandle> handle) {
  for (uint32_t i = 0; i < 1500; ++i) {
    handle->SetPosition(i);
    std::this_thread::sleep_for(2ms);
  }
}

TEST_F(ProgressTest, AWorkerStillRunningAtTheEndOfTheProcessDoesNoHarm) {
  {
    CDlgProgress dialog(&KeepsWriting, nullptr);
    EXPECT_EQ(RunModal(dialog, [&] { PressKey(dialog, Qt::Key_Escape); }), IDCANCEL);
  }
  // The test and its process end now, with the worker still writing.
}

}  // namespace
