#include "tests/windows/support/loaded_source.h"

#include <cstring>

LoadedSource::LoadedSource(const SourceInstall& install) : folder_("qsrc")
{
    CopyInto(BinFolder() + "qrvkbx.ds", folder_.path());
    if (install.withResourceModule)
        CopyInto(BinFolder() + "qrvkbxr.dll", folder_.path());
    if (!install.ini.empty())
        WriteFileText(folder_ / "qrvcofig.ini", install.ini);
    app.Id = 7;
    app.ProtocolMajor = 1;
    app.ProtocolMinor = 9;
    app.SupportedGroups = DG_CONTROL | DG_IMAGE;
    strcpy(app.Manufacturer, "Test maker");
    strcpy(app.ProductFamily, "Tests");
    strcpy(app.ProductName, "Test application");
}

LoadedSource::~LoadedSource() { Unload(); }

bool LoadedSource::Load()
{
    Unload();
    module_ = LoadLibraryA((folder_ / "qrvkbx.ds").c_str());
    if (!module_)
        return false;
    entry_ = reinterpret_cast<DSENTRYPROC>(GetProcAddress(module_, "DS_Entry"));
    return entry_ != nullptr;
}

void LoadedSource::Unload()
{
    if (module_)
        FreeLibrary(module_);
    module_ = nullptr;
    entry_ = nullptr;
}

TW_UINT16 LoadedSource::Call(TW_UINT32 group, TW_UINT16 argumentType, TW_UINT16 message, void* data)
{
    return CallFrom(&app, group, argumentType, message, data);
}

TW_UINT16 LoadedSource::CallFrom(TW_IDENTITY* origin, TW_UINT32 group, TW_UINT16 argumentType,
                                 TW_UINT16 message, void* data)
{
    return entry_(origin, group, argumentType, message, data);
}

TW_UINT16 LoadedSource::Status()
{
    TW_STATUS status{0xFFFF, 0xFFFF};
    Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    return status.ConditionCode;
}

TW_UINT16 LoadedSource::Open()
{
    TW_IDENTITY identity{};
    Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity);
    identity.Id = 21;
    return Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &identity);
}
