// The page bitmap file and DIB store on the real file API and global memory: files byte by byte,
// selection, loading, flipping, saving for file transfers, and files that fail to be written.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/windows/page_file_store.h"
#include "tests/windows/support/attached_core.h"
#include "tests/windows/support/test_files.h"

namespace {

std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::string text = ReadFileText(path);
    return std::vector<uint8_t>(text.begin(), text.end());
}

uint32_t Read32(const std::vector<uint8_t>& b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

uint16_t Read16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }

// Rows whose every byte tells its row: row y is filled with y + 1 (mod 256).
std::vector<uint8_t> NumberedRows(uint32_t stride, uint32_t height)
{
    std::vector<uint8_t> rows(size_t(stride) * height);
    for (uint32_t y = 0; y < height; ++y)
        memset(&rows[size_t(y) * stride], int((y + 1) & 0xFF), stride);
    return rows;
}

class PageFileStore : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(AttachCore("[TWAIN]\r\nDriverName=Orvel Source\r\n")); }
    void TearDown() override
    {
        FreePageDib();
        CurrentPageFile[0] = '\0';
        WriteCoreIni("");
    }

    TempFolder folder{"pfs"};
};

// A file left for the standard-reader check that runs after this executable (check_saved_pages.sh).
std::string LeftForReader(const char* name) { return ExeFolder() + name; }

// The page as a standard reader should show it, as a binary PGM, top row first.
void WriteExpectedPgm(const std::string& path, uint32_t width, uint32_t height,
                      uint8_t (*level)(uint32_t x, uint32_t y))
{
    std::string pgm = "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            pgm += char(level(x, y));
    WriteFileText(path, pgm);
}

}  // namespace

TEST_F(PageFileStore, BlackAndWhiteFaxPageFile)
{
    std::vector<uint8_t> rows = NumberedRows(216, 2200);
    std::string path = folder / "page.bmp";
    ASSERT_EQ(1, WritePageBitmapFile(path.c_str(), rows.data(), 1728, 2200, 200, 200, 0));
    std::vector<uint8_t> file = ReadBytes(path);
    ASSERT_EQ(475262u, file.size());
    EXPECT_EQ('B', file[0]);
    EXPECT_EQ('M', file[1]);
    EXPECT_EQ(475262u, Read32(file, 2));
    EXPECT_EQ(0u, Read32(file, 6));
    EXPECT_EQ(62u, Read32(file, 10));
    EXPECT_EQ(40u, Read32(file, 14));
    EXPECT_EQ(1728u, Read32(file, 18));
    EXPECT_EQ(2200u, Read32(file, 22));
    EXPECT_EQ(1, Read16(file, 26));
    EXPECT_EQ(1, Read16(file, 28));
    EXPECT_EQ(0u, Read32(file, 30));
    EXPECT_EQ(475200u, Read32(file, 34));
    EXPECT_EQ(7874u, Read32(file, 38));
    EXPECT_EQ(7874u, Read32(file, 42));
    EXPECT_EQ(2u, Read32(file, 46));
    EXPECT_EQ(0u, Read32(file, 50));
    EXPECT_EQ(0x000000u, Read32(file, 54));
    EXPECT_EQ(0xFFFFFFu, Read32(file, 58));
    // The rows as held in memory, top row first.
    EXPECT_TRUE(std::equal(rows.begin(), rows.end(), file.begin() + 62));
}

TEST_F(PageFileStore, GrayAndRgbFilesAndResolutions)
{
    std::vector<uint8_t> gray = NumberedRows(1004, 3);
    std::string grayPath = folder / "gray.bmp";
    ASSERT_EQ(1, WritePageBitmapFile(grayPath.c_str(), gray.data(), 1001, 3, 300, 400, 1));
    std::vector<uint8_t> file = ReadBytes(grayPath);
    ASSERT_EQ(1078u + 3012, file.size());
    EXPECT_EQ(1078u, Read32(file, 10));
    EXPECT_EQ(8, Read16(file, 28));
    EXPECT_EQ(11811u, Read32(file, 38));
    EXPECT_EQ(15748u, Read32(file, 42));
    EXPECT_EQ(256u, Read32(file, 46));
    EXPECT_EQ(0x808080u, Read32(file, 54 + 4 * 128));
    EXPECT_TRUE(std::equal(gray.begin(), gray.end(), file.begin() + 1078));

    std::vector<uint8_t> rgb = NumberedRows(3004, 3);
    std::string rgbPath = folder / "rgb.bmp";
    ASSERT_EQ(1, WritePageBitmapFile(rgbPath.c_str(), rgb.data(), 1001, 3, 200, 200, 2));
    file = ReadBytes(rgbPath);
    ASSERT_EQ(54u + 9012, file.size());
    EXPECT_EQ(54u, Read32(file, 10));
    EXPECT_EQ(24, Read16(file, 28));
    EXPECT_EQ(0u, Read32(file, 46));
    EXPECT_TRUE(std::equal(rgb.begin(), rgb.end(), file.begin() + 54));
}

