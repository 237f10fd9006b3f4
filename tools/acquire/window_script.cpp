#include "tools/acquire/window_script.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tools/acquire/console_output.h"

namespace {

constexpr DWORD DefaultTimeout = 10000;
constexpr DWORD PollInterval = 50;
constexpr UINT SendTimeout = 30000;

struct ScriptLine {
    int number;
    std::vector<std::string> words;
};

struct CommandSpec {
    const char* name;
    size_t minWords;  // the command included
    size_t maxWords;
};

const CommandSpec Commands[] = {
    {"wait-window", 2, 4}, {"wait-dialog", 2, 3}, {"wait-gone", 1, 2}, {"wait-enabled", 2, 3}, {"wait-disabled", 2, 3}, {"click", 2, 2},
    {"select", 3, 3},      {"settext", 3, 3},   {"send", 5, 5},         {"post", 5, 5},
    {"sleep", 2, 2},       {"echo", 1, 2},       {"answer-box", 2, 3},  {"list", 2, 2},
    {"tree", 2, 2},        {"size", 1, 1},       {"state", 2, 2},       {"click-item", 3, 4},
    {"click-column", 3, 3}, {"click-tab", 3, 3}, {"select-folder", 3, 3}, {"snapshot", 2, 2},
    {"menu", 2, 3},        {"click-in", 2, 2},  {"rect", 2, 2},
    {"items", 2, 2},       {"wait-text", 3, 4},  {"wait-rows", 3, 4},  {"clock-start", 1, 1},
    {"clock", 2, 2},       {"focus", 1, 1},
};

struct WindowScript {
    std::vector<std::vector<ScriptLine>> files;  // one a session cycle, the last repeating
    const std::vector<ScriptLine>* lines;       // the file running
    HWND notify;
    UINT failedMessage;
    HWND current;
    HANDLE thread;
    volatile LONG stop;
    LARGE_INTEGER clockStart;
};

WindowScript Script;

bool Fail(std::string& error, const std::string& text)
{
    error = text;
    return false;
}

std::vector<std::string> SplitWords(const char* line)
{
    std::vector<std::string> words;
    const char* p = line;
    while (*p) {
        while (*p == ' ' || *p == '\t')
            ++p;
        if (!*p || *p == '#')
            break;
        std::string word;
        if (*p == '"') {
            ++p;
            while (*p && *p != '"')
                word += *p++;
            if (*p == '"')
                ++p;
        } else {
            while (*p && *p != ' ' && *p != '\t')
                word += *p++;
        }
        words.push_back(word);
    }
    return words;
}

const CommandSpec* FindCommand(const std::string& name)
{
    for (const CommandSpec& command : Commands)
        if (name == command.name)
            return &command;
    return nullptr;
}

long long Number(const std::string& text)
{
    return strtoll(text.c_str(), nullptr, 0);
}

DWORD TimeoutArgument(const ScriptLine& line, size_t index)
{
    return line.words.size() > index ? DWORD(Number(line.words[index])) : DefaultTimeout;
}

// Polls condition until it holds, the time is up or the script is stopped.
template <typename Condition>
bool WaitFor(DWORD timeout, Condition condition)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (condition())
            return true;
        if (Script.stop || GetTickCount() - start >= timeout)
            return false;
        Sleep(PollInterval);
    }
}

struct WindowSearch {
    const std::string* caption;
    const std::string* className;
    int controlId;  // 0: any
    HWND found;
};

