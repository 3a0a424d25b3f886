#pragma once

// Makes sure the standard input, output and error are open before the
// program opens anything of its own. A program started with one of them
// closed (`<&- >&- 2>&-`, a careless service manager) would otherwise be
// handed that number for its first file, socket or signal descriptor, and
// its messages would be written into a recording or read from a signal.
// A closed one is opened on the null device, as daemons do. Call it first
// in main(), before anything can open a file or start a thread.
void OpenStandardDescriptors();
