// Resource ids of the manager's selection dialog.
#pragma once

#define IDD_SELECT_SOURCE 100
#define IDC_SOURCE_LIST 101
