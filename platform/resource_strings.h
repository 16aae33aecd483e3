// Texts by string ID: the string table of the resource library.
//
// Core code asks LoadResourceString(id) at the moment it shows a text. The
// texts come from a provider that the program installs once its resource
// library is loaded (tests and tools install one reading
// resources/strings.xml). Contract: a missing ID, or no provider installed,
// gives the empty text, never an error. Any thread may call either function;
// SetResourceStringProvider may run while other threads load texts (they see
// the old or the new provider, never a torn one).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Answers the text of an ID, or "" when the table has none.
using ResourceStringProvider = std::function<std::string(uint32_t id)>;

std::string LoadResourceString(uint32_t id);

// Installs `provider` (empty: none) and returns the one it replaces.
ResourceStringProvider SetResourceStringProvider(ResourceStringProvider provider);
