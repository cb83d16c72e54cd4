#pragma once

#include <functional>

namespace app {

// The whole run of the program: start-up, the loop, the end. Returns the exit
// code: 0 after a normal end, 1 when start-up failed or there is no display.
int runProgram(int argc, char **argv);

// Makes the program's windows, in their fixed order; the first becomes the
// main window. Used by the start-up and by the widget tests.
void createForms();

// Runs after the windows are made and before the loop starts. Only test
// builds set it (to add a way of raising an error inside a handler).
void setStartupHook(std::function<void()> hook);

} // namespace app
