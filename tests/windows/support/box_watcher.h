// Message boxes block the thread that shows them. A BoxWatcher finds every box this process
// shows while it lives, records what the box said and presses one of its buttons.
#pragma once

#include <windows.h>

#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ShownBox {
    std::string caption;
    std::string text;
    HWND owner = nullptr;
    bool hasIcon = false;
    HICON icon = nullptr;
    int pressed = 0;  // the button id the watcher pressed
};

class BoxWatcher {
public:
    BoxWatcher();
    ~BoxWatcher();
    BoxWatcher(const BoxWatcher&) = delete;
    BoxWatcher& operator=(const BoxWatcher&) = delete;

    // Buttons to press, in order, for the next boxes; when none is queued the watcher presses
    // OK, else Yes, else the first button it finds.
    void Answer(int buttonId);
    std::vector<ShownBox> Boxes();
    // Forgets what was recorded so far.
    void Clear();

private:
    void Watch();
    void Handle(HWND box);

    std::mutex lock_;
    std::vector<ShownBox> boxes_;
    std::deque<int> answers_;
    std::vector<HWND> handled_;
    volatile bool stop_ = false;
    std::thread thread_;
};

// Texts of the boxes shown, for compact assertions.
std::vector<std::string> BoxTexts(const std::vector<ShownBox>& boxes);
