// The configuration server through its real library: registration, class
// creation by CLSID and ProgID, the documents it serves and the codes it
// answers.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/class_factory.h"
#include "platform/registry.h"
#include "ralto/config_control.h"
#include "ralto/config_server.h"

namespace fs = std::filesystem;

namespace {

using RegisterFn = HRESULT (*)();

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

class ConfigServer : public testing::Test {
 protected:
  void SetUp() override {
    library_ = dlopen(RALTO_CONFIG_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << dlerror();
    ASSERT_EQ(Export("DllRegisterServer")(), S_OK);
    server_ = Create();
    ASSERT_TRUE(server_);
    dir_ = (fs::temp_directory_path() / "plant").string();
    fs::create_directories(dir_);
  }

  RegisterFn Export(const char* name) {
    return reinterpret_cast<RegisterFn>(dlsym(library_, name));
  }

  static ComPtr<IRaltoConfigServer> Create() {
    ComPtr<IRaltoConfigServer> server;
    EXPECT_EQ(CoCreateInstance(CLSID_RaltoConfigServer, nullptr, CLSCTX_ALL, IID_IRaltoConfigServer,
                               server.PutVoid()),
              S_OK);
    return server;
  }

  static ComPtr<IRaltoConfigServerControl> Control(const ComPtr<IRaltoConfigServer>& server) {
    ComPtr<IRaltoConfigServerControl> control;
    EXPECT_EQ(server.As(IID_IRaltoConfigServerControl, control), S_OK);
    return control;
  }

  HRESULT Get(LONG kind, LONG id, BSTR& text, const ComPtr<IRaltoConfigServer>& server = {}) {
    return (server ? server : server_)->GetConfigDocument(kind, id, 0, 0, &text);
  }

  void UseDirectoryFromRegistry(const std::string& dir) {
    ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, kRaltoConfigServerKey, kRaltoDocumentDirectoryValue, dir),
              ERROR_SUCCESS);
  }

  void* library_ = nullptr;
  ComPtr<IRaltoConfigServer> server_;
  std::string dir_;
};

