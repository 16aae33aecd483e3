// The clean-up of the older programming software's INI file: its protocol
// section and two keys that the runtime replaces.
//
// Contract: deletes the section "Protocols", the key "Simulated I/O" of
// section "drivers" and the key "Quillan Tessmark" of section
// "ImportFilters" (names in any case), keeping everything else, comments
// and repeated keys included. A file that does not exist or cannot be
// read is left alone, and so is one with nothing to delete; the file is
// rewritten only when something went. Failures are not reported. Any
// thread.
#pragma once

namespace rtsvc {

void CleanUpCalderIni(const char* path);

}  // namespace rtsvc
