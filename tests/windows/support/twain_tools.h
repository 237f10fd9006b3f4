// The project's TWAIN tools as tests use them: folders of scripted test sources (and of the real
// qrvkbx.ds) that the manager finds through QRV_TWAIN_SOURCES, the acquisition application run
// as a child process, and the BMP files it writes.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/windows/support/test_files.h"

// build/<preset>/tools/, where the manager and twacquire.exe are.
std::string ToolsFolder();

// A folder the manager searches for sources while the object lives; the sources installed in
// the Windows folder are left out unless a test asks for them.
class SourceFolder {
public:
    SourceFolder();
    ~SourceFolder();
    SourceFolder(const SourceFolder&) = delete;
    SourceFolder& operator=(const SourceFolder&) = delete;

    // Installs the test source in sub-folder sub (may be nested) with this script; returns the
    // sub-folder's path (with a trailing backslash).
    std::string AddTestSource(const std::string& sub, const std::string& script);
    // Installs qrvkbx.ds with its resource module and an INI file naming it driverName.
    std::string AddRealSource(const std::string& sub, const std::string& driverName);
    // What the test source in sub recorded.
    std::string Log(const std::string& sub) const;
    void IncludeSystemSources(bool include);
    const std::string& path() const { return folder_.path(); }

private:
    TempFolder folder_;
};

// The lines of text, without line ends.
std::vector<std::string> Lines(const std::string& text);
// True when the lines contain wanted as a whole line.
bool HasLine(const std::string& text, const std::string& wanted);
// Position of the first line equal to wanted at or after from; -1 when there is none.
int LineIndex(const std::vector<std::string>& lines, const std::string& wanted, int from = 0);
// Each line of wanted appears in text, in this order.
::testing::AssertionResult LinesInOrder(const std::string& text, const std::vector<std::string>& wanted);
// How often part occurs in text.
int Count(const std::string& text, const std::string& part);

struct ProgramRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string output;  // standard output and error
    bool finished = false;
};

// Runs twacquire.exe with these arguments from folder workFolder and waits for it.
ProgramRun RunAcquire(const std::string& arguments, const std::string& workFolder,
                      DWORD timeoutMs = 60000);

// A BMP file read back as the colours a viewer shows (0xRRGGBB, top row first).
struct Bitmap {
    bool ok = false;
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    std::vector<uint32_t> pixels;
    uint32_t At(int x, int y) const { return pixels[size_t(y) * width + x]; }
};

Bitmap ReadBmp(const std::string& path);
// Pixels that differ from what the test source sends as page number page (from 0).
int PatternMismatches(const Bitmap& bitmap, int page);
