// For unattended runs: a thread that finds every message box this process shows, reports its
// caption and text, and presses its default button.
#pragma once

void StartBoxPresser();
void StopBoxPresser();
