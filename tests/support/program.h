// Starting and stopping the program inside the stand-in, for the tests.
#ifndef KIVVET_TESTS_SUPPORT_PROGRAM_H
#define KIVVET_TESTS_SUPPORT_PROGRAM_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/appstate.h"
#include "base/text.h"
#include "platform/standin/standin_control.h"
#include "settings/settings.h"

// A fresh stand-in world and program state, as at process start.
void resetProgram();
// Allocates the settings' text slots the way start-up does (for tests of
// the settings alone); freed by resetProgram or releaseProgram.
void allocateSettingsTexts();
// Registers the class and creates the main window, running the start-up,
// with the given words after the program's path.
HWND startProgram(const std::vector<std::string>& words = {});
// Destroys the main window if it still lives and frees what tests allocated.
void releaseProgram();

// Saves the current settings record as KivvetLE.cfg in the directory.
void writeSettingsFile(const std::string& directory = "C:\\");

// Each test starts in a new world and leaves nothing behind.
class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { resetProgram(); }
  void TearDown() override { releaseProgram(); }
};

#endif
