#include "fuzz/support/fuzz_config_server.h"

#include <atomic>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/class_factory.h"
#include "platform/class_object.h"
#include "ralto/config_server.h"

namespace {

constexpr std::string_view kDirective = "%%";
constexpr std::string_view kProducedData = "%%ProducedData ";
constexpr std::string_view kSummary = "%%Summary";
constexpr std::string_view kRebind = "%%Rebind";
constexpr std::string_view kWindow = "%%Window";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::atomic<const ConfigDocuments*> g_documents{nullptr};

class CMemoryConfigServer final : public IRaltoConfigServer {
 public:
  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid != IID_IUnknown && iid != IID_IRaltoConfigServer) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<IRaltoConfigServer*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return refs_.Increment(); }
  ULONG Release() override {
    ULONG left = refs_.Decrement();
    if (left == 0) delete this;
    return left;
  }

  HRESULT GetConfigDocument(LONG kind, LONG id, LONG reserved1, LONG reserved2, BSTR* document) override {
    if (!document) return E_POINTER;
    document->clear();
    bool known = (kind == RALTO_DOC_CONFIGURATION_SUMMARY && id == RALTO_SUMMARY_ID) ||
                 kind == RALTO_DOC_PRODUCED_DATA;
    if (!known || reserved1 != 0 || reserved2 != 0) return E_INVALIDARG;
    const ConfigDocuments* documents = g_documents.load();
    static const ConfigDocuments kNone;
    if (!documents) documents = &kNone;
    const std::string* text = nullptr;
    if (kind == RALTO_DOC_CONFIGURATION_SUMMARY) {
      if (!documents->summary) return RALTO_E_DOCUMENT_NOT_FOUND;
      text = &*documents->summary;
    } else {
      auto it = documents->producedData.find(id);
      if (it == documents->producedData.end()) return RALTO_E_UNKNOWN_PRODUCER;
      text = &it->second;
    }
    std::string_view bytes = *text;
    if (bytes.starts_with(kByteOrderMark)) bytes.remove_prefix(kByteOrderMark.size());
    document->assign(bytes);
    return S_OK;
  }

 private:
  ~CMemoryConfigServer() = default;

  ComRefCount refs_;
};

void RegisterOnce() {
  static const bool registered = [] {
    ComPtr<IClassFactory> factory;
    CClassObject::Serve(CreateComObject<CMemoryConfigServer>, IID_IClassFactory, factory.PutVoid());
    DWORD cookie = 0;
    return SUCCEEDED(CoRegisterClassObject(CLSID_RaltoConfigServer, factory.Get(), CLSCTX_ALL,
                                           REGCLS_MULTIPLEUSE, &cookie));
  }();
  (void)registered;
}

// A whole decimal number.
bool ParseId(std::string_view text, LONG& id) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
  return error == std::errc() && end == text.data() + text.size();
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

PlantInput ParsePlantInput(std::string_view text) {
  PlantInput input;
  input.imports.reserve(kMaxPlantImports);  // sections point into them
  input.imports.emplace_back();
  std::string dropped;  // text after a %%Rebind that no section claims
  // Null until text comes: an input that starts with a section has no summary.
  std::string* section = nullptr;
  for (size_t pos = 0; pos < text.size();) {
    size_t end = text.find('\n', pos);
    size_t next = end == std::string_view::npos ? text.size() : end + 1;
    std::string_view line = text.substr(pos, next - pos);
    std::string_view bare = line.substr(0, line.find_last_not_of("\r\n") + 1);
    pos = next;
    ConfigDocuments& documents = input.imports.back();
    if (!line.starts_with(kDirective)) {
      if (!section) section = &documents.summary.emplace();
      section->append(line);
      continue;
    }
    LONG id = 0;
    if (bare == kWindow) {
      input.windowVisible = true;
    } else if (bare == kSummary) {
      section = &documents.summary.emplace();
    } else if (bare == kRebind) {
      if (input.imports.size() == kMaxPlantImports) break;
      input.imports.push_back(documents);
      section = &dropped;
    } else if (bare.starts_with(kProducedData) && ParseId(bare.substr(kProducedData.size()), id)) {
      section = &(documents.producedData[id] = std::string());
    } else {
      if (!section) section = &documents.summary.emplace();
      section->append(line);
    }
  }
  return input;
}

ConfigDocuments ReadPlantFolder(const std::string& folder) {
  namespace fs = std::filesystem;
  ConfigDocuments documents;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
    std::string name = entry.path().filename().string();
    if (name == kRaltoSummaryFileName) {
      documents.summary = ReadFile(entry.path());
      continue;
    }
    std::string_view view = name;
    if (!view.starts_with(kRaltoProducedDataPrefix) || !view.ends_with(kRaltoProducedDataSuffix)) continue;
    view.remove_prefix(std::string_view(kRaltoProducedDataPrefix).size());
    view.remove_suffix(std::string_view(kRaltoProducedDataSuffix).size());
    LONG id = 0;
    if (ParseId(view, id)) documents.producedData[id] = ReadFile(entry.path());
  }
  return documents;
}

void ServeConfigDocuments(const ConfigDocuments* documents) {
  RegisterOnce();
  g_documents.store(documents);
}