HWND FindControl(HWND window, int id);

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window))
        return TRUE;
    char text[256] = "", className[256] = "";
    GetWindowTextA(window, text, sizeof text);
    GetClassNameA(window, className, sizeof className);
    if (*search->caption != "*" && *search->caption != text)
        return TRUE;
    if (!search->className->empty() && _stricmp(search->className->c_str(), className) != 0)
        return TRUE;
    if (search->controlId != 0 && !FindControl(window, search->controlId))
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND FindTopWindow(const std::string& caption, const std::string& className, int controlId)
{
    WindowSearch search{&caption, &className, controlId, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

struct DescendantSearch {
    int id;
    HWND visible;
    HWND any;
};

BOOL CALLBACK MatchDescendant(HWND window, LPARAM parameter)
{
    DescendantSearch* search = reinterpret_cast<DescendantSearch*>(parameter);
    if (GetDlgCtrlID(window) != search->id)
        return TRUE;
    if (!search->any)
        search->any = window;
    if (IsWindowVisible(window)) {
        search->visible = window;
        return FALSE;
    }
    return TRUE;
}

// A control of the window or of one of its pages (child dialogs), a visible one first.
HWND FindControl(HWND window, int id)
{
    if (HWND direct = GetDlgItem(window, id))
        return direct;
    DescendantSearch search{id, nullptr, nullptr};
    EnumChildWindows(window, MatchDescendant, reinterpret_cast<LPARAM>(&search));
    return search.visible ? search.visible : search.any;
}

bool Control(int id, HWND& control, std::string& error)
{
    if (!Script.current || !IsWindow(Script.current))
        return Fail(error, "no current window (wait-window first)");
    control = id == 0 ? Script.current : FindControl(Script.current, id);
    if (!control)
        return Fail(error, "no control " + std::to_string(id));
    return true;
}

bool WaitWindow(const ScriptLine& line, std::string& error)
{
    std::string className = line.words.size() > 2 ? line.words[2] : "";
    HWND found = nullptr;
    if (!WaitFor(TimeoutArgument(line, 3), [&] {
            found = FindTopWindow(line.words[1], className, 0);
            return found != nullptr;
        }))
        return Fail(error, "no window \"" + line.words[1] + "\" appeared");
    Script.current = found;
    return true;
}

bool WaitDialog(const ScriptLine& line, std::string& error)
{
    static const std::string any = "*", anyClass;
    int id = int(Number(line.words[1]));
    HWND found = nullptr;
    if (!WaitFor(TimeoutArgument(line, 2), [&] {
            found = FindTopWindow(any, anyClass, id);
            return found != nullptr;
        }))
        return Fail(error, "no window with control " + line.words[1] + " appeared");
    Script.current = found;
    return true;
}

bool WaitGone(const ScriptLine& line, std::string& error)
{
    HWND window = Script.current;
    if (!WaitFor(TimeoutArgument(line, 1), [&] { return !IsWindow(window) || !IsWindowVisible(window); }))
        return Fail(error, "the window is still there");
    return true;
}

bool Usable(HWND control)
{
    return IsWindowVisible(control) && IsWindowEnabled(control);
}

bool WaitEnabled(const ScriptLine& line, std::string& error)
{
    int id = int(Number(line.words[1]));
    if (!WaitFor(TimeoutArgument(line, 2), [&] {
            HWND control = Script.current ? FindControl(Script.current, id) : nullptr;
            return control && Usable(control);
        }))
        return Fail(error, "control " + line.words[1] + " did not become usable");
    return true;
}

// A click is posted, so what it changes is waited for rather than read at once.
bool WaitDisabled(const ScriptLine& line, std::string& error)
{
    int id = int(Number(line.words[1]));
    if (!WaitFor(TimeoutArgument(line, 2), [&] {
            HWND control = Script.current ? FindControl(Script.current, id) : nullptr;
            return control && !IsWindowEnabled(control);
        }))
        return Fail(error, "control " + line.words[1] + " did not become disabled");
    return true;
}

bool Click(const ScriptLine& line, std::string& error)
{
    HWND control;
    if (!Control(int(Number(line.words[1])), control, error))
        return false;
    if (!Usable(control))
        return Fail(error, "control " + line.words[1] + " is disabled or hidden");
    PostMessageA(control, BM_CLICK, 0, 0);
    return true;
}

LRESULT SendWithin(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool& answered)
{
    DWORD_PTR result = 0;
    answered = SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, SendTimeout, &result) != 0;
    return LRESULT(result);
}

// List boxes and combo boxes do not notify a selection made by message; their parent hears
// what a person's click would have told it.
bool Select(const ScriptLine& line, std::string& error)
{
    int id = int(Number(line.words[1]));
    WPARAM index = WPARAM(Number(line.words[2]));
    HWND control;
    if (!Control(id, control, error))
        return false;
    char className[64] = "";
    GetClassNameA(control, className, sizeof className);
    bool answered = false;
    HWND parent = GetParent(control);
    if (_stricmp(className, "ListBox") == 0) {
        if (SendWithin(control, LB_SETCURSEL, index, 0, answered) == LB_ERR || !answered)
            return Fail(error, "list box " + line.words[1] + " has no item " + line.words[2]);
        SendWithin(parent, WM_COMMAND, MAKEWPARAM(id, LBN_SELCHANGE), LPARAM(control), answered);
    } else if (_stricmp(className, "ComboBox") == 0) {
        if (SendWithin(control, CB_SETCURSEL, index, 0, answered) == CB_ERR || !answered)
            return Fail(error, "combo box " + line.words[1] + " has no item " + line.words[2]);
        SendWithin(parent, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), LPARAM(control), answered);
    } else if (_stricmp(className, WC_LISTVIEWA) == 0) {
        if (index >= WPARAM(SendWithin(control, LVM_GETITEMCOUNT, 0, 0, answered)))
            return Fail(error, "list view " + line.words[1] + " has no item " + line.words[2]);
        LVITEMA item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendWithin(control, LVM_SETITEMSTATE, index, LPARAM(&item), answered);
    } else {
        return Fail(error, std::string("cannot select in a ") + className);
    }
    return true;
}

