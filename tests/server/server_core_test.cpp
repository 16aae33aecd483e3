// The headless server core as a program runs it: its own callback, its own
// acknowledgement log, and a run that ends when the last client leaves.
#include "server/server_core.h"

#include <gtest/gtest.h>

#include "callback/alarm_log_instance.h"
#include "platform/class_factory.h"
#include "toolkit/opcae.h"
#include "toolkit/server_interface.h"

namespace {

ComPtr<IOPCEventServer> Connect() {
  ComPtr<IOPCEventServer> server;
  EXPECT_EQ(CoCreateInstance(kServerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCEventServer, server.PutVoid()),
            S_OK);
  return server;
}

TEST(ServerCore, TheRunEndsWhenTheLastClientLeaves) {
  CServerCore core;
  ASSERT_TRUE(core.Start());
  ASSERT_NE(g_pAlarmLog.load(), nullptr);

  ComPtr<IOPCEventServer> first = Connect();
  ComPtr<IOPCEventServer> second = Connect();
  ASSERT_TRUE(first && second);
  EXPECT_TRUE(g_ServerInterface.IsServerInUse());
  first.Reset();
  EXPECT_FALSE(core.WaitForClose(50));  // one client is still there
  second.Reset();
  EXPECT_TRUE(core.WaitForClose(5000));

  core.Stop();
  EXPECT_EQ(g_pAlarmLog.load(), nullptr);
}

TEST(ServerCore, ALogOfTheCallersIsLeftToTheCaller) {
  CAlarmLog log;
  g_pAlarmLog.store(&log);
  {
    CServerCore core;
    ASSERT_TRUE(core.Start());
    EXPECT_EQ(g_pAlarmLog.load(), &log);
  }
  EXPECT_EQ(g_pAlarmLog.load(), &log);
  g_pAlarmLog.store(nullptr);
}

}  // namespace
