// The private environment of a fuzz target's process, as every test has
// one: a fresh folder for the registry store, the XDG folders and the
// temporary folder, removed when the process ends normally. It is made in
// $AE_FUZZ_SANDBOX_DIR when set (scripts/fuzz sets it, and removes what a
// crashed run leaves there), else on the memory file system when there is
// one (targets write files on every run).
//
// Contract: call once, from LLVMFuzzerInitialize, before anything reads the
// registry or the environment. Returns the folder ("" when none could be
// made: the environment is then left as it was).
#pragma once

#include <string>

std::string MakeFuzzSandbox();
