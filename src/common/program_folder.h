// The folder that holds the log files, the monitor file and the manual.
#pragma once

#include <string>

// NORVOOPC_DATA_DIR when set and not empty, else the folder of the running
// executable; always ends with '/'.
std::string ProgramFolder();
