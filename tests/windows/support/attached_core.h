// Tests that link the data source's core library run it inside the test executable: the
// executable carries the source's resources, and its own folder holds the INI file.
#pragma once

#include <string>

// Writes qrvcofig.ini beside the test executable (no file when ini is empty) and attaches the
// core to the executable's module as the loader would attach the DLL. Returns the attach result.
bool AttachCore(const std::string& ini);
void WriteCoreIni(const std::string& ini);
std::string CoreIniPath();
