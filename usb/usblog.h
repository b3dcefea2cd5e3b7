#pragma once

#include <ostream>

// The USB layer reports on the process's standard error through two logs: a buffered progress
// log for the informational lines and an error log that is flushed after every line, so that
// the failure lines survive a crash that follows them.
std::ostream &usbProgressLog();
std::ostream &usbErrorLog();
