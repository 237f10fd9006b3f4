// twacquire.exe run as a child process against the scripted test source through the manager:
// complete acquisitions by native, file and memory transfer whose BMP files hold exactly the
// pixels sent, negotiation, refusals, the time limit, message boxes and window scripts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/windows/support/twain_tools.h"

namespace {

// Odd widths, each depth, a single pixel: rows that fill neither bytes nor 4-byte words.
const char* const FivePages =
    "page 17 5 1\n"
    "page 33 9 8\n"
    "page 13 7 24\n"
    "page 1 1 1\n"
    "page 31 3 24\n";

struct PageSize {
    int width, height, bits;
};
const PageSize FivePageSizes[] = {{17, 5, 1}, {33, 9, 8}, {13, 7, 24}, {1, 1, 1}, {31, 3, 24}};

class AcquireTest : public ::testing::Test {
protected:
    ProgramRun Acquire(const std::string& arguments)
    {
        ProgramRun run = RunAcquire(arguments + " --out out", work.path());
        EXPECT_TRUE(run.finished) << run.output;
        return run;
    }

    std::string OutFile(int number) const
    {
        char name[32];
        snprintf(name, sizeof name, "out\\page%03d.bmp", number);
        return work / name;
    }

    SourceFolder sources;
    TempFolder work{"qacq"};
};

struct MechanismCase {
    const char* mechanism;
    const char* extra;
    const char* transferCall;  // the source's record of the transfer triplet
};

class MechanismTest : public AcquireTest, public ::testing::WithParamInterface<MechanismCase> {};

}  // namespace

TEST_P(MechanismTest, WritesEveryPageAsTheSourceSentIt)
{
    const MechanismCase& mechanismCase = GetParam();
    sources.AddTestSource("a", std::string("name Pages\n") + FivePages);
    ProgramRun run = Acquire(std::string("--mech ") + mechanismCase.mechanism + " " + mechanismCase.extra);
    EXPECT_EQ(0u, run.exitCode) << run.output;

    for (int page = 0; page < 5; ++page) {
        const PageSize& size = FivePageSizes[page];
        Bitmap bitmap = ReadBmp(OutFile(page + 1));
        ASSERT_TRUE(bitmap.ok) << "page " << page + 1 << "\n" << run.output;
        EXPECT_EQ(size.width, bitmap.width);
        EXPECT_EQ(size.height, bitmap.height);
        EXPECT_EQ(size.bits, bitmap.bitsPerPixel);
        EXPECT_EQ(0, PatternMismatches(bitmap, page)) << "page " << page + 1;
        char line[200];
        snprintf(line, sizeof line, "page %d: %d x %d, %d bits per pixel, 200.00 x 200.00 dpi, %s transfer -> %s",
                 page + 1, size.width, size.height, size.bits, mechanismCase.mechanism,
                 OutFile(page + 1).c_str());
        EXPECT_TRUE(HasLine(run.output, line)) << line << "\n" << run.output;
    }
    EXPECT_FALSE(FileExists(OutFile(6)));
    EXPECT_TRUE(LinesInOrder(run.output, {
        "the source has pages ready (MSG_XFERREADY)",
        "no page is pending",
        "the source asks to be closed (MSG_CLOSEDSREQ)",
        "source disabled",
        "source closed",
        "manager closed",
        std::string("5 page(s) written by ") + mechanismCase.mechanism +
            " transfer; the sequence ran without a failure",
    }));

    std::string log = sources.Log("a");
    std::vector<std::string> expected = {"call 0001 0009 0502 from 1"};
    for (int page = 0; page < 5; ++page) {
        expected.push_back("call 0002 0101 0001 from 1");
        expected.push_back(mechanismCase.transferCall);
        expected.push_back("call 0001 0005 0701 from 1");
    }
    expected.push_back("call 0001 0009 0501 from 1");
    expected.push_back("call 0001 0003 0402 from 1");
    EXPECT_TRUE(LinesInOrder(log, expected));
}

INSTANTIATE_TEST_SUITE_P(
    Mechanisms, MechanismTest,
    ::testing::Values(MechanismCase{"native", "", "call 0002 0104 0001 from 1"},
                      MechanismCase{"file", "", "call 0002 0105 0001 from 1"},
                      // Memory strips: the source's preferred buffer, and one that splits pages.
                      MechanismCase{"memory", "", "call 0002 0103 0001 from 1"},
                      MechanismCase{"memory", "--buffer 100", "call 0002 0103 0001 from 1"}),
    [](const ::testing::TestParamInfo<MechanismCase>& info) {
        return std::string(info.param.mechanism) + (info.param.extra[0] ? "SmallBuffer" : "");
    });

