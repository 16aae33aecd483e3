// Test helpers for the program: one QApplication on the offscreen platform
// for the test process, both Ralto libraries registered in the test's own
// registry store (the example plant), message boxes answered by the test,
// and waits that keep the event loop running.
#pragma once

#include <gtest/gtest.h>

#include <QString>

#include <functional>
#include <string>
#include <vector>

#include "platform/com.h"
#include "ralto/opc_control.h"
#include "ui/message_box.h"

class AppTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Gives the next message boxes these answers in turn (IDOK when none is
  // left) and records each box's text.
  void AnswerBoxes(std::vector<int> answers);
  const std::vector<QString>& Boxes() const { return boxes_; }

  // Runs the event loop until `done` or 20 s have passed.
  static bool PumpUntil(const std::function<bool()>& done);

  // An OPC AE client of the server in this process (an event server object).
  ComPtr<IUnknown> ConnectClient();

  ComPtr<IRaltoOpcControl> control_;

 private:
  ComPtr<IUnknown> controlServer_;
  std::vector<int> answers_;
  std::vector<QString> boxes_;
};
