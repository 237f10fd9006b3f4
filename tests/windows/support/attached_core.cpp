#include "tests/windows/support/attached_core.h"

#include <windows.h>

#include "source/module_load.h"
#include "tests/windows/support/test_files.h"

std::string CoreIniPath() { return ExeFolder() + "qrvcofig.ini"; }

void WriteCoreIni(const std::string& ini)
{
    DeleteFileA(CoreIniPath().c_str());
    if (!ini.empty())
        WriteFileText(CoreIniPath(), ini);
}

bool AttachCore(const std::string& ini)
{
    WriteCoreIni(ini);
    ModuleDetach();
    return ModuleAttach(GetModuleHandleA(nullptr)) != FALSE;
}