TEST_F(AcquireTest, MemoryStripsAreAssembledWhateverTheirSize)
{
    sources.AddTestSource("a", "name Pages\npage 33 9 8\n");
    ProgramRun run = Acquire("--mech memory --buffer 100");
    ASSERT_EQ(0u, run.exitCode) << run.output;
    EXPECT_TRUE(HasLine(run.output, "memory buffer of 100 bytes"));
    // 33-byte rows, three to a strip.
    std::vector<std::string> log = Lines(sources.Log("a"));
    int strips = 0;
    for (const std::string& line : log)
        strips += line == "memory page 0 rows 3";
    EXPECT_EQ(3, strips);
    EXPECT_EQ(0, PatternMismatches(ReadBmp(OutFile(1)), 0));
}

TEST_F(AcquireTest, BrokenPagesAreReportedAndNeverWritten)
{
    sources.AddTestSource("a", "name Corrupt\npage 20 10 8\ncorrupt\n");
    ProgramRun native = Acquire("--mech native");
    EXPECT_EQ(1u, native.exitCode);
    EXPECT_NE(std::string::npos, native.output.find("error: page 1: the DIB is not one a BMP file can hold"))
        << native.output;
    EXPECT_FALSE(FileExists(OutFile(1)));

    ProgramRun memory = Acquire("--mech memory");
    EXPECT_EQ(1u, memory.exitCode);
    EXPECT_TRUE(LinesInOrder(memory.output, {
        "error: page 1: a strip reaches below the page",
        "source disabled",
        "source closed",
    }));
    EXPECT_FALSE(FileExists(OutFile(1)));
}

TEST_F(AcquireTest, ReportsARefusalWithItsConditionCodeAndClosesInOrder)
{
    sources.AddTestSource("a", "name Refuser\nrefuse 0009 0502 9\n");
    ProgramRun run = Acquire("");
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_TRUE(LinesInOrder(run.output, {
        "refused: MSG_ENABLEDS: TWRC_FAILURE, condition code 9 (TWCC_BADPROTOCOL)",
        "source closed",
        "manager closed",
        "0 page(s) written by native transfer; the sequence had failures",
    }));
    EXPECT_FALSE(HasLine(run.output, "source disabled"));
    EXPECT_FALSE(HasLine(sources.Log("a"), "call 0001 0009 0501 from 1"));
}

TEST_F(AcquireTest, AFailedTransferResetsThePendingPagesAndCloses)
{
    sources.AddTestSource("a", "name Broken\npage 8 8 8\npage 8 8 8\nrefuse 0103 0001 5\n");
    ProgramRun run = Acquire("--mech memory");
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_TRUE(LinesInOrder(run.output, {
        "refused: DAT_IMAGEMEMXFER: TWRC_FAILURE, condition code 5 (TWCC_OPERATIONERROR)",
        "source disabled",
        "source closed",
        "manager closed",
    }));
    EXPECT_TRUE(LinesInOrder(sources.Log("a"), {"call 0002 0103 0001 from 1", "call 0001 0005 0007 from 1",
                                                "call 0001 0009 0501 from 1"}));
    EXPECT_FALSE(FileExists(OutFile(1)));
}

TEST_F(AcquireTest, SetsCapabilitiesBeforeEnabling)
{
    sources.AddTestSource("a", "name Caps\n");
    ProgramRun run = Acquire("--resolution 300 --pixel-type gray --cap 0x1002=bool:1 --cap 0x1101=fix32:-12.5");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_TRUE(LinesInOrder(sources.Log("a"), {
        "cap 0103 set 0 type 4",
        "cap 1118 set 300 type 7",
        "cap 1119 set 300 type 7",
        "cap 0101 set 1 type 4",
        "cap 1002 set 1 type 6",
        "cap 1101 set 2147549171 type 7",  // -12.5: Whole -13, Frac 0x8000
        "enable showui 1",
    }));
}

TEST_F(AcquireTest, ARefusedCapabilityStopsBeforeEnabling)
{
    sources.AddTestSource("a", "name Caps\nrefuse 0001 0006 13\n");
    ProgramRun run = Acquire("--mech memory");
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_TRUE(LinesInOrder(run.output, {
        "refused: MSG_SET transfer mechanism memory: TWRC_FAILURE, condition code 13 (TWCC_CAPUNSUPPORTED)",
        "negotiation failed: the source is not enabled",
        "source closed",
    }));
    EXPECT_FALSE(HasLine(sources.Log("a"), "call 0001 0009 0502 from 1"));
}

TEST_F(AcquireTest, RejectsABadCommandLine)
{
    sources.AddTestSource("a", "name Any\n");
    EXPECT_EQ(2u, Acquire("--mech fax").exitCode);
    EXPECT_EQ(2u, Acquire("--cap 0x1002=bogus:1").exitCode);
    EXPECT_EQ(2u, Acquire("--timeout").exitCode);
    EXPECT_EQ("", sources.Log("a"));  // the manager was never opened
}

