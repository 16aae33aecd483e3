#include "platform/resource_strings.h"

#include <memory>
#include <mutex>
#include <utility>

namespace {

std::mutex g_mutex;
// Shared so that a text being loaded keeps its provider while another
// thread replaces it.
std::shared_ptr<const ResourceStringProvider> g_provider;

}  // namespace

std::string LoadResourceString(uint32_t id) {
  std::shared_ptr<const ResourceStringProvider> provider;
  {
    std::lock_guard lock(g_mutex);
    provider = g_provider;
  }
  return provider && *provider ? (*provider)(id) : std::string();
}

ResourceStringProvider SetResourceStringProvider(ResourceStringProvider provider) {
  auto next = provider ? std::make_shared<const ResourceStringProvider>(std::move(provider)) : nullptr;
  std::shared_ptr<const ResourceStringProvider> previous;
  {
    std::lock_guard lock(g_mutex);
    previous = std::exchange(g_provider, std::move(next));
  }
  return previous ? *previous : ResourceStringProvider();
}
