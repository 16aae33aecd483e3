// The start of a service's program (part of platform/services): the
// program runs as a process of its own that outlives its starter, as a
// service does.
//
// Contract: LaunchDetached runs args[0] (a path; no search) with the
// arguments and environment given, in a new session, from "/", with
// standard input and output on /dev/null, default signal handling and
// none of the starter's other files. The process is created first and
// waits: `record` is called with its ID and identity (process_identity.h)
// before its program starts, so whatever it records is there when the
// program looks. A failure of `record` ends the waiting process and is
// returned; so is the reason why the program could not be run (as a
// Win32 code: ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED,
// ERROR_BAD_EXE_FORMAT ...), after which the caller undoes what `record`
// did. Returns ERROR_SUCCESS once the program runs. Any thread; the
// starter keeps no child (nothing to reap).
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/win32_error.h"

LONG LaunchDetached(const std::vector<std::string>& args, const std::vector<std::string>& environment,
                    const std::function<LONG(pid_t pid, const std::string& identity)>& record);

// A service's command line (its "ImagePath", REG_EXPAND_SZ) as arguments:
// %NAME% becomes the environment variable's value (kept as written when
// it is not set); a line that names an existing file as a whole is that
// program without arguments; otherwise arguments are separated by blanks,
// and double quotes group blanks into one argument (the quotes go).
std::vector<std::string> ServiceCommandLine(const std::string& imagePath);