bool SetText(const ScriptLine& line, std::string& error)
{
    HWND control;
    if (!Control(int(Number(line.words[1])), control, error))
        return false;
    bool answered;
    SendWithin(control, WM_SETTEXT, 0, LPARAM(line.words[2].c_str()), answered);
    return answered || Fail(error, "the control did not answer");
}

bool SendOrPost(const ScriptLine& line, bool post, std::string& error)
{
    HWND control;
    if (!Control(int(Number(line.words[1])), control, error))
        return false;
    UINT message = UINT(Number(line.words[2]));
    WPARAM wParam = WPARAM(Number(line.words[3]));
    LPARAM lParam = LPARAM(Number(line.words[4]));
    if (post)
        return PostMessageA(control, message, wParam, lParam) || Fail(error, "the message was not posted");
    bool answered;
    LRESULT result = SendWithin(control, message, wParam, lParam, answered);
    if (!answered)
        return Fail(error, "the window did not answer");
    Say("script: answer %lld", static_cast<long long>(result));
    return true;
}

// ---- message boxes, lists, trees, tabs, menus and pictures

bool IsBox(HWND window)
{
    char className[16] = "";
    GetClassNameA(window, className, sizeof className);
    return strcmp(className, "#32770") == 0 && GetDlgItem(window, 0xFFFF) && IsWindowVisible(window);
}

BOOL CALLBACK MatchBox(HWND window, LPARAM parameter)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsBox(window))
        return TRUE;
    *reinterpret_cast<HWND*>(parameter) = window;
    return FALSE;
}

// Waits for a message box, reports what it says and presses the button given (6 Yes, 7 No, 1 OK).
bool AnswerBox(const ScriptLine& line, std::string& error)
{
    HWND box = nullptr;
    if (!WaitFor(TimeoutArgument(line, 2), [&] {
            box = nullptr;
            EnumWindows(MatchBox, reinterpret_cast<LPARAM>(&box));
            return box != nullptr;
        }))
        return Fail(error, "no message box appeared");
    char caption[256] = "", text[1024] = "";
    GetWindowTextA(box, caption, sizeof caption);
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    HWND owner = GetWindow(box, GW_OWNER);
    char ownerText[256] = "";
    if (owner)
        GetWindowTextA(owner, ownerText, sizeof ownerText);
    int button = int(Number(line.words[1]));
    Say("script: box [%s] %s (owner: %s) -> %d", caption, text, owner ? ownerText : "none", button);
    if (!GetDlgItem(box, button))
        return Fail(error, "the box has no button " + line.words[1]);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), LPARAM(GetDlgItem(box, button)));
    if (!WaitFor(DefaultTimeout, [&] { return !IsWindow(box) || !IsWindowVisible(box); }))
        return Fail(error, "the box stayed");
    return true;
}

