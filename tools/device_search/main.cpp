// qrvssearch.exe: finds the devices that answer the search probe and leaves them in the
// registry's device list for the data source's device dialogs, then exits.
// Exit status: 0 list written, 1 cancelled (the previous list stays), 2 error (message shown).
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/device_search/device_list.h"
#include "tools/device_search/local_interfaces.h"
#include "tools/device_search/search_settings.h"
#include "tools/device_search/search_targets.h"
#include "tools/device_search/target_choice.h"
#include "tools/device_search/search_window.h"

namespace {

int Fail(const std::string& text)
{
    fprintf(stderr, "qrvssearch: %s\n", text.c_str());
    MessageBoxA(nullptr, text.c_str(), SearchCaption, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    return 2;
}

std::vector<std::string> Arguments()
{
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; wide && i < count; ++i) {
        char text[1024];
        if (WideCharToMultiByte(CP_ACP, 0, wide[i], -1, text, sizeof text, nullptr, nullptr) > 0)
            arguments.push_back(text);
    }
    LocalFree(wide);
    return arguments;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    SearchSettings settings;
    std::string error;
    if (!ReadSearchSettings(Arguments(), settings, error))
        return Fail(error);
    if (settings.regKey.empty())
        return Fail("qrvcofig.ini beside qrvssearch.exe names no product key (RegKey): there is no device list to "
                    "write.");
    std::vector<ProbeTarget> targets;
    if (!ChooseTargets(settings, LocalInterfaces, targets, error))
        return Fail(error);
    std::vector<DeviceFound> found;
    if (RunSearchWindow(targets, settings.loopbackOnly, found) == SearchOutcome::Cancelled)
        return 1;
    if (!WriteDeviceList(settings.regKey, found))
        return Fail("The device list could not be written to the registry.");
    return 0;
}
