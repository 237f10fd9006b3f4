// Drives the source's windows from a file of simple commands, run by a thread of its own while
// the application's thread keeps its event loop going. One command a line, '#' starts a comment,
// double quotes hold text with spaces, numbers may be hexadecimal (0x...):
//   wait-window <caption> [class] [timeout ms]  wait for a visible top-level window of this
//                                               process ("*": any caption); it becomes current
//   wait-dialog <id> [timeout ms]               the same for a window holding control <id>
//                                               (ids stay when texts are translated)
//   wait-gone [timeout ms]                      wait until the current window is gone or hidden
//   wait-enabled <id> [timeout ms]              wait until a control is visible and enabled
//   wait-text <id> <text> [timeout ms]          wait until a control shows this text
//   click <id>                                  press a button, as a person could (not disabled)
//   select <id> <index>                         select an item of a list box, combo box or list view
//   settext <id> <text>                         set a control's text
//   send <id> <message> <wparam> <lparam>       send a message (id 0: the current window)
//   post <id> <message> <wparam> <lparam>       post a message likewise
//   answer-box <button> [timeout ms]            wait for a message box, report it, press a button
//                                               (1 OK, 6 Yes, 7 No)
//   list <id>                                   report a list view's columns and rows
//   tree <id>                                   report a tree view's items, the selected one marked
//   select-folder <id> <text>                   select the tree item with this text
//   size                                        report the current window's size and position,
//                                               and the work area
//   state <id>                                  report whether a control is enabled, and its text
//   click-item <id> <index> [ctrl|right|double] click a list view item with the mouse
//   click-column <id> <column>                  click a list view's column header
//   click-tab <id> <index>                      click a tab of a tab control
//   menu <choose|cancel> [timeout ms]           wait for a pop-up menu, report its entries, then
//                                               choose the first entry or close it by keys
//   click-in <id>                               click in the middle of a control (moves the focus)
//   items <id>                                  report a combo box's items, the selected one marked
//   rect <id>                                   report a control's client area on the screen
//   snapshot <unix path>                        a PNG picture of the whole display (ImageMagick)
//   wait-rows <id> <count> [timeout ms]         wait until a list view holds this many rows
//   clock-start                                 start the stopwatch
//   clock <label>                               report the milliseconds since clock-start
//   focus                                       report the id of the current window's control
//                                               that has the keyboard focus ("none" if none)
//   sleep <ms>
//   echo <text>
// Timeouts default to 10 s. A failed command ends the script and tells the application.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Reads and checks the scripts, one for each session cycle (the last one runs again in later
// cycles); false with error set when one cannot be run.
bool LoadWindowScripts(const std::vector<std::string>& paths, std::string& error);
bool HasWindowScript();
// Starts the script of this cycle (from 0) on its thread; a failure is posted to window as
// failedMessage.
void StartWindowScript(int cycle, HWND window, UINT failedMessage);
// Ends the script's thread; a command still waiting then is no failure.
void StopWindowScript();