std::string ListText(HWND list, int item, int column)
{
    char text[512] = "";
    LVITEMA request{};
    request.iSubItem = column;
    request.pszText = text;
    request.cchTextMax = sizeof text;
    SendMessageA(list, LVM_GETITEMTEXTA, item, LPARAM(&request));
    return text;
}

// Prints the columns and every row of a list view: "script: row N: a | b | c [selected]".
bool ListRows(const ScriptLine& line, std::string& error)
{
    HWND list;
    if (!Control(int(Number(line.words[1])), list, error))
        return false;
    HWND header = HWND(SendMessageA(list, LVM_GETHEADER, 0, 0));
    int columns = header ? int(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0)) : 1;
    std::string titles;
    for (int column = 0; column < columns; ++column) {
        char title[256] = "";
        LVCOLUMNA request{};
        request.mask = LVCF_TEXT;
        request.pszText = title;
        request.cchTextMax = sizeof title;
        SendMessageA(list, LVM_GETCOLUMNA, column, LPARAM(&request));
        titles += (column ? " | " : "") + std::string(title);
    }
    int count = int(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    Say("script: list %s: %d rows, columns %s", line.words[1].c_str(), count, titles.c_str());
    for (int item = 0; item < count; ++item) {
        std::string row;
        for (int column = 0; column < columns; ++column)
            row += (column ? " | " : "") + ListText(list, item, column);
        bool selected = SendMessageA(list, LVM_GETITEMSTATE, item, LVIS_SELECTED) & LVIS_SELECTED;
        Say("script: row %d: %s%s", item, row.c_str(), selected ? " [selected]" : "");
    }
    return true;
}

std::string TreeText(HWND tree, HTREEITEM item)
{
    char text[512] = "";
    TVITEMA request{};
    request.mask = TVIF_TEXT;
    request.hItem = item;
    request.pszText = text;
    request.cchTextMax = sizeof text;
    SendMessageA(tree, TVM_GETITEMA, 0, LPARAM(&request));
    return text;
}

void SayTree(HWND tree, HTREEITEM item, int depth, HTREEITEM selected)
{
    for (; item; item = HTREEITEM(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, LPARAM(item)))) {
        Say("script: folder %s%s%s", std::string(size_t(depth) * 2, ' ').c_str(), TreeText(tree, item).c_str(),
            item == selected ? " [selected]" : "");
        SayTree(tree, HTREEITEM(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, LPARAM(item))), depth + 1,
                selected);
    }
}

bool TreeItems(const ScriptLine& line, std::string& error)
{
    HWND tree;
    if (!Control(int(Number(line.words[1])), tree, error))
        return false;
    HTREEITEM selected = HTREEITEM(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    Say("script: tree %s", line.words[1].c_str());
    SayTree(tree, HTREEITEM(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)), 0, selected);
    return true;
}

HTREEITEM FindTreeItem(HWND tree, HTREEITEM item, const std::string& text)
{
    for (; item; item = HTREEITEM(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, LPARAM(item)))) {
        if (TreeText(tree, item) == text)
            return item;
        HTREEITEM child = HTREEITEM(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, LPARAM(item)));
        if (HTREEITEM found = FindTreeItem(tree, child, text))
            return found;
    }
    return nullptr;
}

bool SelectFolder(const ScriptLine& line, std::string& error)
{
    HWND tree;
    if (!Control(int(Number(line.words[1])), tree, error))
        return false;
    HTREEITEM item = FindTreeItem(tree, HTREEITEM(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)), line.words[2]);
    if (!item)
        return Fail(error, "no folder \"" + line.words[2] + "\"");
    bool answered;
    SendWithin(tree, TVM_SELECTITEM, TVGN_CARET, LPARAM(item), answered);
    return answered || Fail(error, "the tree did not answer");
}

