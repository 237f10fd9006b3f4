// The test source's record of what it received and sent: one line per event, appended to the
// file named by QRV_TEST_SOURCE_LOG, else to test_source.log beside the module.
#pragma once

void SetLogFolder(const char* folder);
void LogLine(const char* format, ...);
