#include "platform/class_factory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/class_object.h"
#include "platform/global_interface_table.h"
#include "platform/registry.h"
#include "tests/platform/plugin/greeter.h"
#include "tests/support/debug_capture.h"

namespace {

const std::string kProgId = "Brixham.TestGreeter";
// {6F1C2A40-93B5-4C1E-9E2D-3B7A51C0D0FF}: never registered anywhere.
constexpr CLSID kUnknownClsid{0x6F1C2A40, 0x93B5, 0x4C1E, {0x9E, 0x2D, 0x3B, 0x7A, 0x51, 0xC0, 0xD0, 0xFF}};

ComPtr<ITestGreeter> CreateByProgId(const std::string& progId, HRESULT& hr) {
  ComPtr<ITestGreeter> greeter;
  CLSID clsid;
  hr = CLSIDFromProgID(progId, &clsid);
  if (SUCCEEDED(hr)) hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_ITestGreeter, greeter.PutVoid());
  return greeter;
}

TEST(ClassFactory, CreatesThePluginByProgId) {
  ASSERT_EQ(RegisterInprocServer(CLSID_TestGreeter, kProgId, "Test greeter", TEST_PLUGIN_PATH), S_OK);
  std::string text;
  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, "CLSID\\" + GuidToString(CLSID_TestGreeter) + "\\ProgID", "", text),
            ERROR_SUCCESS);
  EXPECT_EQ(text, kProgId);

  HRESULT hr;
  ComPtr<ITestGreeter> first = CreateByProgId("brixham.testgreeter", hr);
  ASSERT_EQ(hr, S_OK);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Greet("plant", &text), S_OK);
  EXPECT_EQ(text, "Hello, plant");

  // The library stays loaded; each instance is an object of its own.
  ComPtr<ITestGreeter> second = CreateByProgId(kProgId, hr);
  ASSERT_EQ(hr, S_OK);
  EXPECT_NE(first.Get(), second.Get());
  EXPECT_EQ(first->LiveObjects(), 2);
  second.Reset();
  EXPECT_EQ(first->LiveObjects(), 1);

  ComPtr<IClassFactory> factory;
  EXPECT_EQ(CoGetClassObject(CLSID_TestGreeter, CLSCTX_INPROC_SERVER, IID_IClassFactory, factory.PutVoid()), S_OK);
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(CLSID_TestGreeter, first.Get(), CLSCTX_ALL, IID_ITestGreeter, &object),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(CoCreateInstance(CLSID_TestGreeter, nullptr, CLSCTX_ALL, IID_IClassFactory, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
}

TEST(ClassFactory, FindsABareLibraryNameInTheProgramFolder) {
  ASSERT_EQ(RegisterInprocServer(CLSID_TestGreeter, kProgId, "Test greeter", TEST_PLUGIN_NAME), S_OK);
  HRESULT hr;
  ComPtr<ITestGreeter> greeter = CreateByProgId(kProgId, hr);
  EXPECT_EQ(hr, S_OK);
  EXPECT_TRUE(greeter);
}

TEST(ClassFactory, UnknownNamesAndClassesAnswerWindowsCodes) {
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID("Brixham.Nothing", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID("", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID("CLSID\\x", &clsid), CO_E_CLASSSTRING);
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Brixham.Broken\\CLSID", "", "not a guid"), ERROR_SUCCESS);
  EXPECT_EQ(CLSIDFromProgID("Brixham.Broken", &clsid), CO_E_CLASSSTRING);

  EXPECT_EQ(CLSIDFromString("{6F1C2A40-93B5-4C1E-9E2D-3B7A51C0D0ff}", &clsid), S_OK);
  EXPECT_EQ(clsid, kUnknownClsid);
  EXPECT_EQ(CLSIDFromString("{6F1C2A40-93B5-4C1E-9E2D-3B7A51C0D0F}", &clsid), CO_E_CLASSSTRING);
  ASSERT_EQ(RegisterInprocServer(CLSID_TestGreeter, kProgId, "Test greeter", TEST_PLUGIN_PATH), S_OK);
  EXPECT_EQ(CLSIDFromString(kProgId, &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_TestGreeter);

  void* object = nullptr;
  EXPECT_EQ(CoCreateInstance(kUnknownClsid, nullptr, CLSCTX_ALL, IID_IUnknown, &object), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstance(CLSID_TestGreeter, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &object),
            REGDB_E_CLASSNOTREG) << "registered in-process only";

  // After unregistering, the ProgID and the class are gone.
  EXPECT_EQ(UnregisterInprocServer(CLSID_TestGreeter, kProgId), S_OK);
  EXPECT_EQ(UnregisterInprocServer(CLSID_TestGreeter, kProgId), S_OK);
  EXPECT_EQ(CLSIDFromProgID(kProgId, &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CoCreateInstance(CLSID_TestGreeter, nullptr, CLSCTX_ALL, IID_IUnknown, &object), REGDB_E_CLASSNOTREG);
  std::string name;
  HKEY classes;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "CLSID", KEY_READ, &classes), ERROR_SUCCESS);
  EXPECT_EQ(RegEnumKeyEx(classes, 0, name), ERROR_NO_MORE_ITEMS);
  RegCloseKey(classes);
}

TEST(ClassFactory, BrokenServersAnswerWindowsCodes) {
  ScopedDebugCapture capture;
  void* object = nullptr;
  ASSERT_EQ(RegisterInprocServer(CLSID_TestGreeter, kProgId, "", "/nonexistent/libnothing.so"), S_OK);
  EXPECT_EQ(CoCreateInstance(CLSID_TestGreeter, nullptr, CLSCTX_ALL, IID_IUnknown, &object),
            HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
  EXPECT_TRUE(capture.Contains("libnothing.so"));

  ASSERT_EQ(RegisterInprocServer(CLSID_TestGreeter, kProgId, "", TEST_PLATFORM_PATH), S_OK);
  EXPECT_EQ(CoCreateInstance(CLSID_TestGreeter, nullptr, CLSCTX_ALL, IID_IUnknown, &object), CO_E_ERRORINDLL);
  EXPECT_EQ(object, nullptr);
}

// A factory registered in the process, counting what it makes.
class CountingFactory final : public IClassFactory {
 public:
  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT CreateInstance(IUnknown*, const IID&, void** object) override {
    ++created;
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  HRESULT LockServer(BOOL) override { return S_OK; }

  std::atomic<ULONG> refs{1};
  std::atomic<int> created{0};
};

TEST(ClassFactory, RegisteredFactoryWinsUntilRevoked) {
  ASSERT_EQ(RegisterInprocServer(CLSID_TestGreeter, kProgId, "", TEST_PLUGIN_PATH), S_OK);
  CountingFactory factory;
  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(CLSID_TestGreeter, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie),
            S_OK);
  EXPECT_NE(cookie, 0u);
  EXPECT_EQ(factory.refs, 2u);

  IUnknown* object = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_TestGreeter, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&object)),
            S_OK);
  EXPECT_EQ(factory.created, 1);
  object->Release();

  EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
  EXPECT_EQ(factory.refs, 1u);
  EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG);
  HRESULT hr;
  EXPECT_TRUE(CreateByProgId(kProgId, hr));
  EXPECT_EQ(factory.created, 1);

  // A local-server registration serves the local context only.
  ASSERT_EQ(CoRegisterClassObject(kUnknownClsid, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
  EXPECT_EQ(CoCreateInstance(kUnknownClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&object)),
            REGDB_E_CLASSNOTREG);
  ASSERT_EQ(CoCreateInstance(kUnknownClsid, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&object)),
            S_OK);
  object->Release();
  EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
}

