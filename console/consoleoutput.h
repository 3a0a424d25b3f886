#pragma once

// Makes the standard output and error carry the program's bytes as they are:
// UTF-8 text with LF line ends, which scripts reading a console program expect.
// On Windows that needs binary streams (no CR added before each LF) and the
// console's UTF-8 code page (so that "°C" shows as written); elsewhere it is
// already so. Call it before the first write.
void PrepareConsoleOutput();
