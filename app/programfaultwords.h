#pragma once

#include "runprogram.h"

#include <QString>

// What is wrong with a program file or a condition in the window's language.
QString ProgramFaultWords(const RunFault &fault);
// The program's fault with its line, as the run page shows it.
QString ProgramFaultWords(const RunProgram &program);
