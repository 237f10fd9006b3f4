#include "window/information_page.h"

#include "device/config_store.h"

INT_PTR CALLBACK InformationPageProc(HWND page, UINT message, WPARAM, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SetCaptionFromDriverName(GetDlgItem(page, ProductNameId));
        return TRUE;
    default:
        return FALSE;
    }
}
