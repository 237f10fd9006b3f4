// The protocol library's wait window, seen from a person's side: a thread finds it while a
// request runs, reads what it says, and clicks its button after a while.
#pragma once

#include <windows.h>

#include <string>
#include <thread>

struct SeenWaitWindow {
    std::string caption;
    std::string text;
    std::string button;
    bool buttonEnabled = false;
    DWORD clickTick = 0;  // when the click was posted
};

class WaitWindowClicker {
public:
    // Clicks the button clickAfter milliseconds after the window appears; with a key given,
    // presses that key on the focused button instead.
    explicit WaitWindowClicker(DWORD clickAfter = 0, UINT key = 0);
    ~WaitWindowClicker();
    WaitWindowClicker(const WaitWindowClicker&) = delete;
    WaitWindowClicker& operator=(const WaitWindowClicker&) = delete;

    // Waits (at most timeout ms) until the click was made; true when it was. The clicked window's
    // thread may act on the click before this thread has marked it made: give it a moment.
    bool WaitForClick(DWORD timeout);
    SeenWaitWindow seen() const { return seen_; }

private:
    void Watch();

    DWORD clickAfter_;
    UINT key_;
    volatile bool stop_ = false;
    volatile bool clicked_ = false;
    SeenWaitWindow seen_;
    std::thread thread_;
};

constexpr char WaitWindowClass[] = "QrvxpmnsWaitWindow";
// The wait window of this process, if one is shown.
HWND FindWaitWindow();