TEST_F(AcquireTest, ChoosesTheSourceByNameOrTakesTheFirst)
{
    sources.AddTestSource("a", "name Alpha\n");
    sources.AddTestSource("b", "name Beta\n");
    ProgramRun listed = Acquire("--list");
    EXPECT_EQ(0u, listed.exitCode);
    EXPECT_TRUE(LinesInOrder(listed.output, {
        "source 1: \"Alpha\" by \"QRV Project\", family \"QRV Tests\", version 1.0 \"Test source 1.0\", "
        "protocol 1.9, groups 0x3",
        "source 2: \"Beta\" by \"QRV Project\", family \"QRV Tests\", version 1.0 \"Test source 1.0\", "
        "protocol 1.9, groups 0x3",
        "manager closed",
    }));
    EXPECT_EQ(std::string::npos, sources.Log("a").find("opened"));

    EXPECT_EQ(0u, Acquire("--source Beta").exitCode);
    EXPECT_NE(std::string::npos, sources.Log("b").find("opened"));
    EXPECT_EQ(std::string::npos, sources.Log("a").find("opened"));

    EXPECT_EQ(0u, Acquire("").exitCode);
    EXPECT_NE(std::string::npos, sources.Log("a").find("opened"));

    ProgramRun missing = Acquire("--source Nobody");
    EXPECT_EQ(1u, missing.exitCode);
    EXPECT_TRUE(HasLine(missing.output, "error: no source is named \"Nobody\""));
}

TEST_F(AcquireTest, EndsAtTheTimeLimitAndStillClosesTheSource)
{
    sources.AddTestSource("a", "name Idle\natenable none\n");
    DWORD start = GetTickCount();
    ProgramRun run = Acquire("--timeout 2");
    EXPECT_LT(GetTickCount() - start, 15000u);
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_TRUE(LinesInOrder(run.output, {
        "source enabled",
        "error: the time limit of 2 s has passed",
        "source disabled",
        "source closed",
        "manager closed",
    }));
}

TEST_F(AcquireTest, PressesTheMessageBoxesOfTheSourceAndReportsThem)
{
    sources.AddTestSource("a", "name Boxer\nbox Paper jam in tray 2\n");
    ProgramRun run = Acquire("--press-boxes --timeout 20");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_TRUE(HasLine(run.output, "message box: [Boxer] Paper jam in tray 2 -> pressed OK")) << run.output;
    EXPECT_TRUE(HasLine(sources.Log("a"), "box answered 1"));
}

TEST_F(AcquireTest, AWindowScriptDrivesTheSourceWindow)
{
    sources.AddTestSource("a", "name Windowed\nwindow\npage 9 4 8\npage 10 5 8\npage 11 6 24\n");
    WriteFileText(work / "choose.txt",
                  "# the second page onwards\n"
                  "wait-dialog 101\n"
                  "wait-enabled 1\n"
                  "select 101 1\n"
                  "click 1\n");
    ProgramRun run = Acquire("--script choose.txt --timeout 20");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_TRUE(HasLine(run.output, "script: done"));
    EXPECT_TRUE(LinesInOrder(sources.Log("a"), {"window selected 1", "window transfer from 1"}));
    // Pages 2 and 3 of the source, and nothing else.
    Bitmap first = ReadBmp(OutFile(1));
    Bitmap second = ReadBmp(OutFile(2));
    ASSERT_TRUE(first.ok && second.ok) << run.output;
    EXPECT_EQ(10, first.width);
    EXPECT_EQ(0, PatternMismatches(first, 1));
    EXPECT_EQ(11, second.width);
    EXPECT_EQ(0, PatternMismatches(second, 2));
    EXPECT_FALSE(FileExists(OutFile(3)));
}

TEST_F(AcquireTest, AFailingWindowScriptEndsTheRunAtOnce)
{
    sources.AddTestSource("a", "name Windowed\nwindow\n");
    WriteFileText(work / "bad.txt", "wait-window Windowed\nclick 555\n");
    DWORD start = GetTickCount();
    ProgramRun run = Acquire("--script bad.txt --timeout 30");
    EXPECT_LT(GetTickCount() - start, 15000u);
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_TRUE(LinesInOrder(run.output, {
        "script: line 2 (click) failed: no control 555",
        "source disabled",
        "source closed",
    }));

    WriteFileText(work / "unknown.txt", "wait-window Windowed\ndance 3\n");
    ProgramRun rejected = Acquire("--script unknown.txt");
    EXPECT_EQ(1u, rejected.exitCode);
    EXPECT_TRUE(HasLine(rejected.output, "error: script line 2: unknown command dance"));
}

