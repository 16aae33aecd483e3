// The progress dialog: it ends with OK at the tick after the work ended and
// shows the work's range and position; Cancel, Escape, Enter and the close
// box end it with Cancel at once and clear the keep-going flag; the worker
// keeps its handle and may outlive the dialog and the process.
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
  uint32_t range = 0, position = 0;
  bool untilCancelled = false;    // StepAndWait waits for the cancel
  std::atomic<bool> release{false};  // IgnoreCancel waits for this alone
  std::atomic<bool> sawCancel{false}, returned{false};
  std::atomic<ULONG> refsAfterRelease{0};
  ComPtr<ProgressHandle> kept;
};

void StepAndWait(void* parameter, ComPtr<ProgressHandle> handle) {
  auto& work = *static_cast<Work*>(parameter);
  handle->SetRange(work.range);
  handle->SetPosition(work.position);
  while (work.untilCancelled && handle->KeepGoing()) std::this_thread::sleep_for(2ms);
  work.sawCancel = !handle->KeepGoing();
  work.returned = true;
}

void IgnoreCancel(void* parameter, ComPtr<ProgressHandle> handle) {
  auto& work = *static_cast<Work*>(parameter);
  while (!work.release) std::this_thread::sleep_for(2ms);
  work.sawCancel = !handle->KeepGoing();
  work.refsAfterRelease = handle->AddRef();
  handle->Release();
  work.kept = handle;
  work.returned = true;
}

bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 2500 && !done(); ++i) std::this_thread::sleep_for(2ms);
  return done();
}

class ProgressTest : public UiTest {};

TEST_F(ProgressTest, WorkEndingBeforeTheFirstTickEndsWithOKAtThatTick) {
  Work work;
  work.range = 10;
  work.position = 7;
  CDlgProgress dialog(&StepAndWait, &work);
  EXPECT_FALSE(dialog.parentWidget());
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(RunModal(dialog, [] {}), IDOK);
  EXPECT_GE(clock.elapsed(), 45) << "ended before the first tick";
  EXPECT_FALSE(work.sawCancel);
  // That tick wrote the range and the position before it ended the dialog.
  auto* bar = dialog.Control<QProgressBar>(1007);
  EXPECT_EQ(bar->maximum(), 10);
  EXPECT_EQ(bar->value(), 7);
}

TEST_F(ProgressTest, RendersAsItsTemplateWithTheWorksProgress) {
  Work work;
  work.range = 100;
  work.position = 40;
  work.untilCancelled = true;
  CDlgProgress dialog(&StepAndWait, &work);
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
  EXPECT_TRUE(WaitFor([&] { return work.returned.load(); }));
}

struct CancelWay {
  const char* name;
  std::function<void(CDlgProgress&)> act;
};

class ProgressCancelTest : public ProgressTest, public testing::WithParamInterface<CancelWay> {};

TEST_P(ProgressCancelTest, CancelsAtOnce) {
  Work work;
  work.untilCancelled = true;
  CDlgProgress dialog(&StepAndWait, &work);
  EXPECT_EQ(RunModal(dialog, [&] { GetParam().act(dialog); }), IDCANCEL);
  EXPECT_TRUE(WaitFor([&] { return work.returned.load(); }));
  EXPECT_TRUE(work.sawCancel);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, ProgressCancelTest,
    testing::Values(CancelWay{"CancelButton", [](CDlgProgress& d) { d.Control<QPushButton>(IDCANCEL)->click(); }},
                    CancelWay{"Escape", [](CDlgProgress& d) { PressKey(d, Qt::Key_Escape); }},
                    CancelWay{"Enter", [](CDlgProgress& d) { PressKey(d, Qt::Key_Return); }},
                    // With no button to press, Enter is the dialog's OK, which cancels too.
                    CancelWay{"EnterWithoutFocus",
                              [](CDlgProgress& d) {
                                auto* cancel = d.Control<QPushButton>(IDCANCEL);
                                cancel->setAutoDefault(false);
                                cancel->setDefault(false);
                                cancel->clearFocus();
                                PressKey(d, Qt::Key_Return);
                              }},
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
  ASSERT_TRUE(WaitFor([&] { return work->returned.load(); }));
  EXPECT_TRUE(work->sawCancel);
  // The worker's own reference and its argument, plus the one it took.
  EXPECT_EQ(work->refsAfterRelease, 3u);
  EXPECT_TRUE(WaitFor([&] { return work->kept->Done(); })) << "no done flag after the work function";
}

void KeepsWriting(void*, ComPtr<ProgressHandle> handle) {
  for (uint32_t i = 0; i < 1500; ++i) {
    handle->SetPosition(i);
    std::this_thread::sleep_for(2ms);
  }
}

TEST_F(ProgressTest, AWorkerStillRunningWhenTheProcessEndsDoesNoHarm) {
  CDlgProgress dialog(&KeepsWriting, nullptr);
  EXPECT_EQ(RunModal(dialog, [&] { PressKey(dialog, Qt::Key_Escape); }), IDCANCEL);
  // The dialog, the test and its process end with the worker still writing.
}

}  // namespace
