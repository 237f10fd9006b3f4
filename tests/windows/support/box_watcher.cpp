#include "tests/windows/support/box_watcher.h"

#include <algorithm>

namespace {

// Control ids of the standard message box: its text and its icon.
constexpr int BoxTextId = 0xFFFF;
constexpr int BoxIconId = 0x0440;

bool IsMessageBox(HWND window)
{
    char className[16];
    if (!GetClassNameA(window, className, sizeof className) || strcmp(className, "#32770") != 0)
        return false;
    return IsWindowVisible(window) && GetDlgItem(window, BoxTextId) != nullptr;
}

struct Search {
    DWORD process;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectBoxes(HWND window, LPARAM parameter)
{
    Search* search = reinterpret_cast<Search*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == search->process && IsMessageBox(window))
        search->found.push_back(window);
    return TRUE;
}

}  // namespace

BoxWatcher::BoxWatcher() : thread_([this] { Watch(); }) {}

BoxWatcher::~BoxWatcher()
{
    stop_ = true;
    thread_.join();
}

void BoxWatcher::Answer(int buttonId)
{
    std::lock_guard<std::mutex> guard(lock_);
    answers_.push_back(buttonId);
}

std::vector<ShownBox> BoxWatcher::Boxes()
{
    std::lock_guard<std::mutex> guard(lock_);
    return boxes_;
}

void BoxWatcher::Clear()
{
    std::lock_guard<std::mutex> guard(lock_);
    boxes_.clear();
}

void BoxWatcher::Watch()
{
    while (!stop_) {
        Search search{GetCurrentProcessId(), {}};
        EnumWindows(CollectBoxes, reinterpret_cast<LPARAM>(&search));
        for (HWND box : search.found)
            Handle(box);
        Sleep(5);
    }
}

void BoxWatcher::Handle(HWND box)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (std::find(handled_.begin(), handled_.end(), box) != handled_.end() && IsWindow(box))
        return;
    handled_.erase(std::remove_if(handled_.begin(), handled_.end(),
                                  [](HWND w) { return !IsWindow(w); }),
                   handled_.end());
    handled_.push_back(box);

    ShownBox shown;
    char text[1024];
    GetWindowTextA(box, text, sizeof text);
    shown.caption = text;
    GetDlgItemTextA(box, BoxTextId, text, sizeof text);
    shown.text = text;
    shown.owner = GetWindow(box, GW_OWNER);
    HWND iconControl = GetDlgItem(box, BoxIconId);
    if (iconControl && IsWindowVisible(iconControl)) {
        shown.icon = reinterpret_cast<HICON>(SendMessageA(iconControl, STM_GETICON, 0, 0));
        shown.hasIcon = shown.icon != nullptr;
    }

    int button = 0;
    if (!answers_.empty()) {
        button = answers_.front();
        answers_.pop_front();
    } else {
        for (int candidate : {IDOK, IDYES, IDCANCEL, IDNO})
            if (GetDlgItem(box, candidate)) {
                button = candidate;
                break;
            }
    }
    shown.pressed = button;
    boxes_.push_back(shown);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
}

std::vector<std::string> BoxTexts(const std::vector<ShownBox>& boxes)
{
    std::vector<std::string> texts;
    for (const ShownBox& box : boxes)
        texts.push_back(box.text);
    return texts;
}
