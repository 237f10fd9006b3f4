#include "source/module_load.h"

#include <commctrl.h>

#include <cstring>

#include "device/config_store.h"
#include "resources/resource_ids.h"
#include "source/capability_store.h"
#include "source/control_operations.h"
#include "source/page_sequencing.h"
#include "device/message_presentation.h"
#include "device/storage_commands.h"
#include "source/source_state.h"

namespace {

// The resource module sits beside the source module under the name string 4 gives. It holds
// strings only, so it is mapped as data: nothing of it runs inside the loader lock.
void LoadResourceModule()
{
    if (ResourceModule) {
        FreeLibrary(ResourceModule);
        ResourceModule = nullptr;
    }
    char path[MAX_PATH];
    char name[MAX_PATH];
    DWORD length = GetModuleFileNameA(OwnModule, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return;
    if (LoadStringA(OwnModule, IDS_RESOURCE_MODULE, name, sizeof name) <= 0)
        return;
    char* fileName = strrchr(path, '\\');
    fileName = fileName ? fileName + 1 : path;
    size_t folderLength = static_cast<size_t>(fileName - path);
    if (folderLength + strlen(name) >= sizeof path)
        return;
    strcpy(fileName, name);
    ResourceModule = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

void FillSourceIdentity()
{
    SourceIdentity.Version.MajorNum = 1;
    SourceIdentity.Version.MinorNum = 0;
    SourceIdentity.Version.Language = TWLG_JAPANESE;
    SourceIdentity.Version.Country = TWCY_JAPAN;
    LoadResourceString(IDS_VERSION_INFO, SourceIdentity.Version.Info, sizeof(TW_STR32));
    SourceIdentity.ProtocolMajor = 1;
    SourceIdentity.ProtocolMinor = 6;
    SourceIdentity.SupportedGroups = DG_CONTROL | DG_IMAGE;
    LoadResourceString(IDS_MANUFACTURER, SourceIdentity.Manufacturer, sizeof(TW_STR32));
    LoadResourceString(IDS_PRODUCT_FAMILY, SourceIdentity.ProductFamily, sizeof(TW_STR32));
}

}  // namespace

BOOL ModuleAttach(HMODULE module)
{
    if (!module)
        return FALSE;
    OwnModule = module;
    LoadResourceModule();

    // A manager may load, unload and load the module again; every load starts from the same state.
    memset(&AppIdentity, 0, sizeof AppIdentity);
    memset(&SourceIdentity, 0, sizeof SourceIdentity);
    SourceState = StateLoaded;
    ConditionCode = TWCC_SUCCESS;
    SourceWindow = nullptr;
    ParentWindow = nullptr;
    CloseRequested = false;
    ResetControlOperations();
    ResetPageSequencing();
    InitCapabilityValues();
    PendingMessageId = NoPendingMessage;
    FillSourceIdentity();

    if (!ReadDriverName(SourceIdentity.ProductName, sizeof(TW_STR32))) {
        ModuleDetach(false);
        return FALSE;
    }

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_TAB_CLASSES |
                                                          ICC_PROGRESS_CLASS | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
    return TRUE;
}

void ModuleDetach(bool unloading)
{
    // Unloaded with its window still up (state 5 or later): the window goes with the module,
    // and the application's window comes back.
    if (unloading && SourceWindow && IsWindow(SourceWindow)) {
        HWND window = SourceWindow;
        SourceWindow = nullptr;
        DestroyWindow(window);
        if (ParentWindow && ParentWindow != GetDesktopWindow() && IsWindow(ParentWindow))
            EnableWindow(ParentWindow, TRUE);
    }
    // At process exit the protocol library may already be gone; it is freed only on an unload.
    if (unloading)
        ReleaseStorageLibrary();
    if (ResourceModule) {
        FreeLibrary(ResourceModule);
        ResourceModule = nullptr;
    }
}
