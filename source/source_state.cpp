#include "source/source_state.h"

#include "device/config_store.h"
#include "resources/resource_ids.h"

TW_IDENTITY SourceIdentity;
TW_IDENTITY AppIdentity;
int SourceState = StateLoaded;
TW_UINT16 ConditionCode = TWCC_SUCCESS;
HWND SourceWindow = nullptr;
HWND ParentWindow = nullptr;
bool CloseRequested = false;
HMODULE ResourceModule = nullptr;
HMODULE OwnModule = nullptr;

int LoadResourceString(UINT id, char* buffer, int size)
{
    if (size <= 0)
        return 0;
    buffer[0] = '\0';
    HMODULE from = ResourceModule ? ResourceModule : OwnModule;
    int length = LoadStringA(from, id, buffer, size);
    if (length <= 0) {
        buffer[0] = '\0';
        return 0;
    }
    return length;
}

void ShowApplicationError(const char*, TW_UINT16)
{
    char text[180];
    char caption[MAX_PATH];
    LoadResourceString(IDS_APPLICATION_ERROR, text, sizeof text);
    ReadDriverName(caption, sizeof caption);
    // A box whose owner is gone would not be shown at all: it is shown without an owner then.
    HWND owner = ParentWindow && IsWindow(ParentWindow) ? ParentWindow : nullptr;
    MessageBoxA(owner, text, caption, MB_OK);
    // The box enables its owner when it returns; the application's window stays disabled for
    // as long as the source window is up.
    if (owner && SourceWindow && IsWindow(SourceWindow) && owner != GetDesktopWindow())
        EnableWindow(owner, FALSE);
}

TW_UINT16 RefuseRequest(TW_UINT16 code, const char* diagnostic)
{
    ConditionCode = code;
    ShowApplicationError(diagnostic, code);
    return TWRC_FAILURE;
}
