// CCommandMap: the numeric command IDs of the menus and their handlers, as
// the window framework's message map has them: one handler per command and
// an optional update handler that says whether the command is enabled and
// checked. A command without a handler is disabled, so a menu item whose
// feature has not arrived is shown but cannot be chosen.
//
// Contract: main thread only. Handlers run synchronously inside Execute;
// a handler may change the map's subjects (the connection state) but not
// the map itself.
#pragma once

#include <cstdint>
#include <functional>
#include <unordered_map>

// What an update handler sets for one command (the framework's CCmdUI).
class CCmdUI {
 public:
  void Enable(bool enabled) { enabled_ = enabled; }
  void SetCheck(bool checked) { checked_ = checked; }
  bool Enabled() const { return enabled_; }
  bool Checked() const { return checked_; }

 private:
  bool enabled_ = true;
  bool checked_ = false;
};

class CCommandMap {
 public:
  using Handler = std::function<void()>;
  using UpdateHandler = std::function<void(CCmdUI&)>;

  // Replaces what `id` had.
  void On(uint32_t id, Handler handler, UpdateHandler update = {});

  // Runs the handler of `id` if it has one and the command is enabled;
  // false when nothing ran.
  bool Execute(uint32_t id) const;
  // Enabled when a handler exists and the update handler (if any) enables
  // it; checked as the update handler says.
  CCmdUI Update(uint32_t id) const;

 private:
  struct Entry {
    Handler handler;
    UpdateHandler update;
  };
  std::unordered_map<uint32_t, Entry> entries_;
};