TEST_F(ConfigServer, RegistrationNamesTheLibraryAndUnregistrationRemovesIt) {
  std::string progIdClsid, inproc, threading;
  ASSERT_EQ(RegGetString(HKEY_CLASSES_ROOT, std::string(kRaltoConfigServerProgId) + "\\CLSID", "",
                         progIdClsid),
            ERROR_SUCCESS);
  EXPECT_EQ(progIdClsid, GuidToString(CLSID_RaltoConfigServer));
  std::string key = "CLSID\\" + GuidToString(CLSID_RaltoConfigServer);
  ASSERT_EQ(RegGetString(HKEY_CLASSES_ROOT, key + "\\InprocServer32", "", inproc), ERROR_SUCCESS);
  EXPECT_EQ(inproc, fs::canonical(RALTO_CONFIG_LIBRARY).string());
  CLSID clsid;
  EXPECT_EQ(CLSIDFromProgID(kRaltoConfigServerProgId, &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_RaltoConfigServer);

  ASSERT_EQ(Export("DllUnregisterServer")(), S_OK);
  EXPECT_EQ(CLSIDFromProgID(kRaltoConfigServerProgId, &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, key + "\\InprocServer32", "", inproc), ERROR_FILE_NOT_FOUND);
  ComPtr<IRaltoConfigServer> server;
  EXPECT_EQ(CoCreateInstance(CLSID_RaltoConfigServer, nullptr, CLSCTX_ALL, IID_IRaltoConfigServer,
                             server.PutVoid()),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(Export("DllUnregisterServer")(), S_OK) << "unregistering twice is harmless";
}

TEST_F(ConfigServer, ClassObjectAndInterfacesFollowTheComRules) {
  using GetClassObjectFn = HRESULT (*)(const CLSID&, const IID&, void**);
  auto getClassObject = reinterpret_cast<GetClassObjectFn>(dlsym(library_, "DllGetClassObject"));
  ASSERT_NE(getClassObject, nullptr);
  ComPtr<IClassFactory> factory;
  EXPECT_EQ(getClassObject(IID_IClassFactory, IID_IClassFactory, factory.PutVoid()),
            CLASS_E_CLASSNOTAVAILABLE);
  ASSERT_EQ(getClassObject(CLSID_RaltoConfigServer, IID_IClassFactory, factory.PutVoid()), S_OK);
  ComPtr<IUnknown> object;
  ComPtr<IUnknown> outer = ComPtr<IUnknown>(server_.Get());
  EXPECT_EQ(factory->CreateInstance(outer.Get(), IID_IUnknown, object.PutVoid()), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, object.PutVoid()), E_NOINTERFACE);
  EXPECT_FALSE(object);

  // Both interfaces lead to the same object.
  ComPtr<IRaltoConfigServerControl> control = Control(server_);
  ASSERT_TRUE(control);
  ComPtr<IUnknown> a, b;
  ASSERT_EQ(server_->QueryInterface(IID_IUnknown, a.PutVoid()), S_OK);
  ASSERT_EQ(control->QueryInterface(IID_IUnknown, b.PutVoid()), S_OK);
  EXPECT_EQ(a.Get(), b.Get());
  ComPtr<IRaltoConfigServer> back;
  EXPECT_EQ(control.As(IID_IRaltoConfigServer, back), S_OK);
  EXPECT_EQ(back.Get(), server_.Get());
}

TEST_F(ConfigServer, ServesTheExamplePlantByDefault) {
  BSTR directory;
  ASSERT_EQ(Control(server_)->GetDocumentDirectory(&directory), S_OK);
  fs::path beside = fs::path(RALTO_CONFIG_LIBRARY).parent_path() / "examples/plant";
  EXPECT_EQ(fs::canonical(directory), fs::canonical(beside)) << "the copy beside the library";
  BSTR text;
  ASSERT_EQ(Get(RALTO_DOC_CONFIGURATION_SUMMARY, RALTO_SUMMARY_ID, text), S_OK);
  EXPECT_EQ(text, ReadFile(std::string(RALTO_EXAMPLE_PLANT_DIR) + "/ConfigurationSummary.xml"));
  ASSERT_EQ(Get(RALTO_DOC_PRODUCED_DATA, 3, text), S_OK);
  EXPECT_EQ(text, ReadFile(std::string(RALTO_EXAMPLE_PLANT_DIR) + "/ProducedData_3.xml"));
  EXPECT_NE(text.find(kRaltoConfigNamespace), std::string::npos);
}

// The default follows the library when it moves: examples/plant beside it,
// else the share folder of the prefix it is installed under; the registry
// value before both.
TEST_F(ConfigServer, FindsTheBundledPlantFromWhereTheLibraryLies) {
  fs::path prefix = fs::temp_directory_path() / "prefix";
  fs::create_directories(prefix / "lib");
  fs::path library = prefix / "lib" / fs::path(RALTO_CONFIG_LIBRARY).filename();
  fs::copy_file(RALTO_CONFIG_LIBRARY, library);
  void* moved = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(moved, nullptr) << dlerror();
  ASSERT_NE(moved, library_);
  auto getClassObject = reinterpret_cast<DllGetClassObjectFn>(dlsym(moved, "DllGetClassObject"));
  ASSERT_NE(getClassObject, nullptr);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(getClassObject(CLSID_RaltoConfigServer, IID_IClassFactory, factory.PutVoid()), S_OK);
  ComPtr<IRaltoConfigServer> server;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IRaltoConfigServer, server.PutVoid()), S_OK);

  fs::path shared = prefix / "share/aeserver/examples/plant";
  BSTR text;
  EXPECT_EQ(Get(RALTO_DOC_CONFIGURATION_SUMMARY, 1, text, server), RALTO_E_NO_CONFIGURATION)
      << "nothing installed";
  BSTR directory;
  ASSERT_EQ(Control(server)->GetDocumentDirectory(&directory), S_OK);
  EXPECT_EQ(fs::weakly_canonical(directory), fs::weakly_canonical(shared))
      << "names where an installation puts the plant";

  fs::create_directories(shared);
  WriteFile((shared / "ConfigurationSummary.xml").string(), "<installed/>");
  ASSERT_EQ(Get(RALTO_DOC_CONFIGURATION_SUMMARY, 1, text, server), S_OK);
  EXPECT_EQ(text, "<installed/>");

  fs::create_directories(prefix / "lib/examples/plant");
  WriteFile((prefix / "lib/examples/plant/ConfigurationSummary.xml").string(), "<beside/>");
  ASSERT_EQ(Get(RALTO_DOC_CONFIGURATION_SUMMARY, 1, text, server), S_OK);
  EXPECT_EQ(text, "<beside/>");

  WriteFile(dir_ + "/ConfigurationSummary.xml", "<registry/>");
  UseDirectoryFromRegistry(dir_);
  ASSERT_EQ(Get(RALTO_DOC_CONFIGURATION_SUMMARY, 1, text, server), S_OK);
  EXPECT_EQ(text, "<registry/>");
}

