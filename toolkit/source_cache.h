// The cache of all event sources, by name, with the tree of their areas and
// the lasting enable settings of areas and sources.
//
// Contract: Lock/Unlock make a sequence of calls atomic (blocking, recursive
// for the owning thread); every method also locks internally, so single
// calls are safe without Lock. Raw source pointers returned here stay valid
// while the caller holds the cache lock or a reference of its own
// (FindSource returns one). AddSource takes over the creator's reference;
// RemoveSource and Clear(1) drop the cache's reference, so a source goes
// when its last user lets go; Clear(0) hands it to the caller. Look-up is
// by hash; removal is O(1) and may reorder the indexes of GetSourceAt.
// A source is added with the enable state its name and areas have then
// (no event); SetEnabled changes the settings and brings every source they
// cover up to date. Clear also forgets the settings.
// Lock order: the cache lock before any source lock.
#pragma once

#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "toolkit/area_tree.h"
#include "toolkit/enable_settings.h"
#include "toolkit/source.h"
#include "toolkit/source_ptr.h"

class CAESourceCache {
 public:
  CAESourceCache() = default;
  // Drops the cache's references.
  ~CAESourceCache();
  CAESourceCache(const CAESourceCache&) = delete;
  CAESourceCache& operator=(const CAESourceCache&) = delete;

  void Lock() { mutex_.lock(); }
  void Unlock() { mutex_.unlock(); }

  int NumberOfSources();
  // Null when out of range / absent.
  CAESource* GetSourceAt(int i);
  CAESource* GetSource(const std::string& name);
  // The source with a reference of the caller's own (empty when absent).
  CAESourcePtr FindSource(const std::string& name);
  // Nonzero when added. 0 for null or a duplicate name; the reference
  // handed over is then released.
  int AddSource(CAESource* source);
  // Nonzero when removed.
  int RemoveSource(const std::string& name);
  // Empties the cache. dispose nonzero: the cache's references are dropped
  // and nothing is returned; 0: they pass to the caller, as the returned
  // pointers, in the order of GetSourceAt.
  std::vector<CAESourcePtr> Clear(int dispose);
  // Every source, each with a reference, for walks without the cache lock.
  std::vector<CAESourcePtr> Snapshot();

  // Areas (for browsing and name validation).
  bool HasArea(const std::string& area);
  std::vector<std::string> ChildAreas(const std::string& area);
  std::vector<std::string> SourceNamesInArea(const std::string& area);
  std::string QualifiedSourceName(const std::string& area, const std::string& shortName);
  std::vector<std::string> AllAreas();

  // One area's or source's own enable setting. Every source in the area
  // and below it (or the source) is then updated, one at a time under the
  // cache and its own lock, which sends the ENABLE_STATE events of the
  // conditions whose effective state changes. False, and nothing changed,
  // for a name the cache does not know.
  bool SetEnabled(const std::string& name, bool isArea, bool enabled);
  // The own setting and the effective one (with every area above); false
  // for a name the cache does not know.
  bool GetEnabled(const std::string& name, bool isArea, bool& enabled, bool& effectivelyEnabled);

 private:
  std::recursive_mutex mutex_;
  std::unordered_map<std::string, size_t> index_;  // name -> position in sources_
  std::vector<CAESource*> sources_;
  CAEAreaTree areas_;
  CAEEnableSettings enableSettings_;
};

extern CAESourceCache g_SourceCache;