TEST(ClassObject, RefusesAggregationAndLeavesNoObjectOnFailure) {
  int created = 0;
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CClassObject::Serve(
                [&](const IID&, void** object) {
                  ++created;
                  *object = reinterpret_cast<void*>(0x1);  // a creator that fails half-way
                  return E_NOINTERFACE;
                },
                IID_IClassFactory, factory.PutVoid()),
            S_OK);
  void* object = reinterpret_cast<void*>(0x2);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(factory->CreateInstance(factory.Get(), IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(created, 0);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(created, 1);
  void* other = nullptr;
  EXPECT_EQ(CClassObject::Serve([](const IID&, void**) { return S_OK; }, IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(CClassObject::Serve([](const IID&, void**) { return S_OK; }, IID_IGlobalInterfaceTable, &other),
            E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
}

TEST(GlobalInterfaceTable, KeepsReferencesWhileRegistered) {
  ComPtr<IGlobalInterfaceTable> git;
  ASSERT_EQ(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_IGlobalInterfaceTable,
                             git.PutVoid()),
            S_OK);
  ComPtr<IGlobalInterfaceTable> same;
  ASSERT_EQ(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_IGlobalInterfaceTable,
                             same.PutVoid()),
            S_OK);
  EXPECT_EQ(git.Get(), same.Get()) << "one table per process";

  CountingFactory object;  // any object with a visible count
  DWORD cookie = 0;
  ASSERT_EQ(git->RegisterInterfaceInGlobal(&object, IID_IClassFactory, &cookie), S_OK);
  EXPECT_EQ(object.refs, 2u);

  // Gets from other threads each hand out a reference of their own.
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 100; ++i) {
        IClassFactory* got = nullptr;
        if (git->GetInterfaceFromGlobal(cookie, IID_IClassFactory, reinterpret_cast<void**>(&got)) != S_OK ||
            got != &object)
          ++failures;
        if (got) got->Release();
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures, 0);
  IClassFactory* held = nullptr;
  ASSERT_EQ(git->GetInterfaceFromGlobal(cookie, IID_IClassFactory, reinterpret_cast<void**>(&held)), S_OK);
  EXPECT_EQ(object.refs, 3u);
  held->Release();

  void* none = nullptr;
  EXPECT_EQ(git->GetInterfaceFromGlobal(cookie, IID_IGlobalInterfaceTable, &none), E_NOINTERFACE);
  EXPECT_EQ(git->RevokeInterfaceFromGlobal(cookie), S_OK);
  EXPECT_EQ(object.refs, 1u);
  EXPECT_EQ(git->RevokeInterfaceFromGlobal(cookie), E_INVALIDARG);
  EXPECT_EQ(git->GetInterfaceFromGlobal(cookie, IID_IUnknown, &none), E_INVALIDARG);
  EXPECT_EQ(git->RegisterInterfaceInGlobal(nullptr, IID_IUnknown, &cookie), E_INVALIDARG);
}

}  // namespace
