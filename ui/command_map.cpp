#include "ui/command_map.h"

void CCommandMap::On(uint32_t id, Handler handler, UpdateHandler update) {
  entries_[id] = Entry{std::move(handler), std::move(update)};
}

bool CCommandMap::Execute(uint32_t id) const {
  if (!Update(id).Enabled()) return false;
  entries_.at(id).handler();
  return true;
}

CCmdUI CCommandMap::Update(uint32_t id) const {
  CCmdUI ui;
  auto it = entries_.find(id);
  if (it == entries_.end() || !it->second.handler) {
    ui.Enable(false);
    return ui;
  }
  if (it->second.update) it->second.update(ui);
  return ui;
}
