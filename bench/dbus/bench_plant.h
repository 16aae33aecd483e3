// What the in-process D-Bus benchmarks share: a session bus of their own,
// and a toolkit of level conditions to raise.
#pragma once

#include <string>
#include <vector>

#include "platform/com.h"
#include "toolkit/condition.h"

// Without a session bus, runs this program again under dbus-run-session
// and does not return; answers false when that could not start (reason on
// stderr). With a bus, answers true at once.
bool OnSessionBus(int argc, char** argv);

// Initializes the toolkit as server `clsid` with category 1 "A" and the
// condition "Level" (subcondition "Hi").
bool InitializeLevelToolkit(const CLSID& clsid);

// Adds `count` sources named <prefix>N1_FIC<i>.A, each with a Level
// condition, and answers their conditions. `unitsOf` > 0 puts source i into
// the area <prefix>Unit<i % unitsOf>/.
std::vector<CAECondition*> AddLevelSources(const std::string& prefix, int count, int unitsOf = 0);
