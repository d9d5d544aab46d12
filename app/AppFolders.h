#pragma once

#include <string>

// Where the program keeps its own files. Every user of these places asks
// here, so that the choice between them is made in this module alone.
//
// When the user running the program can write to sProgramFolder, the
// folder that holds the program, they all lie there. Otherwise (an
// installation in /opt that belongs to root, say) each user has their own:
// the settings in $XDG_CONFIG_HOME/OrvFtpUploader/, the log and outbox
// folders in $XDG_STATE_HOME/OrvFtpUploader/ (~/.config and ~/.local/state
// when the variables are unset); the folders above them are made when
// missing, for their owner only.

// The settings file: the last server, user and password, enciphered. In a
// folder the user cannot write, the settings file there is the template of
// every user's own: it must exist (OrvError 53 when it does not), and the
// first call of a user copies it, readable by that user only. A copy that
// fails raises its OrvError.
std::string AppFolders_SettingsFile(const std::string& sProgramFolder);
// The folder of the runs' log files.
std::string AppFolders_LogFolder(const std::string& sProgramFolder);
// The folder of the alarms that could not be delivered yet.
std::string AppFolders_OutboxFolder(const std::string& sProgramFolder);
