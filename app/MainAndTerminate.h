#pragma once

#include <memory>
#include <string>

#include "CommandLine.h"

class AppUi;
class OrvError;
class cApp;

// The one application object, from the start of Main until Terminate.
extern std::unique_ptr<cApp> g_oApp;

// Brings the program up: creates g_oApp and runs its Prolog. A failure on the
// way shows the start-up failure message through ui and ends the process
// with status 2.
void Main(AppUi& ui, const CommandLineArgs& oCommandLine, const std::string& sProgramFolder);

// The orderly end: Epilog, release of the application object, process exit.
[[noreturn]] void Terminate();

// Ends the process at once with iStatus, after flushing the output streams.
[[noreturn]] void EndProcess(int iStatus);

// The text of the start-up failure message for err.
std::string StartupFailureText(const OrvError& err);

// The folder that holds the program file.
std::string ProgramFolder();
