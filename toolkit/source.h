// An event source (e.g. one alarm tag) with its conditions. Sources are
// shared objects with an intrusive reference count: a new source carries one
// reference owned by its creator (usually handed to the source cache); the
// object is deleted by the last Release, through the virtual destructor, so
// programs may derive their own source classes.
//
// Contract: the name and area never change. Lock/Unlock guard the source and
// its conditions (recursive for the owning thread, blocking); every method
// here and every CAECondition operation takes that lock itself. Condition
// pointers stay valid while the caller holds a reference to the source.
// Whether the source and every area above it are enabled is the source
// cache's to say (from its lasting settings, when the source is added and
// whenever they change); a source never added counts as enabled.
// Lock order: the source cache's lock before a source lock, never after.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com.h"

class CAECondition;

class CAESource {
 public:
  // flag 1: `name` is fully qualified and its area is the part before the
  // last area delimiter ("Plant/Unit1/N1.A" is in "Plant/Unit1"). flag 0:
  // the source sits at the root.
  CAESource(std::string name, int flag);
  virtual ~CAESource();
  CAESource(const CAESource&) = delete;
  CAESource& operator=(const CAESource&) = delete;

  const std::string& Name() const { return name_; }
  const std::string& Area() const { return area_; }
  // The name without its area (what area browsing lists).
  const std::string& ShortName() const { return shortName_; }

  // Adds a copy of `condition`, re-parented to this source. Null when a
  // condition of that name exists.
  CAECondition* AddCondition(const CAECondition& condition);
  int NumberOfConditions();
  // Null when i is out of range or no condition has that name.
  CAECondition* GetConditionAt(int i);
  CAECondition* GetCondition(const std::string& name);

  void Lock() { mutex_.lock(); }
  void Unlock() { mutex_.unlock(); }
  // The same, so that std::lock_guard<CAESource> works.
  void lock() { mutex_.lock(); }
  void unlock() { mutex_.unlock(); }

  ULONG AddRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG Release();

  // The delimiter of qualified names ('/' until Initialize sets another).
  // Applies to sources built afterwards.
  static void SetAreaDelimiter(char delimiter);
  static char AreaDelimiter();

 private:
  friend class CAESourceCache;
  friend class CAECondition;

  // Sends an ENABLE_STATE event for each condition whose effective state
  // changes with it.
  void SetEnabledInHierarchy(bool enabled);

  std::string name_;
  std::string area_;
  std::string shortName_;
  std::recursive_mutex mutex_;
  std::atomic<ULONG> refs_{1};
  std::vector<std::unique_ptr<CAECondition>> conditions_;
  // The source's own enable setting and its areas' (not its conditions').
  bool enabledInHierarchy_ = true;  // guarded by mutex_
};

#include "toolkit/source_ptr.h"  // CAESourcePtr, for holders of sources
