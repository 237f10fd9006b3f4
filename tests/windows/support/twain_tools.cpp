#include "tests/windows/support/twain_tools.h"

#include <cstring>

#include "tools/test_source/test_pattern.h"

namespace {

constexpr const char* SourcesVariable = "QRV_TWAIN_SOURCES";
constexpr const char* SystemSourcesVariable = "QRV_TWAIN_SYSTEM_SOURCES";

void MakeFolders(const std::string& path)
{
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
}

uint32_t ReadLittle(const std::string& data, size_t at, int bytes)
{
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | uint8_t(data[at + i]);
    return value;
}

}  // namespace

std::string ToolsFolder()
{
    char full[MAX_PATH];
    GetFullPathNameA((ExeFolder() + "..\\..\\tools\\").c_str(), sizeof full, full, nullptr);
    return full;
}

SourceFolder::SourceFolder() : folder_("qsf")
{
    SetEnvironmentVariableA(SourcesVariable, folder_.path().c_str());
    IncludeSystemSources(false);
}

SourceFolder::~SourceFolder()
{
    SetEnvironmentVariableA(SourcesVariable, nullptr);
    SetEnvironmentVariableA(SystemSourcesVariable, nullptr);
}

void SourceFolder::IncludeSystemSources(bool include)
{
    SetEnvironmentVariableA(SystemSourcesVariable, include ? nullptr : "0");
}

std::string SourceFolder::AddTestSource(const std::string& sub, const std::string& script)
{
    std::string target = folder_ / sub + "\\";
    MakeFolders(target);
    std::string built = ToolsFolder() + "test_source\\";
    CopyInto(built + "qrvtestsrc.ds", target);
    CopyInto(built + "qrvtestcompanion.dll", target);
    WriteFileText(target + "test_source.txt", script);
    return target;
}

std::string SourceFolder::AddRealSource(const std::string& sub, const std::string& driverName)
{
    std::string target = folder_ / sub + "\\";
    MakeFolders(target);
    CopyInto(BinFolder() + "qrvkbx.ds", target);
    CopyInto(BinFolder() + "qrvkbxr.dll", target);
    // The protocol library, when it is built: the source finds it beside itself.
    if (FileExists(BinFolder() + "qrvxpmns.dll"))
        CopyInto(BinFolder() + "qrvxpmns.dll", target);
    WriteFileText(target + "qrvcofig.ini", "[TWAIN]\r\nDriverName=" + driverName + "\r\nRegKey=Orvel\r\n");
    return target;
}

std::string SourceFolder::Log(const std::string& sub) const
{
    return ReadFileText(folder_ / sub + "\\test_source.log");
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

bool HasLine(const std::string& text, const std::string& wanted)
{
    return LineIndex(Lines(text), wanted) >= 0;
}

int LineIndex(const std::vector<std::string>& lines, const std::string& wanted, int from)
{
    for (size_t i = size_t(from); i < lines.size(); ++i)
        if (lines[i] == wanted)
            return int(i);
    return -1;
}

ProgramRun RunAcquire(const std::string& arguments, const std::string& workFolder, DWORD timeoutMs)
{
    ProgramRun run;
    std::string outputPath = workFolder + "twacquire-output.txt";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE)
        return run;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::string commandLine = "\"" + ToolsFolder() + "twacquire.exe\" " + arguments;
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(0);
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  workFolder.c_str(), &startup, &process);
    CloseHandle(output);
    if (!started)
        return run;
    run.finished = WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0;
    if (!run.finished)
        TerminateProcess(process.hProcess, 99);
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    run.output = ReadFileText(outputPath);
    return run;
}

Bitmap ReadBmp(const std::string& path)
{
    Bitmap bitmap;
    std::string data = ReadFileText(path);
    if (data.size() < 54 || data[0] != 'B' || data[1] != 'M')
        return bitmap;
    uint32_t offset = ReadLittle(data, 10, 4);
    uint32_t headerSize = ReadLittle(data, 14, 4);
    int width = int(ReadLittle(data, 18, 4));
    int height = int(ReadLittle(data, 22, 4));
    int bits = int(ReadLittle(data, 28, 2));
    uint32_t colours = ReadLittle(data, 46, 4);
    if (bits <= 8 && colours == 0)
        colours = 1u << bits;
    if (width <= 0 || height <= 0 || width > 100000 || height > 100000 ||
        (bits != 1 && bits != 4 && bits != 8 && bits != 24))
        return bitmap;
    size_t stride = (size_t(width) * bits + 31) / 32 * 4;
    size_t paletteAt = 14 + headerSize;
    if (paletteAt + colours * 4 > offset || offset + stride * height > data.size())
        return bitmap;
    bitmap.width = width;
    bitmap.height = height;
    bitmap.bitsPerPixel = bits;
    bitmap.pixels.resize(size_t(width) * height);
    for (int y = 0; y < height; ++y) {
        size_t row = offset + size_t(height - 1 - y) * stride;
        for (int x = 0; x < width; ++x) {
            uint32_t colour;
            if (bits == 24) {
                size_t at = row + size_t(x) * 3;
                colour = ReadLittle(data, at, 3);  // blue, green, red in the file
            } else {
                size_t bitAt = size_t(x) * bits;
                uint32_t index = (uint8_t(data[row + bitAt / 8]) >> (8 - bits - bitAt % 8)) & ((1u << bits) - 1);
                if (index >= colours)
                    return Bitmap{};
                colour = ReadLittle(data, paletteAt + index * 4, 3);
            }
            bitmap.pixels[size_t(y) * width + x] = colour & 0xFFFFFF;
        }
    }
    bitmap.ok = true;
    return bitmap;
}

int PatternMismatches(const Bitmap& bitmap, int page)
{
    int mismatches = 0;
    for (int y = 0; y < bitmap.height; ++y)
        for (int x = 0; x < bitmap.width; ++x)
            if (bitmap.At(x, y) != PatternColour(page, bitmap.bitsPerPixel, x, y))
                ++mismatches;
    return mismatches;
}

// Each line of wanted appears in text, in this order.
::testing::AssertionResult LinesInOrder(const std::string& text, const std::vector<std::string>& wanted)
{
    std::vector<std::string> lines = Lines(text);
    int at = 0;
    for (const std::string& line : wanted) {
        int found = LineIndex(lines, line, at);
        if (found < 0)
            return ::testing::AssertionFailure() << "missing, or out of order: " << line << "\nin:\n" << text;
        at = found + 1;
    }
    return ::testing::AssertionSuccess();
}

int Count(const std::string& text, const std::string& part)
{
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}