bool WindowSize(std::string& error)
{
    if (!Script.current || !IsWindow(Script.current))
        return Fail(error, "no current window (wait-window first)");
    RECT frame;
    GetWindowRect(Script.current, &frame);
    // The work area too, so that whoever reads the report needs no display of its own.
    RECT work{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    Say("script: window %ld x %ld at %ld,%ld in work area %ld,%ld to %ld,%ld", frame.right - frame.left,
        frame.bottom - frame.top, frame.left, frame.top, work.left, work.top, work.right, work.bottom);
    return true;
}

bool ControlState(const ScriptLine& line, std::string& error)
{
    HWND control;
    if (!Control(int(Number(line.words[1])), control, error))
        return false;
    char text[512] = "";
    GetWindowTextA(control, text, sizeof text);
    Say("script: control %s %s %s \"%s\"", line.words[1].c_str(), IsWindowEnabled(control) ? "enabled" : "disabled",
        IsWindowVisible(control) ? "visible" : "hidden", text);
    return true;
}

// A person's click at a point of a window's client area.
void PostClick(HWND window, POINT at, bool right, WPARAM keys, bool twice = false)
{
    POINT screen = at;
    ClientToScreen(window, &screen);
    SetCursorPos(screen.x, screen.y);
    LPARAM where = MAKELPARAM(at.x, at.y);
    PostMessageA(window, right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN, keys | (right ? MK_RBUTTON : MK_LBUTTON), where);
    PostMessageA(window, right ? WM_RBUTTONUP : WM_LBUTTONUP, keys, where);
    // The second press of a double click arrives as the double-click message itself.
    if (twice) {
        PostMessageA(window, WM_LBUTTONDBLCLK, keys | MK_LBUTTON, where);
        PostMessageA(window, WM_LBUTTONUP, keys, where);
    }
}

// click-in <id>: a click in the middle of a control, which takes the focus from another.
bool ClickIn(const ScriptLine& line, std::string& error)
{
    HWND control;
    if (!Control(int(Number(line.words[1])), control, error))
        return false;
    RECT area;
    GetClientRect(control, &area);
    PostClick(control, POINT{area.right / 2, area.bottom / 2}, false, 0);
    return true;
}

// wait-text <id> <text> [timeout ms]: until the control shows this text.
bool WaitText(const ScriptLine& line, std::string& error)
{
    HWND control;
    if (!Control(int(Number(line.words[1])), control, error))
        return false;
    if (!WaitFor(TimeoutArgument(line, 3), [&] {
            char text[512] = "";
            GetWindowTextA(control, text, sizeof text);
            return line.words[2] == text;
        }))
        return Fail(error, "control " + line.words[1] + " did not show \"" + line.words[2] + "\"");
    return true;
}

// wait-rows <id> <count> [timeout ms]: until the list view holds exactly this many rows. The
// count is read at once first, so a list filled by the command before costs no poll interval.
bool WaitRows(const ScriptLine& line, std::string& error)
{
    HWND list;
    if (!Control(int(Number(line.words[1])), list, error))
        return false;
    long long wanted = Number(line.words[2]);
    long long count = -1;
    if (!WaitFor(TimeoutArgument(line, 3), [&] {
            bool answered;
            count = SendWithin(list, LVM_GETITEMCOUNT, 0, 0, answered);
            return answered && count == wanted;
        }))
        return Fail(error, "list " + line.words[1] + " holds " + std::to_string(count) + " rows, not " +
                               line.words[2]);
    return true;
}

// focus: the control of the current window that has the keyboard focus, by its id.
bool ReportFocus(std::string& error)
{
    if (!Script.current || !IsWindow(Script.current))
        return Fail(error, "no current window (wait-window first)");
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(Script.current, nullptr), &info))
        return Fail(error, "the window's thread has no input state");
    HWND focus = info.hwndFocus;
    if (focus && (focus == Script.current || IsChild(Script.current, focus)))
        Say("script: focus %d", GetDlgCtrlID(focus));
    else
        Say("script: focus none");
    return true;
}

