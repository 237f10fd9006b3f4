#include "window/options_panel.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "source/source_state.h"
#include "window/browser_page.h"

namespace {

// A decimal field of an entry string; leading blanks are allowed ("F4,826, 1300").
int EntryNumber(const char* field)
{
    long value = strtol(field, nullptr, 10);
    return value < 0 ? 0 : value > 1000000 ? 1000000 : static_cast<int>(value);
}

}  // namespace

bool FixedSizeOn()
{
    HWND page = BrowserState.page;
    return page && IsDlgButtonChecked(page, FixedSizeOnId) == BST_CHECKED;
}

void FixedSizeDimensions(int& width, int& height)
{
    width = 0;
    height = 0;
    HWND page = BrowserState.page;
    if (!page)
        return;
    HWND list = GetDlgItem(page, PaperListId);
    LRESULT index = SendMessageA(list, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR)
        return;
    LRESULT id = SendMessageA(list, CB_GETITEMDATA, static_cast<WPARAM>(index), 0);
    if (id == CB_ERR || id <= 0)
        return;
    char entry[260];
    if (LoadResourceString(static_cast<UINT>(id), entry, sizeof entry) == 0)
        return;
    const char* widthField = strchr(entry, ',');
    if (!widthField)
        return;
    width = EntryNumber(widthField + 1);
    const char* heightField = strchr(widthField + 1, ',');
    if (heightField)
        height = EntryNumber(heightField + 1);
}
