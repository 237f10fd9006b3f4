// The information page: the product name, the version line and the maker line.
#pragma once

#include <windows.h>

constexpr int InformationPageTemplate = 10008;
constexpr int ProductNameId = 1053;

INT_PTR CALLBACK InformationPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
