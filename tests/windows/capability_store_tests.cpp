// The capability store's paper family and accessors, inside the test executable. The paper
// family is settled when the table is built, so each case runs this executable again as a child.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "source/capability_negotiation.h"
#include "source/capability_store.h"
#include "source/module_load.h"
#include "tests/windows/support/attached_core.h"
#include "tests/windows/support/test_files.h"

namespace {

// Runs this executable with --paper-size under the given INI; its exit code is the paper family
// it settled (100 and above: it failed). The child keeps this process's locale.
int PaperSizeTypeWith(const std::string& ini)
{
    WriteCoreIni(ini);
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    std::string command = std::string("\"") + exe + "\" --paper-size";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessA(exe, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &startup, &process);
    if (!started)
        return 200;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 201;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

int CountryCode()
{
    char country[16] = "";
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_ICOUNTRY, country, sizeof country);
    return atoi(country);
}

const char* const BaseIni = "[TWAIN]\r\nDriverName=Store Test\r\n";

}  // namespace

TEST(PaperSizeType, SizeTypeZeroOrOneWinsOverTheLocale)
{
    EXPECT_EQ(1, PaperSizeTypeWith(std::string(BaseIni) + "SizeType=1\r\n"));
    EXPECT_EQ(0, PaperSizeTypeWith(std::string(BaseIni) + "SizeType=0\r\n"));
    WriteCoreIni("");
}

// Run by CTest once per locale (LC_ALL is read when a Wine process starts), with
// QRV_LOCALE_CASE="<country code>:<paper family>" naming what that locale must give.
TEST(PaperSizeType, WithoutSizeTypeTheLocaleCountryDecides)
{
    const char* localeCase = getenv("QRV_LOCALE_CASE");
    if (!localeCase)
        GTEST_SKIP() << "run by CTest with a locale";
    int country = -1;
    int paper = -1;
    ASSERT_EQ(2, sscanf(localeCase, "%d:%d", &country, &paper));
    ASSERT_EQ(country, CountryCode());
    EXPECT_EQ(paper, PaperSizeTypeWith(BaseIni));
    EXPECT_EQ(paper, PaperSizeTypeWith(std::string(BaseIni) + "SizeType=7\r\n"));
    EXPECT_EQ(paper, PaperSizeTypeWith(std::string(BaseIni) + "SizeType=-1\r\n"));
    WriteCoreIni("");
}

TEST(CapabilityStore, AccessorsReadAndWriteTheCurrentValues)
{
    ASSERT_TRUE(AttachCore(BaseIni));
    EXPECT_FLOAT_EQ(200.0f, GetXResolution());
    EXPECT_EQ(TWPT_BW, GetPixelType());
    EXPECT_FALSE(GetFeederEnabled());
    EXPECT_FLOAT_EQ(8.64f, GetPhysicalWidth());
    EXPECT_FLOAT_EQ(11.0f, GetPhysicalHeight());
    EXPECT_FALSE(GetResolutionChangeRequested());
    // Setters store what they are given, allowed or not.
    SetXResolution(250.0f);
    SetYResolution(100.0f);
    SetPixelType(TWPT_RGB);
    SetFeederEnabled(true);
    SetResolutionChangeRequested(true);
    BuildCapabilityTable();
    EXPECT_FLOAT_EQ(250.0f, *static_cast<float*>(FindCapability(ICAP_XRESOLUTION)->Current));
    EXPECT_FLOAT_EQ(100.0f, GetYResolution());
    EXPECT_EQ(TWPT_RGB, GetPixelType());
    EXPECT_TRUE(GetFeederEnabled());
    EXPECT_TRUE(GetResolutionChangeRequested());
    // The scaling capabilities share their cells.
    EXPECT_EQ(FindCapability(ICAP_XSCALING)->Current, FindCapability(ICAP_YSCALING)->Current);
    EXPECT_EQ(nullptr, FindCapability(CAP_AUTOSCAN));
    EXPECT_EQ(nullptr, FindCapability(0));
    ClearCapabilityTable();
    EXPECT_EQ(nullptr, FindCapability(ICAP_XRESOLUTION));
    EXPECT_EQ(TWPT_RGB, GetPixelType());
    WriteCoreIni("");
}

TEST(CapabilityStore, SettingAResolutionRequestsTheChangeAndOtherCapabilitiesDoNot)
{
    ASSERT_TRUE(AttachCore(BaseIni));
    BuildCapabilityTable();
    auto set = [](TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 item) {
        HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, sizeof(TW_ONEVALUE));
        auto* one = static_cast<TW_ONEVALUE*>(GlobalLock(handle));
        one->ItemType = itemType;
        one->Item = item;
        GlobalUnlock(handle);
        TW_CAPABILITY capability{cap, TWON_ONEVALUE, handle};
        TW_UINT16 result = CapabilityHandler(nullptr, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability);
        GlobalFree(handle);
        return result;
    };
    // A TW_FIX32 item holds its whole part in the low half.
    EXPECT_EQ(TWRC_SUCCESS, set(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY));
    EXPECT_FALSE(GetResolutionChangeRequested());
    EXPECT_EQ(TWRC_FAILURE, set(ICAP_YRESOLUTION, TWTY_FIX32, 250u));
    EXPECT_FALSE(GetResolutionChangeRequested());
    EXPECT_EQ(TWRC_SUCCESS, set(ICAP_YRESOLUTION, TWTY_FIX32, 400u));
    EXPECT_TRUE(GetResolutionChangeRequested());
    EXPECT_FLOAT_EQ(400.0f, GetYResolution());
    EXPECT_FLOAT_EQ(200.0f, GetXResolution());
    WriteCoreIni("");
}

int main(int argc, char** argv)
{
    if (argc > 1 && strcmp(argv[1], "--paper-size") == 0) {
        // The parent wrote the INI file beside this executable.
        if (!ModuleAttach(GetModuleHandleA(nullptr)))
            return 100;
        BuildCapabilityTable();
        fprintf(stderr, "country %d paper %d\n", CountryCode(), PaperSizeType);
        return PaperSizeType;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