// Session cycles as twacquire runs them: whole cycles (the manager loads the source for each
// open and unloads it at each close), cycles that only enable again, and whole cycles with the
// module held loaded throughout; the resource report after cycle 10 and the last.
TEST_F(AcquireTest, SessionCyclesOpenEnableAndCloseAsAsked)
{
    sources.AddTestSource("a", "name Cycles\npage 9 4 8\npage 10 5 24\n");
    auto logOf = [&](const ProgramRun& run, size_t before) {
        EXPECT_EQ(0u, run.exitCode) << run.output;
        return sources.Log("a").substr(before);
    };
    const std::string enable = "call 0001 0009 0502", disable = "call 0001 0009 0501", close = "call 0001 0003 0402";

    size_t before = sources.Log("a").size();
    ProgramRun whole = Acquire("--cycles 3 --report-resources");
    std::string log = logOf(whole, before);
    // One load to list the sources, then one per open.
    EXPECT_EQ(4, Count(log, "loaded \"Cycles\"")) << log;
    EXPECT_EQ(4, Count(log, "unloaded")) << log;
    EXPECT_EQ(3, Count(log, "opened by")) << log;
    EXPECT_EQ(3, Count(log, enable)) << log;
    EXPECT_EQ(3, Count(log, disable)) << log;
    EXPECT_EQ(3, Count(log, close)) << log;
    EXPECT_TRUE(LinesInOrder(whole.output, {"cycle 1 of 3", "cycle 1: 2 page(s)", "cycle 2 of 3", "cycle 3 of 3",
                                            "source closed", "cycle 3: 2 page(s)", "manager closed",
                                            "6 page(s) written by native transfer; the sequence ran without a failure"}));
    // Fewer than ten cycles: the report comes once, at the end.
    unsigned long long workingSet = 0;
    unsigned long handles = 0;
    int threads = 0, folders = -1, reports = 0;
    for (const std::string& line : Lines(whole.output))
        reports += sscanf(line.c_str(), "resources: cycle=3 working_set=%llu handles=%lu threads=%d temp_dirs=%d",
                          &workingSet, &handles, &threads, &folders) == 4;
    EXPECT_EQ(1, reports) << whole.output;
    EXPECT_GT(workingSet, 1000000ull);
    EXPECT_GT(handles, 0ul);
    EXPECT_GE(threads, 2);  // the event loop's and the watchdog
    EXPECT_GE(folders, 0);
    for (int page = 0; page < 6; ++page) {
        Bitmap bitmap = ReadBmp(OutFile(page + 1));
        ASSERT_TRUE(bitmap.ok) << page + 1;
        EXPECT_EQ(0, PatternMismatches(bitmap, page % 2)) << page + 1;
    }

    before = sources.Log("a").size();
    ProgramRun again = Acquire("--cycles 3 --reenable");
    log = logOf(again, before);
    EXPECT_EQ(1, Count(log, "opened by")) << log;
    EXPECT_EQ(3, Count(log, enable)) << log;
    EXPECT_EQ(3, Count(log, disable)) << log;
    EXPECT_EQ(1, Count(log, close)) << log;
    EXPECT_TRUE(LinesInOrder(again.output, {"cycle 3: 2 page(s)", "6 page(s) written by native transfer; the "
                                                                  "sequence ran without a failure"}));

    before = sources.Log("a").size();
    ProgramRun kept = Acquire("--cycles 11 --keep-loaded --report-resources");
    log = logOf(kept, before);
    EXPECT_EQ(11, Count(log, "opened by")) << log;
    EXPECT_EQ(11, Count(log, close)) << log;
    // Loaded to be listed and once more for the first open; unloaded when twacquire lets go.
    EXPECT_EQ(2, Count(log, "loaded \"Cycles\"")) << log;
    EXPECT_EQ(2, Count(log, "unloaded")) << log;
    EXPECT_TRUE(HasLine(kept.output, "keeping the source module loaded: " + sources.path() + "a\\qrvtestsrc.ds"))
        << kept.output;
    size_t tenth = kept.output.find("\nresources: cycle=10 ");
    EXPECT_NE(std::string::npos, tenth) << kept.output;
    EXPECT_LT(tenth, kept.output.find("\nresources: cycle=11 ")) << kept.output;
    EXPECT_EQ(2, Count(kept.output, "resources: ")) << kept.output;
}

TEST_F(AcquireTest, ListsTheRealSourceThroughTheManager)
{
    sources.AddRealSource("orvel", "Acquire Test Orvel");
    ProgramRun run = Acquire("--list");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_TRUE(HasLine(run.output, "source 1: \"Acquire Test Orvel\" by \"VANTREL WORKS,LTD.\", family \"TWAIN\", "
                                    "version 1.0 \"Version 1.3.9\", protocol 1.6, groups 0x3"))
        << run.output;
}