// clock <label>: milliseconds since clock-start, to a tenth.
bool ReadClock(const ScriptLine& line, std::string& error)
{
    if (!Script.clockStart.QuadPart)
        return Fail(error, "no clock-start before");
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    double ms = double(now.QuadPart - Script.clockStart.QuadPart) * 1000.0 / double(frequency.QuadPart);
    Say("script: clock %s %.1f ms", line.words[1].c_str(), ms);
    return true;
}

// items <id>: a combo box's items in order, the selected one marked.
bool ComboItems(const ScriptLine& line, std::string& error)
{
    HWND combo;
    if (!Control(int(Number(line.words[1])), combo, error))
        return false;
    int count = int(SendMessageA(combo, CB_GETCOUNT, 0, 0));
    int selected = int(SendMessageA(combo, CB_GETCURSEL, 0, 0));
    Say("script: items %s: %d", line.words[1].c_str(), count);
    for (int item = 0; item < count; ++item) {
        char text[512] = "";
        if (SendMessageA(combo, CB_GETLBTEXTLEN, item, 0) < LRESULT(sizeof text))
            SendMessageA(combo, CB_GETLBTEXT, item, LPARAM(text));
        Say("script: item %d: %s (%ld)%s", item, text, long(SendMessageA(combo, CB_GETITEMDATA, item, 0)),
            item == selected ? " [selected]" : "");
    }
    return true;
}

// rect <id>: the control's client area in screen coordinates, as a snapshot shows it.
bool ControlRect(const ScriptLine& line, std::string& error)
{
    HWND control;
    if (!Control(int(Number(line.words[1])), control, error))
        return false;
    RECT area;
    GetClientRect(control, &area);
    MapWindowPoints(control, nullptr, reinterpret_cast<POINT*>(&area), 2);
    Say("script: rect %s %ld,%ld,%ld,%ld", line.words[1].c_str(), area.left, area.top, area.right, area.bottom);
    return true;
}

// click-item <list> <index> [ctrl|right|double]
bool ClickItem(const ScriptLine& line, std::string& error)
{
    HWND list;
    if (!Control(int(Number(line.words[1])), list, error))
        return false;
    int item = int(Number(line.words[2]));
    RECT rect{};
    rect.left = LVIR_LABEL;
    if (!SendMessageA(list, LVM_GETITEMRECT, item, LPARAM(&rect)))
        return Fail(error, "the list has no item " + line.words[2]);
    std::string how = line.words.size() > 3 ? line.words[3] : "";
    POINT at{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    PostClick(list, at, how == "right", how == "ctrl" ? MK_CONTROL : 0, how == "double");
    return true;
}

bool ClickColumn(const ScriptLine& line, std::string& error)
{
    HWND list;
    if (!Control(int(Number(line.words[1])), list, error))
        return false;
    HWND header = HWND(SendMessageA(list, LVM_GETHEADER, 0, 0));
    RECT rect{};
    if (!header || !SendMessageA(header, HDM_GETITEMRECT, WPARAM(Number(line.words[2])), LPARAM(&rect)))
        return Fail(error, "the list has no column " + line.words[2]);
    PostClick(header, POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2}, false, 0);
    return true;
}

bool ClickTab(const ScriptLine& line, std::string& error)
{
    HWND tab;
    if (!Control(int(Number(line.words[1])), tab, error))
        return false;
    RECT rect{};
    if (!SendMessageA(tab, TCM_GETITEMRECT, WPARAM(Number(line.words[2])), LPARAM(&rect)))
        return Fail(error, "the tab control has no tab " + line.words[2]);
    PostClick(tab, POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2}, false, 0);
    return true;
}

BOOL CALLBACK MatchMenu(HWND window, LPARAM parameter)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[16] = "";
    GetClassNameA(window, className, sizeof className);
    if (process != GetCurrentProcessId() || strcmp(className, "#32768") != 0 || !IsWindowVisible(window))
        return TRUE;
    *reinterpret_cast<HWND*>(parameter) = window;
    return FALSE;
}

