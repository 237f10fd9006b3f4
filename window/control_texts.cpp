#include "window/control_texts.h"

#include "source/source_state.h"

const ControlText SourceWindowTexts[] = {{0, 20800}, {-1, 0}};

const ControlText BrowserPageTexts[] = {
    {1058, 20201}, {1024, 20202}, {1025, 20203}, {1026, 20204}, {1027, 20205}, {1059, 20206},
    {1019, 20207}, {1020, 20208}, {1021, 20209}, {1060, 20212}, {1013, 20213}, {1014, 20214},
    {1061, 20215}, {1046, 20216}, {1062, 20217}, {1004, 20218}, {1005, 20219}, {1015, 20220},
    {1007, 20221}, {1037, 20222}, {1002, 20223}, {1009, 20224}, {1030, 20225}, {1031, 20226},
    {1032, 20227}, {2, 20228},     {-1, 0},
};

const ControlText ProgressWindowTexts[] = {{0, 20700}, {2, 20701}, {-1, 0}};
const ControlText LogonDialogTexts[] = {{0, 20100}, {1056, 20101}, {1057, 20102}, {1, 20103}, {2, 20104}, {-1, 0}};
const ControlText SelectDialogTexts[] = {{0, 20300}, {1049, 20301}, {2, 20302}, {-1, 0}};
const ControlText SettingsDialogTexts[] = {{0, 20400}, {1039, 20401}, {1065, 20402}, {1, 20403}, {2, 20404}, {-1, 0}};

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
