// What win32.cpp decides by rules of its own, apart from Windows' state, so
// that the Windows checks (tests/windows) can try them on any values.
#pragma once

#include <cstdint>

// The low 32 bits of COUNT ticks of a counter running at COUNTS_PER_SECOND,
// in whole milliseconds: the platform clock from QueryPerformanceCounter.
uint32_t millisecondsOfCount(uint64_t count, uint64_t countsPerSecond);

// True when the console closes with this process, so that a report on it
// would vanish unread: PROCESSES_ON_CONSOLE (GetConsoleProcessList's count,
// 0 when it fails) is this process alone, and standard output is that console.
bool consoleIsOwn(unsigned long processesOnConsole, bool stdoutIsConsole);
