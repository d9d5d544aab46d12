#pragma once

#include <string>

// Where the program keeps its own files. Every user of these places asks
// here, so that moving them (to the user's own folders, say, where the
// program folder cannot be written) is a change of this module alone.
// Today they all lie in sProgramFolder, the folder that holds the program.

// The settings file: the last server, user and password, enciphered.
std::string AppFolders_SettingsFile(const std::string& sProgramFolder);
// The folder of the runs' log files.
std::string AppFolders_LogFolder(const std::string& sProgramFolder);
// The folder of the alarms that could not be delivered yet.
std::string AppFolders_OutboxFolder(const std::string& sProgramFolder);