TEST_F(PageFileStore, FilesThatCannotBeWrittenAreNotLeft)
{
    std::vector<uint8_t> rows = NumberedRows(8, 4);
    // A folder that does not exist.
    std::string missing = folder / "missing\\page.bmp";
    EXPECT_EQ(0, WritePageBitmapFile(missing.c_str(), rows.data(), 40, 4, 200, 200, 0));
    EXPECT_FALSE(FileExists(missing));
    // The name is taken by a folder.
    std::string taken = folder / "taken.bmp";
    ASSERT_TRUE(CreateDirectoryA(taken.c_str(), nullptr));
    EXPECT_EQ(0, WritePageBitmapFile(taken.c_str(), rows.data(), 40, 4, 200, 200, 0));
    EXPECT_TRUE(FolderExists(taken));
    // An unsupported pixel type or an empty page: the file is created, then deleted.
    std::string odd = folder / "odd.bmp";
    EXPECT_EQ(0, WritePageBitmapFile(odd.c_str(), rows.data(), 40, 4, 200, 200, 3));
    EXPECT_FALSE(FileExists(odd));
    EXPECT_EQ(0, WritePageBitmapFile(odd.c_str(), rows.data(), 0, 4, 200, 200, 0));
    EXPECT_FALSE(FileExists(odd));
}

TEST_F(PageFileStore, SelectReadsTheInfoHeader)
{
    std::vector<uint8_t> rows = NumberedRows(1004, 3);
    std::string path = folder / "gray.bmp";
    ASSERT_EQ(1, WritePageBitmapFile(path.c_str(), rows.data(), 1001, 3, 300, 300, 1));
    ASSERT_EQ(1, SelectPageFile(path.c_str()));
    EXPECT_EQ(path, CurrentPageFile);
    EXPECT_EQ(40u, CurrentPageHeader.biSize);
    EXPECT_EQ(1001, CurrentPageHeader.biWidth);
    EXPECT_EQ(3, CurrentPageHeader.biHeight);
    EXPECT_EQ(8, CurrentPageHeader.biBitCount);
    EXPECT_EQ(3012u, CurrentPageHeader.biSizeImage);
    EXPECT_EQ(11811, CurrentPageHeader.biXPelsPerMeter);
    EXPECT_EQ(256u, CurrentPageHeader.biClrUsed);

    // Refusals leave the current page as it was.
    EXPECT_EQ(0, SelectPageFile(""));
    EXPECT_EQ(0, SelectPageFile((folder / "none.bmp").c_str()));
    std::string shortFile = folder / "short.bmp";
    WriteFileText(shortFile, "BM not a page");
    EXPECT_EQ(0, SelectPageFile(shortFile.c_str()));
    std::string text = ReadFileText(path);
    text[28] = 32;   // a bit count the store does not write
    std::string other = folder / "other.bmp";
    WriteFileText(other, text);
    EXPECT_EQ(0, SelectPageFile(other.c_str()));
    EXPECT_EQ(path, CurrentPageFile);
    EXPECT_EQ(1001, CurrentPageHeader.biWidth);
}

