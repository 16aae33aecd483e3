#include "app_fixture.h"

#include <QApplication>
#include <QTest>

#include "platform/class_factory.h"
#include "ralto/opc_server.h"
#include "server/server_core.h"
#include "tests/support/plugin_registration.h"
#include "toolkit/opcae.h"

namespace {

QApplication& Application() {
  static int argc = 1;
  static char name[] = "app_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

}  // namespace

void AppTest::SetUp() {
  Application().setQuitOnLastWindowClosed(false);
  std::string error;
  ASSERT_EQ(RegisterPlugin(RALTO_CONFIG_LIBRARY, &error), S_OK) << error;
  ASSERT_EQ(RegisterPlugin(RALTO_OPC_LIBRARY, &error), S_OK) << error;
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(kRaltoOpcProgId, &clsid), S_OK);
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCServer, controlServer_.PutVoid()), S_OK);
  ASSERT_EQ(controlServer_.As(IID_IRaltoOpcControl, control_), S_OK);
  CMessageBox::TEST_SetAnswerer([this](const CMessageBox::Request& request) {
    boxes_.push_back(request.text);
    if (answers_.empty()) return 1;
    int answer = answers_.front();
    answers_.erase(answers_.begin());
    return answer;
  });
}

void AppTest::TearDown() {
  CMessageBox::TEST_SetAnswerer({});
  if (control_) control_->ClearFailures();
  control_.Reset();
  controlServer_.Reset();
}

void AppTest::AnswerBoxes(std::vector<int> answers) { answers_ = std::move(answers); }

bool AppTest::PumpUntil(const std::function<bool()>& done) { return QTest::qWaitFor(done, 20000); }

ComPtr<IUnknown> AppTest::ConnectClient() {
  ComPtr<IUnknown> server;
  EXPECT_EQ(CoCreateInstance(kServerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCEventServer, server.PutVoid()),
            S_OK);
  return server;
}
