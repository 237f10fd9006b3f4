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
    {"wait-window", 2, 4}, {"wait-dialog", 2, 3}, {"wait-gone", 1, 2}, {"wait-enabled", 2, 3}, {"click", 2, 2},
    {"select", 3, 3},      {"settext", 3, 3},   {"send", 5, 5},         {"post", 5, 5},
    {"sleep", 2, 2},       {"echo", 1, 2},
};

struct WindowScript {
    std::vector<ScriptLine> lines;
    HWND notify;
    UINT failedMessage;
    HWND current;
    HANDLE thread;
    volatile LONG stop;
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
    if (search->controlId != 0 && !GetDlgItem(window, search->controlId))
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

bool Control(int id, HWND& control, std::string& error)
{
    if (!Script.current || !IsWindow(Script.current))
        return Fail(error, "no current window (wait-window first)");
    control = id == 0 ? Script.current : GetDlgItem(Script.current, id);
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
            HWND control = Script.current ? GetDlgItem(Script.current, id) : nullptr;
            return control && Usable(control);
        }))
        return Fail(error, "control " + line.words[1] + " did not become usable");
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

bool Run(const ScriptLine& line, std::string& error)
{
    const std::string& name = line.words[0];
    if (name == "wait-window")
        return WaitWindow(line, error);
    if (name == "wait-dialog")
        return WaitDialog(line, error);
    if (name == "wait-gone")
        return WaitGone(line, error);
    if (name == "wait-enabled")
        return WaitEnabled(line, error);
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
    for (const ScriptLine& line : Script.lines) {
        if (Script.stop)
            return 0;
        std::string error;
        if (!Run(line, error)) {
            Say("script: line %d (%s) failed: %s", line.number, line.words[0].c_str(), error.c_str());
            PostMessageA(Script.notify, Script.failedMessage, 0, 0);
            return 1;
        }
    }
    Say("script: done");
    return 0;
}

}  // namespace

bool LoadWindowScript(const std::string& path, std::string& error)
{
    Script.lines.clear();
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
            Script.lines.push_back(line);
    }
    fclose(file);
    return ok;
}

void StartWindowScript(HWND window, UINT failedMessage)
{
    Script.notify = window;
    Script.failedMessage = failedMessage;
    Script.current = nullptr;
    Script.stop = 0;
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
