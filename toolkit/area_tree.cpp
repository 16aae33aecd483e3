#include "toolkit/area_tree.h"

#include "toolkit/source.h"

CAEAreaTree::CAEAreaTree() { nodes_[""]; }

std::string CAEAreaTree::ParentOf(const std::string& area) {
  size_t cut = area.rfind(CAESource::AreaDelimiter());
  return cut == std::string::npos ? std::string() : area.substr(0, cut);
}

std::string CAEAreaTree::LeafOf(const std::string& area) {
  size_t cut = area.rfind(CAESource::AreaDelimiter());
  return cut == std::string::npos ? area : area.substr(cut + 1);
}

void CAEAreaTree::AddSource(const CAESource& source) {
  std::string area = source.Area();
  nodes_[area].sources[source.ShortName()] = source.Name();
  while (true) {
    Node& node = nodes_[area];
    ++node.users;
    if (area.empty()) break;
    std::string parent = ParentOf(area);
    nodes_[parent].children.insert(LeafOf(area));
    area = std::move(parent);
  }
}

void CAEAreaTree::RemoveSource(const CAESource& source) {
  std::string area = source.Area();
  auto it = nodes_.find(area);
  if (it == nodes_.end() || !it->second.sources.erase(source.ShortName())) return;
  while (true) {
    it = nodes_.find(area);
    bool gone = --it->second.users == 0 && !area.empty();
    if (area.empty()) break;
    std::string parent = ParentOf(area);
    if (gone) {
      nodes_.erase(it);
      nodes_[parent].children.erase(LeafOf(area));
    }
    area = std::move(parent);
  }
}

void CAEAreaTree::Clear() {
  nodes_.clear();
  nodes_[""];
}

bool CAEAreaTree::HasArea(const std::string& area) const { return nodes_.count(area) != 0; }

std::vector<std::string> CAEAreaTree::ChildAreas(const std::string& area) const {
  auto it = nodes_.find(area);
  if (it == nodes_.end()) return {};
  return {it->second.children.begin(), it->second.children.end()};
}

std::vector<std::string> CAEAreaTree::SourceNames(const std::string& area) const {
  std::vector<std::string> names;
  auto it = nodes_.find(area);
  if (it != nodes_.end()) {
    for (const auto& [shortName, full] : it->second.sources) names.push_back(shortName);
  }
  return names;
}

std::string CAEAreaTree::QualifiedSourceName(const std::string& area, const std::string& shortName) const {
  auto it = nodes_.find(area);
  if (it == nodes_.end()) return {};
  auto s = it->second.sources.find(shortName);
  return s == it->second.sources.end() ? std::string() : s->second;
}

std::vector<std::string> CAEAreaTree::AllAreas() const {
  std::vector<std::string> areas;
  for (const auto& [path, node] : nodes_) {
    if (!path.empty()) areas.push_back(path);
  }
  return areas;
}