TEST_F(ConfigServer, RegistryValueNamesTheDirectoryAndAnObjectMayOverrideIt) {
  std::string other = dir_ + "-other";
  fs::create_directories(other);
  WriteFile(dir_ + "/ConfigurationSummary.xml", "<registry/>");
  WriteFile(other + "/ConfigurationSummary.xml", "<object/>");
  UseDirectoryFromRegistry(dir_);
  BSTR text;
  ASSERT_EQ(Get(RALTO_DOC_CONFIGURATION_SUMMARY, 1, text), S_OK);
  EXPECT_EQ(text, "<registry/>");

  ASSERT_EQ(Control(server_)->SetDocumentDirectory(other), S_OK);
  ASSERT_EQ(Get(RALTO_DOC_CONFIGURATION_SUMMARY, 1, text), S_OK);
  EXPECT_EQ(text, "<object/>");
  ComPtr<IRaltoConfigServer> second = Create();
  ASSERT_EQ(Get(RALTO_DOC_CONFIGURATION_SUMMARY, 1, text, second), S_OK);
  EXPECT_EQ(text, "<registry/>") << "the directory is the object's own";

  ASSERT_EQ(Control(server_)->SetDocumentDirectory(""), S_OK);
  ASSERT_EQ(Get(RALTO_DOC_CONFIGURATION_SUMMARY, 1, text), S_OK);
  EXPECT_EQ(text, "<registry/>");
}

TEST_F(ConfigServer, BadArgumentsAreRefused) {
  BSTR text = "left over";
  EXPECT_EQ(server_->GetConfigDocument(0, 1, 0, 0, &text), E_INVALIDARG);
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(server_->GetConfigDocument(3, 1, 0, 0, &text), E_INVALIDARG);
  EXPECT_EQ(server_->GetConfigDocument(RALTO_DOC_CONFIGURATION_SUMMARY, 2, 0, 0, &text), E_INVALIDARG);
  EXPECT_EQ(server_->GetConfigDocument(RALTO_DOC_PRODUCED_DATA, 1, 1, 0, &text), E_INVALIDARG);
  EXPECT_EQ(server_->GetConfigDocument(RALTO_DOC_PRODUCED_DATA, 1, 0, -1, &text), E_INVALIDARG);
  EXPECT_EQ(server_->GetConfigDocument(RALTO_DOC_PRODUCED_DATA, 1, 0, 0, nullptr), E_POINTER);
  EXPECT_EQ(Control(server_)->GetDocumentDirectory(nullptr), E_POINTER);
  EXPECT_EQ(Control(server_)->FailDocument(2, 1, S_FALSE), E_INVALIDARG);
}

TEST_F(ConfigServer, MissingPiecesAnswerTheirOwnCodes) {
  auto control = Control(server_);
  BSTR text;
  ASSERT_EQ(control->SetDocumentDirectory(dir_ + "/nowhere"), S_OK);
  EXPECT_EQ(Get(RALTO_DOC_CONFIGURATION_SUMMARY, 1, text), RALTO_E_NO_CONFIGURATION);
  EXPECT_EQ(Get(RALTO_DOC_PRODUCED_DATA, 1, text), RALTO_E_NO_CONFIGURATION);

  ASSERT_EQ(control->SetDocumentDirectory(dir_), S_OK);
  EXPECT_EQ(Get(RALTO_DOC_CONFIGURATION_SUMMARY, 1, text), RALTO_E_DOCUMENT_NOT_FOUND);
  EXPECT_EQ(Get(RALTO_DOC_PRODUCED_DATA, 99, text), RALTO_E_UNKNOWN_PRODUCER);
  // A ProducerId is unsigned: -1 names ProducedData_4294967295.xml.
  WriteFile(dir_ + "/ProducedData_4294967295.xml", "<max/>");
  ASSERT_EQ(Get(RALTO_DOC_PRODUCED_DATA, -1, text), S_OK);
  EXPECT_EQ(text, "<max/>");

  fs::create_directories(dir_ + "/ProducedData_5.xml");
  EXPECT_EQ(Get(RALTO_DOC_PRODUCED_DATA, 5, text), RALTO_E_READ_FAILED);
  EXPECT_TRUE(text.empty());

  WriteFile(dir_ + "/ConfigurationSummary.xml", "<summary/>");
  WriteFile(dir_ + "/" + kRaltoEditLockFileName, "");
  EXPECT_EQ(Get(RALTO_DOC_CONFIGURATION_SUMMARY, 1, text), RALTO_E_CONFIG_EDITING);
  fs::remove(dir_ + "/" + kRaltoEditLockFileName);
  EXPECT_EQ(Get(RALTO_DOC_CONFIGURATION_SUMMARY, 1, text), S_OK);
}

TEST_F(ConfigServer, UnreadableFileIsAccessDenied) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  WriteFile(dir_ + "/ProducedData_2.xml", "<secret/>");
  chmod((dir_ + "/ProducedData_2.xml").c_str(), 0);
  ASSERT_EQ(Control(server_)->SetDocumentDirectory(dir_), S_OK);
  BSTR text;
  EXPECT_EQ(Get(RALTO_DOC_PRODUCED_DATA, 2, text), E_ACCESSDENIED);
}

