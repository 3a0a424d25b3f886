#pragma once

// Makes the standard output and error carry the program's bytes as they are:
// UTF-8 text with LF line ends, which scripts reading a console program expect.
// On Windows that needs binary streams (no CR added before each LF) and the
// console's UTF-8 code page (so that "°C" shows as written); elsewhere it is
// already so. Call it before the first write.
void PrepareConsoleOutput();

// Gives the console back the code page it had before PrepareConsoleOutput().
// On Windows the code page belongs to the console, which outlives the program:
// left at UTF-8, the programs run after it in that console would print their
// own code page's text wrongly. Runs by itself at exit; nothing elsewhere.
void RestoreConsoleOutput();