TEST_F(PageFileStore, LoadFlipAndHandOver)
{
    // Odd height: rows 1 to 5, the middle one stays.
    std::vector<uint8_t> rows = NumberedRows(8, 5);
    std::string path = folder / "page.bmp";
    ASSERT_EQ(1, WritePageBitmapFile(path.c_str(), rows.data(), 64, 5, 200, 200, 0));
    ASSERT_EQ(1, SelectPageFile(path.c_str()));
    EXPECT_EQ(0, FlipPageDib());   // nothing loaded yet
    ASSERT_EQ(1, LoadPageDib());
    HGLOBAL dib = GetPageDib();
    ASSERT_NE(nullptr, dib);
    EXPECT_GE(GlobalSize(dib), 40u + 8 + 40);
    const BYTE* block = static_cast<const BYTE*>(dib);
    EXPECT_EQ(0, memcmp(block, &CurrentPageHeader, 40));
    EXPECT_EQ(block + 48, GetPageDibBits());
    EXPECT_EQ(0, memcmp(GetPageDibBits(), rows.data(), rows.size()));
    ASSERT_EQ(1, FlipPageDib());
    for (uint32_t y = 0; y < 5; ++y)
        EXPECT_EQ(5 - y, GetPageDibBits()[y * 8]) << y;
    // The page file stays on disk; the block changes owner.
    EXPECT_TRUE(FileExists(path));
    ForgetPageDib();
    EXPECT_EQ(nullptr, GetPageDib());
    EXPECT_EQ(nullptr, GetPageDibBits());
    EXPECT_EQ(5, static_cast<const BITMAPINFOHEADER*>(dib)->biHeight);
    GlobalFree(dib);

    // Height 1: flipping changes nothing.
    std::vector<uint8_t> one = NumberedRows(8, 1);
    ASSERT_EQ(1, WritePageBitmapFile(path.c_str(), one.data(), 64, 1, 200, 200, 0));
    ASSERT_EQ(1, SelectPageFile(path.c_str()));
    ASSERT_EQ(1, LoadPageDib());
    ASSERT_EQ(1, FlipPageDib());
    EXPECT_EQ(0, memcmp(GetPageDibBits(), one.data(), 8));
    FreePageDib();
    EXPECT_EQ(nullptr, GetPageDib());

    // Without a current page, or when its file is gone, nothing loads.
    DeleteFileA(path.c_str());
    EXPECT_EQ(0, LoadPageDib());
    CurrentPageFile[0] = '\0';
    EXPECT_EQ(0, LoadPageDib());
}

TEST_F(PageFileStore, SavedPagesAreStandardBitmaps)
{
    // A black-and-white page: black top rows and a black left column; the reader check
    // compares the saved files with the expected images, so an upside-down file fails there.
    const uint32_t width = 37, height = 23;
    auto bwLevel = [](uint32_t x, uint32_t y) -> uint8_t { return y < 5 || x == 0 || (x == y) ? 0 : 255; };
    std::vector<uint8_t> bw(size_t(8) * height, 0xFF);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            if (bwLevel(x, y) == 0)
                bw[y * 8 + x / 8] &= uint8_t(~(0x80 >> (x % 8)));
    std::string page = folder / "bw.bmp";
    ASSERT_EQ(1, WritePageBitmapFile(page.c_str(), bw.data(), width, height, 200, 200, 0));
    ASSERT_EQ(1, SelectPageFile(page.c_str()));
    ASSERT_EQ(1, LoadPageDib());
    ASSERT_EQ(1, FlipPageDib());
    std::string saved = LeftForReader("saved_bw.bmp");
    ASSERT_EQ(1, SavePageDibAsBmp(saved.c_str()));
    EXPECT_EQ(nullptr, GetPageDib());
    std::vector<uint8_t> file = ReadBytes(saved);
    ASSERT_EQ(62u + 8 * height, file.size());
    EXPECT_EQ(62u + 8 * height, Read32(file, 2));
    EXPECT_EQ(62u, Read32(file, 10));
    EXPECT_EQ(23u, Read32(file, 22));
    // The first stored row is the page's bottom row.
    EXPECT_EQ(0, memcmp(&file[62], &bw[(height - 1) * 8], 8));
    WriteExpectedPgm(LeftForReader("saved_bw.pgm"), width, height, bwLevel);

    // Gray and RGB pages: a ramp across, darker towards the bottom.
    auto grayLevel = [](uint32_t x, uint32_t y) -> uint8_t { return uint8_t(255 - 10 * y - x); };
    std::vector<uint8_t> gray(size_t(40) * height, 0xFF);
    std::vector<uint8_t> rgb(size_t(112) * height, 0xFF);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            gray[y * 40 + x] = grayLevel(x, y);
            memset(&rgb[y * 112 + 3 * x], grayLevel(x, y), 3);
        }
    const struct {
        const char* name;
        int pixelType;
        const std::vector<uint8_t>& rows;
        uint32_t offset;
    } pages[] = {{"saved_gray", 1, gray, 1078}, {"saved_rgb", 2, rgb, 54}};
    for (const auto& p : pages) {
        page = folder / (std::string(p.name) + ".page");
        ASSERT_EQ(1, WritePageBitmapFile(page.c_str(), p.rows.data(), width, height, 300, 300, p.pixelType));
        ASSERT_EQ(1, SelectPageFile(page.c_str()));
        ASSERT_EQ(1, LoadPageDib());
        ASSERT_EQ(1, FlipPageDib());
        saved = LeftForReader((std::string(p.name) + ".bmp").c_str());
        ASSERT_EQ(1, SavePageDibAsBmp(saved.c_str()));
        file = ReadBytes(saved);
        ASSERT_EQ(p.offset + p.rows.size(), file.size()) << p.name;
        EXPECT_EQ(p.offset, Read32(file, 10)) << p.name;
        size_t stride = p.rows.size() / height;
        EXPECT_EQ(0, memcmp(&file[p.offset], &p.rows[(height - 1) * stride], stride)) << p.name;
        WriteExpectedPgm(LeftForReader((std::string(p.name) + ".pgm").c_str()), width, height, grayLevel);
    }
}