// menu <choose|cancel> [timeout]: waits for a pop-up menu, reports its entries and either
// chooses the first entry or closes the menu, both by keys as a person would.
bool PopupMenu(const ScriptLine& line, std::string& error)
{
    HWND menuWindow = nullptr;
    if (!WaitFor(TimeoutArgument(line, 2), [&] {
            menuWindow = nullptr;
            EnumWindows(MatchMenu, LPARAM(&menuWindow));
            return menuWindow != nullptr;
        }))
        return Fail(error, "no menu appeared");
    DWORD_PTR result = 0;
    SendMessageTimeoutA(menuWindow, MN_GETHMENU, 0, 0, SMTO_NORMAL, SendTimeout, &result);
    HMENU menu = HMENU(result);
    int count = menu ? GetMenuItemCount(menu) : 0;
    for (int index = 0; index < count; ++index) {
        char text[256] = "";
        GetMenuStringA(menu, index, text, sizeof text, MF_BYPOSITION);
        UINT state = GetMenuState(menu, index, MF_BYPOSITION);
        Say("script: menu entry %u \"%s\"%s", GetMenuItemID(menu, index), text,
            state & (MF_GRAYED | MF_DISABLED) ? " [greyed]" : "");
    }
    bool choose = line.words[1] == "choose";
    if (choose) {
        PostMessageA(menuWindow, WM_KEYDOWN, VK_DOWN, 0);
        PostMessageA(menuWindow, WM_KEYDOWN, VK_RETURN, 0);
    } else {
        PostMessageA(menuWindow, WM_KEYDOWN, VK_ESCAPE, 0);
    }
    if (!WaitFor(DefaultTimeout, [&] { return !IsWindow(menuWindow) || !IsWindowVisible(menuWindow); }))
        return Fail(error, "the menu stayed");
    return true;
}

