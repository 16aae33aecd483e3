// The areas of the sources in the cache, as a tree for browsing: every area
// path that holds a source, directly or below it, with its child areas and
// its sources (short name -> fully qualified name).
//
// Contract: not thread-safe; CAESourceCache guards it with its lock. The
// root "" always exists. Areas appear with their first source and vanish
// with their last one.
#pragma once

#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

class CAESource;

class CAEAreaTree {
 public:
  CAEAreaTree();

  void AddSource(const CAESource& source);
  void RemoveSource(const CAESource& source);
  void Clear();

  bool HasArea(const std::string& area) const;
  // Short names, sorted. Empty for an unknown area.
  std::vector<std::string> ChildAreas(const std::string& area) const;
  std::vector<std::string> SourceNames(const std::string& area) const;
  // The qualified name of the source `shortName` in `area`; empty if none.
  std::string QualifiedSourceName(const std::string& area, const std::string& shortName) const;
  // Every area path except the root.
  std::vector<std::string> AllAreas() const;

  // The enclosing area of a path ("" for a top-level area) and its last part.
  static std::string ParentOf(const std::string& area);
  static std::string LeafOf(const std::string& area);

 private:
  struct Node {
    size_t users = 0;  // sources in this area or below
    std::set<std::string> children;
    std::map<std::string, std::string> sources;
  };
  std::unordered_map<std::string, Node> nodes_;
};