TEST_F(PageFileStore, SavingWithoutAPageOrToABadPath)
{
    std::string target = folder / "out.bmp";
    EXPECT_EQ(0, SavePageDibAsBmp(target.c_str()));
    EXPECT_FALSE(FileExists(target));

    std::vector<uint8_t> rows = NumberedRows(8, 4);
    std::string page = folder / "page.bmp";
    ASSERT_EQ(1, WritePageBitmapFile(page.c_str(), rows.data(), 64, 4, 200, 200, 0));
    ASSERT_EQ(1, SelectPageFile(page.c_str()));
    ASSERT_EQ(1, LoadPageDib());
    std::string missing = folder / "missing\\out.bmp";
    EXPECT_EQ(0, SavePageDibAsBmp(missing.c_str()));
    EXPECT_EQ(nullptr, GetPageDib());   // freed in every case
    EXPECT_FALSE(FileExists(missing));
}

// A page of 2.1 MB left beside the executable for the full-disk run, which cannot write one.
TEST_F(PageFileStore, MultiMegabytePageFile)
{
    std::vector<uint8_t> rows = NumberedRows(3004, 700);
    std::string path = LeftForReader("large_page.bmp");
    ASSERT_EQ(1, WritePageBitmapFile(path.c_str(), rows.data(), 1001, 700, 200, 200, 2));
    EXPECT_EQ(54u + rows.size(), ReadBytes(path).size());
}

// Run only under a file size limit of 1 MB on the process (run_with_full_disk.sh): every write
// past it fails as on a full disk.
TEST_F(PageFileStore, DISABLED_FullDiskWritesLeaveNoFile)
{
    std::vector<uint8_t> rows = NumberedRows(3004, 700);
    std::string page = folder / "big.bmp";
    EXPECT_EQ(0, WritePageBitmapFile(page.c_str(), rows.data(), 1001, 700, 200, 200, 2));
    EXPECT_FALSE(FileExists(page));

    // A file transfer of the page the unlimited run left.
    std::string large = LeftForReader("large_page.bmp");
    ASSERT_TRUE(FileExists(large)) << "run page_file_store_tests without the limit first";
    ASSERT_EQ(1, SelectPageFile(large.c_str()));
    ASSERT_EQ(1, LoadPageDib());
    ASSERT_EQ(1, FlipPageDib());
    std::string saved = folder / "saved.bmp";
    EXPECT_EQ(0, SavePageDibAsBmp(saved.c_str()));
    EXPECT_FALSE(FileExists(saved));
    EXPECT_EQ(nullptr, GetPageDib());
}