TEST_F(ConfigServer, InjectedFailuresHoldForEveryObjectUntilCleared) {
  ASSERT_EQ(Control(server_)->FailDocument(RALTO_DOC_PRODUCED_DATA, 3, RALTO_E_CONFIG_EDITING), S_OK);
  ASSERT_EQ(Control(server_)->FailDocument(RALTO_DOC_CONFIGURATION_SUMMARY, 1, E_FAIL), S_OK);
  ComPtr<IRaltoConfigServer> later = Create();
  BSTR text;
  EXPECT_EQ(Get(RALTO_DOC_PRODUCED_DATA, 3, text, later), RALTO_E_CONFIG_EDITING);
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(Get(RALTO_DOC_CONFIGURATION_SUMMARY, 1, text, later), E_FAIL);
  EXPECT_EQ(Get(RALTO_DOC_PRODUCED_DATA, 1, text, later), S_OK) << "other documents still served";

  ASSERT_EQ(Control(later)->FailDocument(RALTO_DOC_PRODUCED_DATA, 3, RALTO_E_UNKNOWN_PRODUCER), S_OK);
  EXPECT_EQ(Get(RALTO_DOC_PRODUCED_DATA, 3, text), RALTO_E_UNKNOWN_PRODUCER) << "the last one set wins";

  ASSERT_EQ(Control(later)->ClearFailures(), S_OK);
  EXPECT_EQ(Get(RALTO_DOC_PRODUCED_DATA, 3, text), S_OK);
  EXPECT_EQ(Get(RALTO_DOC_CONFIGURATION_SUMMARY, 1, text), S_OK);
}

TEST_F(ConfigServer, ServesAFiftyMegabyteDocumentIntact) {
  std::string chunk;
  for (int i = 0; chunk.size() < 1024 * 1024; ++i)
    chunk += "<BlockSubElement Name=\"TIC" + std::to_string(i) + ".AS\" BlockType=\"O0C\"/>\n";
  std::string big = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ProducedData xmlns=\"urn:ralto:config:1.0\">\n";
  for (int part = 0; part < 50; ++part) big += "<!-- part " + std::to_string(part) + " -->\n" + chunk;
  big += "</ProducedData>\n";
  ASSERT_GE(big.size(), 50u * 1024 * 1024);
  WriteFile(dir_ + "/ProducedData_1.xml", big);
  ASSERT_EQ(Control(server_)->SetDocumentDirectory(dir_), S_OK);
  BSTR text;
  ASSERT_EQ(Get(RALTO_DOC_PRODUCED_DATA, 1, text), S_OK);
  EXPECT_EQ(text.size(), big.size());
  EXPECT_TRUE(text == big);
}

TEST_F(ConfigServer, ServesTheFileAsItIsNowLessAByteOrderMark) {
  ASSERT_EQ(Control(server_)->SetDocumentDirectory(dir_), S_OK);
  WriteFile(dir_ + "/ProducedData_1.xml", "\xEF\xBB\xBF<first>\xC3\xA9</first>");
  BSTR text;
  ASSERT_EQ(Get(RALTO_DOC_PRODUCED_DATA, 1, text), S_OK);
  EXPECT_EQ(text, "<first>\xC3\xA9</first>");
  WriteFile(dir_ + "/ProducedData_1.xml", "<second/>");
  ASSERT_EQ(Get(RALTO_DOC_PRODUCED_DATA, 1, text), S_OK);
  EXPECT_EQ(text, "<second/>");
  WriteFile(dir_ + "/ProducedData_1.xml", "");
  ASSERT_EQ(Get(RALTO_DOC_PRODUCED_DATA, 1, text), S_OK);
  EXPECT_EQ(text, "");
}

TEST_F(ConfigServer, ServesSeveralThreadsWhileTheDirectoryChanges) {
  std::string other = dir_ + "-other";
  fs::create_directories(other);
  WriteFile(dir_ + "/ProducedData_1.xml", "<one/>");
  WriteFile(other + "/ProducedData_1.xml", "<two/>");
  auto control = Control(server_);
  ASSERT_EQ(control->SetDocumentDirectory(dir_), S_OK);
  std::atomic<int> bad{0};
  std::atomic<bool> stop{false};
  std::thread switcher([&] {
    for (int i = 0; !stop; ++i) {
      control->SetDocumentDirectory(i % 2 ? dir_ : other);
      if (i % 3 == 0) control->FailDocument(RALTO_DOC_PRODUCED_DATA, 2, E_FAIL);
      else control->ClearFailures();
    }
  });
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t)
    readers.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        BSTR text;
        HRESULT hr = server_->GetConfigDocument(RALTO_DOC_PRODUCED_DATA, 1, 0, 0, &text);
        if (hr != S_OK || (text != "<one/>" && text != "<two/>")) ++bad;
      }
    });
  for (auto& r : readers) r.join();
  stop = true;
  switcher.join();
  EXPECT_EQ(bad, 0);
}

}  // namespace
