#pragma once

// Whether the standard error is a terminal, where a progress line can be
// redrawn in place; a pipe or a file gets whole lines only.
bool StandardErrorIsTerminal();
