// Lines on standard output from any of the application's threads, each written whole and
// flushed at once, so that an unattended run's record is complete up to its last moment.
#pragma once

void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
