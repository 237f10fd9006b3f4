#include "device/window_routines.h"

#include <commctrl.h>

#include "source/source_state.h"

void ApplyControlTexts(HWND dialog, const ControlText* table)
{
    if (!ResourceModule || !dialog)
        return;
    for (const ControlText* pair = table; pair->control != -1; ++pair) {
        char text[513];
        if (LoadStringA(ResourceModule, pair->string, text, sizeof text) <= 0 || !text[0])
            continue;
        HWND target = pair->control == 0 ? dialog : GetDlgItem(dialog, pair->control);
        if (target)
            SetWindowTextA(target, text);
    }
}

void AddListColumn(HWND list, int index, UINT titleId, int width, int format)
{
    char title[MAX_PATH];
    LoadResourceString(titleId, title, sizeof title);
    LVCOLUMNA column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = format;
    column.cx = width;
    column.pszText = title;
    column.iSubItem = index;
    SendMessageA(list, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&column));
}

void CenterOverParent(HWND window)
{
    HWND parent = GetParent(window);
    RECT own, outer, work;
    if (!parent || !GetWindowRect(window, &own) || !GetWindowRect(parent, &outer) ||
        !SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0))
        return;
    int w = own.right - own.left;
    int h = own.bottom - own.top;
    int x = (outer.left + outer.right - w) / 2;
    int y = (outer.top + outer.bottom - h) / 2;
    if (w > 0 && h > 0 && x > 0 && y > 0 && x < work.right - w && y < work.bottom - h)
        SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK RestrictedEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CONTEXTMENU:
    case WM_CUT:
    case WM_PASTE:
        return 0;
    default: {
        WNDPROC previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(edit, GWLP_USERDATA));
        return previous ? CallWindowProcA(previous, edit, message, wParam, lParam)
                        : DefWindowProcA(edit, message, wParam, lParam);
    }
    }
}

void RestrictEdit(HWND edit, WNDPROC procedure)
{
    if (!edit)
        return;
    SendMessageA(edit, EM_LIMITTEXT, 3, 0);
    LONG_PTR previous = SetWindowLongPtrA(edit, GWLP_WNDPROC,
                                          reinterpret_cast<LONG_PTR>(procedure ? procedure : RestrictedEditProc));
    SetWindowLongPtrA(edit, GWLP_USERDATA, previous);
    // The input method is detached: page numbers are typed as plain digits.
    if (HMODULE imm = LoadLibraryA("imm32.dll")) {
        typedef HANDLE(WINAPI * AssociateProc)(HWND, HANDLE);
        auto associate = reinterpret_cast<AssociateProc>(GetProcAddress(imm, "ImmAssociateContext"));
        if (associate)
            associate(edit, nullptr);
        FreeLibrary(imm);
    }
}

void MoveDefaultButton(HWND from, HWND to)
{
    if (!from || !to)
        return;
    SendMessageA(from, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    if (GetFocus() != from)
        return;
    SendMessageA(to, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    InvalidateRect(to, nullptr, TRUE);
    UpdateWindow(to);
    SetFocus(to);
}
