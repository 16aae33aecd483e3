// One subcondition of a condition (e.g. "Hi" of a level alarm): its name,
// the definition text, the severity it gives the condition while active, and
// its description. An immutable value; conditions keep copies.
#pragma once

#include <string>
#include <utility>

#include "platform/com.h"

class CAESubcondition {
 public:
  CAESubcondition(std::string name, std::string definition, DWORD severity, std::string description)
      : name_(std::move(name)),
        definition_(std::move(definition)),
        severity_(severity),
        description_(std::move(description)) {}

  const std::string& Name() const { return name_; }
  const std::string& Definition() const { return definition_; }
  DWORD Severity() const { return severity_; }
  const std::string& Description() const { return description_; }

 private:
  std::string name_;
  std::string definition_;
  DWORD severity_;
  std::string description_;
};