// A picture of the whole display, taken by ImageMagick's import (a Unix program, started
// detached): the command waits until the file is complete.
bool Snapshot(const ScriptLine& line, std::string& error)
{
    const std::string& unixPath = line.words[1];
    std::string windowsPath = "Z:" + unixPath;
    for (char& c : windowsPath)
        if (c == '/')
            c = '\\';
    DeleteFileA(windowsPath.c_str());
    std::string command = "Z:\\usr\\bin\\import -window root \"" + unixPath + ".part.png\"";
    std::string part = windowsPath + ".part.png";
    DeleteFileA(part.c_str());
    std::vector<char> text(command.begin(), command.end());
    text.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, text.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return Fail(error, "import could not be started");
    if (process.hProcess)
        CloseHandle(process.hProcess);
    if (process.hThread)
        CloseHandle(process.hThread);
    // import writes its file in one go at the end; a size that stays put means it is done.
    LONGLONG last = -1;
    if (!WaitFor(20000, [&] {
            WIN32_FILE_ATTRIBUTE_DATA data;
            if (!GetFileAttributesExA(part.c_str(), GetFileExInfoStandard, &data))
                return false;
            LONGLONG size = (LONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
            bool settled = size > 0 && size == last;
            last = size;
            return settled;
        }))
        return Fail(error, "no picture was written");
    if (!MoveFileA(part.c_str(), windowsPath.c_str()))
        return Fail(error, "the picture could not be renamed");
    Say("script: snapshot %s", unixPath.c_str());
    return true;
}

bool Run(const ScriptLine& line, std::string& error)
{
    const std::string& name = line.words[0];
    if (name == "answer-box")
        return AnswerBox(line, error);
    if (name == "list")
        return ListRows(line, error);
    if (name == "tree")
        return TreeItems(line, error);
    if (name == "size")
        return WindowSize(error);
    if (name == "state")
        return ControlState(line, error);
    if (name == "click-item")
        return ClickItem(line, error);
    if (name == "click-column")
        return ClickColumn(line, error);
    if (name == "click-tab")
        return ClickTab(line, error);
    if (name == "select-folder")
        return SelectFolder(line, error);
    if (name == "snapshot")
        return Snapshot(line, error);
    if (name == "menu")
        return PopupMenu(line, error);
    if (name == "click-in")
        return ClickIn(line, error);
    if (name == "rect")
        return ControlRect(line, error);
    if (name == "items")
        return ComboItems(line, error);
    if (name == "wait-text")
        return WaitText(line, error);
    if (name == "wait-rows")
        return WaitRows(line, error);
    if (name == "clock-start")
        return QueryPerformanceCounter(&Script.clockStart) || Fail(error, "no performance counter");
    if (name == "clock")
        return ReadClock(line, error);
    if (name == "focus")
        return ReportFocus(error);
    if (name == "wait-window")
        return WaitWindow(line, error);
    if (name == "wait-dialog")
        return WaitDialog(line, error);
    if (name == "wait-gone")
        return WaitGone(line, error);
    if (name == "wait-enabled")
        return WaitEnabled(line, error);
    if (name == "wait-disabled")
        return WaitDisabled(line, error);
    if (name == "click")
        return Click(line, error);
    if (name == "select")
        return Select(line, error);
    if (name == "settext")
        return SetText(line, error);
    if (name == "send" || name == "post")
        return SendOrPost(line, name == "post", error);
    if (name == "sleep") {
        Sleep(DWORD(Number(line.words[1])));
        return true;
    }
    Say("script: %s", line.words.size() > 1 ? line.words[1].c_str() : "");
    return true;
}

DWORD WINAPI RunScript(LPVOID)
{
    for (const ScriptLine& line : *Script.lines) {
        if (Script.stop)
            return 0;
        std::string error;
        if (!Run(line, error)) {
            // A script stopped at the end of its cycle has not failed: its wait was cut short.
            if (Script.stop)
                return 0;
            Say("script: line %d (%s) failed: %s", line.number, line.words[0].c_str(), error.c_str());
            PostMessageA(Script.notify, Script.failedMessage, 0, 0);
            return 1;
        }
    }
    Say("script: done");
    return 0;
}

bool LoadWindowScript(const std::string& path, std::vector<ScriptLine>& lines, std::string& error)
{
    FILE* file = fopen(path.c_str(), "r");
    if (!file)
        return Fail(error, "cannot read the script " + path);
    char text[1024];
    int number = 0;
    bool ok = true;
    while (ok && fgets(text, sizeof text, file)) {
        ++number;
        text[strcspn(text, "\r\n")] = 0;
        ScriptLine line{number, SplitWords(text)};
        if (line.words.empty())
            continue;
        const CommandSpec* command = FindCommand(line.words[0]);
        if (!command)
            ok = Fail(error, "script line " + std::to_string(number) + ": unknown command " + line.words[0]);
        else if (line.words.size() < command->minWords || line.words.size() > command->maxWords)
            ok = Fail(error, "script line " + std::to_string(number) + ": wrong number of arguments");
        else
            lines.push_back(line);
    }
    fclose(file);
    return ok;
}

}  // namespace

bool LoadWindowScripts(const std::vector<std::string>& paths, std::string& error)
{
    Script.files.assign(paths.size(), {});
    for (size_t i = 0; i < paths.size(); ++i)
        if (!LoadWindowScript(paths[i], Script.files[i], error))
            return false;
    return true;
}

bool HasWindowScript() { return !Script.files.empty(); }

void StartWindowScript(int cycle, HWND window, UINT failedMessage)
{
    if (Script.files.empty())
        return;
    size_t file = size_t(cycle) < Script.files.size() ? size_t(cycle) : Script.files.size() - 1;
    Script.lines = &Script.files[file];
    Script.notify = window;
    Script.failedMessage = failedMessage;
    Script.current = nullptr;
    Script.stop = 0;
    Script.clockStart.QuadPart = 0;
    Script.thread = CreateThread(nullptr, 0, RunScript, nullptr, 0, nullptr);
}

void StopWindowScript()
{
    if (!Script.thread)
        return;
    // A command may be waiting for an answer from this very thread: it is given a moment,
    // then left to end with the process.
    Script.stop = 1;
    WaitForSingleObject(Script.thread, 3000);
    CloseHandle(Script.thread);
    Script.thread = nullptr;
}
