// qrvbox: the storage protocol's walks and the TIFF structure check on their own, the image
// writers read back by libpng, and the tool itself as a user runs it against the device
// simulator on loopback (listing and sorting, fetching with conversion against qrvpage, archiving
// twice, archiving with deletion while the device cuts files, passwords, a device that is gone,
// hostile answers, interrupted runs).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <png.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "device/protocol_codec.h"
#include "device/storage_protocol.h"
#include "imaging/tiff_structure.h"
#include "tools/qrvbox/image_writers.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// ---- helpers

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

class TempDir {
public:
    TempDir() {
        std::string pattern = testing::TempDir() + "qrvbox_XXXXXX";
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path_); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The device simulator on a free loopback port, recording every request.
class Simulator {
public:
    explicit Simulator(std::vector<std::string> switches, const std::string& storage = QRV_SAMPLE_STORAGE) {
        std::vector<std::string> arguments = {QRV_DEVICE_SIMULATOR, "--storage", storage, "--port-file",
                                              folder_ / "port", "--record", folder_ / "requests", "--lifetime", "120"};
        arguments.insert(arguments.end(), switches.begin(), switches.end());
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        EXPECT_EQ(0, posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ));
        posix_spawn_file_actions_destroy(&actions);
        for (int waited = 0; waited < 10000 && port_ == 0; waited += 20) {
            std::ifstream in(folder_ / "port");
            std::string text;
            if (std::getline(in, text) && in.good()) port_ = std::stoi(text);
            else std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~Simulator() { Stop(); }
    void Stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }
    std::string device() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string Requests() const { return ReadAll(folder_ / "requests"); }
    int Count(const std::string& what) const {
        const std::string text = Requests();
        int count = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
        return count;
    }

private:
    TempDir folder_;
    pid_t pid_ = 0;
    int port_ = 0;
};

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs qrvbox with an empty settings folder of its own, standard input from /dev/null.
class Tool {
public:
    Outcome Run(std::vector<std::string> arguments, std::vector<std::string> environment = {}) {
        const pid_t pid = Start(arguments, environment);
        return Wait(pid);
    }
    pid_t Start(std::vector<std::string> arguments, std::vector<std::string> environment = {}) {
        arguments.insert(arguments.begin(), QRV_QRVBOX);
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        std::vector<std::string> variables = {"XDG_CONFIG_HOME=" + config_.path()};
        for (char** variable = environ; *variable; ++variable)
            if (std::strncmp(*variable, "XDG_CONFIG_HOME=", 16) != 0 && std::strncmp(*variable, "QRVBOX_", 7) != 0)
                variables.emplace_back(*variable);
        variables.insert(variables.end(), environment.begin(), environment.end());
        std::vector<char*> envp;
        for (std::string& variable : variables) envp.push_back(variable.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, (output_ / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, (output_ / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t pid = 0;
        EXPECT_EQ(0, posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()));
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }
    Outcome Wait(pid_t pid) {
        int status = 0;
        waitpid(pid, &status, 0);
        Outcome outcome;
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        outcome.out = ReadAll(output_ / "out");
        outcome.err = ReadAll(output_ / "err");
        return outcome;
    }
    std::string ConfigFolder() const { return config_.path() + "/qrvbox"; }

private:
    TempDir config_;
    TempDir output_;
};

std::vector<std::string> Files(const std::string& folder) {
    std::vector<std::string> names;
    if (fs::exists(folder))
        for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The ids of a JSON listing, in order.
std::vector<std::string> Ids(const std::string& json) {
    std::vector<std::string> ids;
    for (size_t at = json.find("\"id\":\""); at != std::string::npos; at = json.find("\"id\":\"", at + 1))
        ids.push_back(json.substr(at + 6, 8));
    return ids;
}

std::string Sample(const std::string& id) { return std::string(QRV_SAMPLE_STORAGE) + "/documents/" + id + ".tif"; }

// A storage of one user "001" with one folder "Inbox" (id 100) of the documents given as XML.
std::string StorageWith(const TempDir& folder, const std::string& documents, const std::string& password = "") {
    WriteAll(folder / "storage.xml", "<storage><user id=\"001\" handle=\"1\" name=\"Alice\" password=\"" + password +
                                         "\"><folder id=\"00000100\" name=\"Inbox\">" + documents +
                                         "</folder></user></storage>");
    return folder.path();
}

std::string Document(const char* id, const char* subject, const char* time, int pages, const std::string& file,
                     const std::string& extra = "") {
    return std::string("<document id=\"") + id + "\" subject=\"" + subject + "\" timestamp=\"" + time +
           "\" pages=\"" + std::to_string(pages) + "\" file=\"" + file + "\" " + extra + "/>";
}

// ---- pixels

struct Pixels {
    uint32_t width = 0, height = 0, rowBytes = 0;
    int depth = 0;
    std::vector<uint8_t> rows;  // top row first, rowBytes each
};

// libpng's errors come back by longjmp: nothing here needs a destructor.
bool ReadPngFrom(FILE* file, Pixels& pixels) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    pixels.width = png_get_image_width(png, info);
    pixels.height = png_get_image_height(png, info);
    pixels.depth = png_get_bit_depth(png, info);
    pixels.rowBytes = static_cast<uint32_t>(png_get_rowbytes(png, info));
    pixels.rows.resize(static_cast<size_t>(pixels.rowBytes) * pixels.height);
    for (uint32_t y = 0; y < pixels.height; ++y) png_read_row(png, pixels.rows.data() + y * pixels.rowBytes, nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

Pixels ReadPng(const std::string& path) {
    Pixels pixels;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return pixels;
    if (!ReadPngFrom(file, pixels)) pixels = Pixels{};
    std::fclose(file);
    return pixels;
}

uint32_t Little32(const std::string& data, size_t at) {
    return static_cast<uint8_t>(data[at]) | static_cast<uint8_t>(data[at + 1]) << 8 |
           static_cast<uint8_t>(data[at + 2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(data[at + 3])) << 24;
}

// A BMP file's rows, top row first: bottom-up as BMP files are, or top-first as the page
// bitmap file (qrvpage's) keeps them.
Pixels ReadBmp(const std::string& path, bool topFirst) {
    const std::string data = ReadAll(path);
    Pixels pixels;
    if (data.size() < 54) return pixels;
    const uint32_t offset = Little32(data, 10);
    pixels.width = Little32(data, 18);
    pixels.height = Little32(data, 22);
    pixels.depth = static_cast<uint8_t>(data[28]);
    pixels.rowBytes = (pixels.width * pixels.depth + 7) / 8;
    const uint32_t stride = (pixels.width * pixels.depth + 31) / 32 * 4;
    if (data.size() < offset + static_cast<size_t>(stride) * pixels.height) return Pixels{};
    for (uint32_t y = 0; y < pixels.height; ++y) {
        const uint32_t stored = topFirst ? y : pixels.height - 1 - y;
        const char* row = data.data() + offset + static_cast<size_t>(stored) * stride;
        pixels.rows.insert(pixels.rows.end(), row, row + pixels.rowBytes);
    }
    return pixels;
}

// Pixels equal, the padding bits of a 1-bit row's last byte aside.
void ExpectSamePixels(const Pixels& expected, const Pixels& actual, const std::string& what) {
    ASSERT_EQ(expected.width, actual.width) << what;
    ASSERT_EQ(expected.height, actual.height) << what;
    ASSERT_EQ(expected.depth, actual.depth) << what;
    const uint32_t bits = expected.width * expected.depth % 8;
    const auto lastMask = static_cast<uint8_t>(bits ? 0xFF00 >> bits : 0xFF);
    for (uint32_t y = 0; y < expected.height; ++y) {
        for (uint32_t x = 0; x < expected.rowBytes; ++x) {
            const size_t at = static_cast<size_t>(y) * expected.rowBytes + x;
            const uint8_t mask = x + 1 == expected.rowBytes ? lastMask : 0xFF;
            if ((expected.rows[at] & mask) != (actual.rows[at] & mask)) {
                ADD_FAILURE() << what << ": first difference in row " << y << ", byte " << x;
                return;
            }
        }
    }
}

// qrvpage's page bitmap of a page with the given conversion options.
Pixels QrvpagePage(const std::string& document, int page, const std::vector<std::string>& options,
                   const TempDir& folder) {
    std::string command = std::string("'") + QRV_QRVPAGE + "' --convert";
    for (const std::string& option : options) command += " " + option;
    const std::string bmp = folder / ("reference_" + std::to_string(page) + ".bmp");
    command += " --bmp '" + bmp + "' '" + document + "' " + std::to_string(page) + " >/dev/null";
    EXPECT_EQ(0, std::system(command.c_str())) << command;
    return ReadBmp(bmp, true);
}

// ---- the portable parts

struct MemoryFile {
    std::string data;
    size_t at = 0;
};
uint32_t MemoryRead(void* file, void* buffer, uint32_t count) {
    auto* memory = static_cast<MemoryFile*>(file);
    const size_t n = std::min<size_t>(count, memory->data.size() - std::min(memory->at, memory->data.size()));
    std::memcpy(buffer, memory->data.data() + memory->at, n);
    memory->at += n;
    return static_cast<uint32_t>(n);
}
int64_t MemorySeek(void* file, uint32_t offset, int origin) {
    auto* memory = static_cast<MemoryFile*>(file);
    memory->at = origin == 2 ? memory->data.size() + offset : offset;
    return static_cast<int64_t>(memory->at);
}

StorageAnswer Walk(StorageCommand command, const std::string& xml) {
    TagNames tags;
    tags.Assign(std::vector<std::string>(StorageElementNames, StorageElementNames + StorageElementCount));
    Answer parsed;
    EXPECT_EQ(AnswerStatus::Ok, ParseAnswer(xml, tags, parsed));
    StorageAnswer answer;
    answer.command = command;
    for (const AnswerElement& element : parsed.elements)
        if (!answer.Take(element.tag, parsed.Text(element))) break;
    return answer;
}

std::string Serialized(const StorageRequest& steps) {
    TagNames tags;
    tags.Assign(std::vector<std::string>(StorageElementNames, StorageElementNames + StorageElementCount));
    RequestTree tree;
    for (const RequestStep& step : steps) {
        switch (step.kind) {
        case RequestStep::Begin: tree.BeginElement(tags, step.tag); break;
        case RequestStep::End: tree.EndElement(); break;
        case RequestStep::Text: tree.AddText(tags, step.tag, step.text); break;
        case RequestStep::Int: tree.AddInt(tags, step.tag, step.number); break;
        case RequestStep::Id: tree.AddId(tags, step.tag, step.id, 8); break;
        }
    }
    const std::string xml = tree.Serialize(tags);
    return xml.substr(xml.find('<', xml.find("?>")));
}

}  // namespace

TEST(StorageProtocol, RequestsAndAnswerWalksKeepTheSourcesRules)
{
    EXPECT_EQ("<SERVER><COMMAND>GETUSERID</COMMAND></SERVER>", Serialized(UserListRequest()));
    EXPECT_EQ("<JOB><COMMAND>LIST</COMMAND><TYPE>STRAGE</TYPE><PARAM><STRAGE><DOCTYPE>FOLDER</DOCTYPE>"
              "<OWNER>2</OWNER><PASSWORD>s&amp;cret</PASSWORD></STRAGE></PARAM></JOB>",
              Serialized(FolderListRequest(2, "s&cret")));
    // No password entered: no PASSWORD element.
    EXPECT_EQ("<JOB><COMMAND>LIST</COMMAND><TYPE>STRAGE</TYPE><PARAM><STRAGE><OWNER>1</OWNER>"
              "<FOLDERID>0000001A</FOLDERID></STRAGE></PARAM></JOB>",
              Serialized(DocumentListRequest(1, "", 0x1A)));
    EXPECT_EQ("<JOB><COMMAND>DELETE</COMMAND><TYPE>STRAGE</TYPE><PARAM><STRAGE><DOCUMENTID>00001000</DOCUMENTID>"
              "<OWNER>1</OWNER></STRAGE></PARAM></JOB>",
              Serialized(DeleteRequest(1, "", 0x1000)));

    // 150 folder records fill the table's 100 and end the walk.
    std::string folders = "<JOB><CODE>600</CODE>";
    for (int i = 0; i < 150; ++i)
        folders += "<STRAGE><FOLDERID>" + std::to_string(100 + i) + "</FOLDERID><FOLDERNAME>F</FOLDERNAME></STRAGE>";
    StorageAnswer full = Walk(StorageCommand::Folders, folders + "</JOB>");
    EXPECT_EQ(FolderCapacity, full.folders.size());
    EXPECT_TRUE(full.tableFull);
    EXPECT_FALSE(full.Refused());
    EXPECT_EQ(0x199u, full.folders.back().id);

    // A first CODE 807 ends the walk before any record; records before a later code stay.
    StorageAnswer refused = Walk(StorageCommand::Folders, "<JOB><CODE>807</CODE><STRAGE><FOLDERID>1</FOLDERID></STRAGE></JOB>");
    EXPECT_TRUE(refused.Refused());
    EXPECT_EQ(807, refused.lastCode);
    EXPECT_TRUE(refused.folders.empty());
    StorageAnswer late = Walk(StorageCommand::Folders,
                              "<JOB><STRAGE><FOLDERID>1</FOLDERID></STRAGE><CODE>804</CODE><STRAGE/></JOB>");
    EXPECT_EQ(1u, late.folders.size());
    EXPECT_TRUE(late.Refused());
    // No CODE at all: walked to its end, no refusal.
    StorageAnswer uncoded = Walk(StorageCommand::Folders, "<JOB><STRAGE/><STRAGE/></JOB>");
    EXPECT_EQ(2u, uncoded.folders.size());
    EXPECT_FALSE(uncoded.Refused());

    // Fields are cut to their sizes at a character boundary; numbers and ids that do not parse are 0.
    const std::string subject = std::string(39, 'a') + "\xC3\xA9" + "tail";
    StorageAnswer documents = Walk(
        StorageCommand::Documents,
        "<JOB><CODE>600</CODE><STRAGE><DOCUMENTID>1A2b</DOCUMENTID><PAGES>x</PAGES><SUBJECT>" + subject +
            "</SUBJECT><TIMESTAMP>2024/05/01 09:15:00 and more</TIMESTAMP><IMAGEPATH>/" + std::string(60, 'p') +
            "</IMAGEPATH><DOCTYPE>SCAN</DOCTYPE></STRAGE></JOB>");
    ASSERT_EQ(1u, documents.documents.size());
    const DocumentEntry& document = documents.documents[0];
    EXPECT_EQ(0x1A2Bu, document.id);
    EXPECT_EQ(0, document.pages);
    EXPECT_EQ(std::string(39, 'a'), document.subject);
    EXPECT_EQ("2024/05/01 09:15:00", document.timestamp);
    EXPECT_EQ(ImagePathBytes, document.imagePath.size());

    // Users: a user id of fewer than three characters matches only a text equal to it.
    StorageAnswer users = Walk(StorageCommand::Users,
                               "<SERVER><CODE>600</CODE><USER><USERHANDLE>7</USERHANDLE><USERID>01</USERID>"
                               "<USERNAME>Short</USERNAME></USER><USER><USERHANDLE>9</USERHANDLE><USERID>002</USERID>"
                               "</USER></SERVER>");
    ASSERT_EQ(2u, users.users.size());
    EXPECT_EQ(0, FindUserHandle(users.users, "01:Short"));
    EXPECT_EQ(7, FindUserHandle(users.users, "01"));
    EXPECT_EQ(9, FindUserHandle(users.users, "002:Bob"));
    EXPECT_EQ(0, FindUserHandle(users.users, "003"));

    // A deletion counts only when the last CODE is 600.
    EXPECT_TRUE(Walk(StorageCommand::Delete, "<JOB><CODE>600</CODE></JOB>").Deleted());
    EXPECT_FALSE(Walk(StorageCommand::Delete, "<JOB><CODE>809</CODE></JOB>").Deleted());
    EXPECT_FALSE(Walk(StorageCommand::Delete, "<JOB></JOB>").Deleted());
}

TEST(TiffStructure, AWholeDocumentPassesAndEveryCutOrLoopIsFound)
{
    MemoryFile file{ReadAll(Sample("00001005")), 0};  // eight JBIG pages, three strips each
    ASSERT_GT(file.data.size(), 1000u);
    TiffStructure structure;
    EXPECT_TRUE(CheckTiffStructure(MemoryRead, MemorySeek, &file, structure));
    EXPECT_EQ(8u, structure.directories);

    // Cut anywhere, the file is no longer whole.
    const std::string whole = file.data;
    for (size_t cut : {size_t{4}, size_t{100}, whole.size() / 2, whole.size() - 1}) {
        MemoryFile cutFile{whole.substr(0, cut), 0};
        EXPECT_FALSE(CheckTiffStructure(MemoryRead, MemorySeek, &cutFile, structure)) << "cut at " << cut;
        EXPECT_NE(TiffStructureFault::None, structure.fault);
    }
    // A chain that points back at its first directory loops.
    MemoryFile looped{ReadAll(Sample("00001000")), 0};
    const uint32_t first = static_cast<uint8_t>(looped.data[4]) | static_cast<uint8_t>(looped.data[5]) << 8 |
                           static_cast<uint8_t>(looped.data[6]) << 16 | static_cast<uint8_t>(looped.data[7]) << 24;
    const uint16_t entries = static_cast<uint8_t>(looped.data[first]) | static_cast<uint8_t>(looped.data[first + 1]) << 8;
    std::memcpy(&looped.data[first + 2 + entries * 12u], &looped.data[4], 4);
    EXPECT_FALSE(CheckTiffStructure(MemoryRead, MemorySeek, &looped, structure));
    EXPECT_EQ(TiffStructureFault::Loop, structure.fault);
    MemoryFile notTiff{"GIF89a and something else entirely", 0};
    EXPECT_FALSE(CheckTiffStructure(MemoryRead, MemorySeek, &notTiff, structure));
    EXPECT_EQ(TiffStructureFault::NotTiff, structure.fault);
}

TEST(ImageWriters, PngAndBmpReadBackAsWritten)
{
    TempDir folder;
    // Rows wide enough that the stored blocks split rows, 1 and 8 bits.
    for (int pixelType : {0, 1}) {
        ConversionPlan plan;
        plan.width = pixelType == 0 ? 1203 : 70001;
        plan.height = 7;
        plan.pixelType = pixelType;
        plan.stride = pixelType == 0 ? (plan.width + 31) / 32 * 4 : (plan.width + 3) / 4 * 4;
        plan.xResolution = 200;
        plan.yResolution = 100;
        std::vector<uint8_t> rows(static_cast<size_t>(plan.stride) * plan.height);
        for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>(i * 131 + i / 977);
        for (bool png : {true, false}) {
            const std::string path = folder / (png ? "page.png" : "page.bmp");
            FILE* file = std::fopen(path.c_str(), "wb");
            std::unique_ptr<ImageWriter> writer;
            if (png) writer = std::make_unique<PngWriter>();
            else writer = std::make_unique<BmpWriter>();
            ASSERT_TRUE(writer->Begin(file, plan));
            ASSERT_TRUE(writer->WriteRows(rows.data(), 3));  // two bands
            ASSERT_TRUE(writer->WriteRows(rows.data() + 3 * plan.stride, 4));
            ASSERT_TRUE(writer->Finish());
            std::fclose(file);
            Pixels expected;
            expected.width = plan.width;
            expected.height = plan.height;
            expected.depth = pixelType == 0 ? 1 : 8;
            expected.rowBytes = (plan.width * expected.depth + 7) / 8;
            for (uint32_t y = 0; y < plan.height; ++y)
                expected.rows.insert(expected.rows.end(), rows.begin() + y * plan.stride,
                                     rows.begin() + y * plan.stride + expected.rowBytes);
            ExpectSamePixels(expected, png ? ReadPng(path) : ReadBmp(path, false), path);
        }
    }
    EXPECT_EQ(0xCBF43926u, Crc32(0, reinterpret_cast<const uint8_t*>("123456789"), 9));
    EXPECT_EQ(0x11E60398u, Adler32(1, reinterpret_cast<const uint8_t*>("Wikipedia"), 9));
}

TEST(QrvboxFlow, ListsAndSortsAsTheSourcesList)
{
    Simulator device({});
    ASSERT_GT(device.device().size(), 10u);
    Tool tool;
    const std::vector<std::string> alice = {"--device", device.device(), "--user", "001"};
    auto with = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), alice.begin(), alice.end());
        return tool.Run(arguments);
    };

    Outcome users = tool.Run({"users", "--json", "--device", device.device()});
    EXPECT_EQ(0, users.status) << users.err;
    EXPECT_EQ("[{\"id\":\"001\",\"name\":\"Alice Archer\",\"handle\":1},{\"id\":\"002\",\"name\":\"Bob Baker\","
              "\"handle\":2},{\"id\":\"003\",\"name\":\"Carol Chen\",\"handle\":3}]\n",
              users.out);
    Outcome folders = with({"folders"});
    EXPECT_EQ("ID        NAME\n00000100  Inbox\n00000101  Scans\n", folders.out);

    // Newest first; by subject the greater first; by pages the most first, reversed the fewest.
    EXPECT_EQ((std::vector<std::string>{"00001003", "00001002", "00001001", "00001000"}),
              Ids(with({"list", "Inbox", "--json"}).out));
    EXPECT_EQ((std::vector<std::string>{"00001003", "00001001", "00001002", "00001000"}),
              Ids(with({"list", "Inbox", "--json", "--sort", "subject"}).out));
    EXPECT_EQ((std::vector<std::string>{"00001002", "00001000", "00001001", "00001003"}),
              Ids(with({"list", "Inbox", "--json", "--sort", "pages", "--reverse"}).out));
    // A sub-folder comes first, and is listed as a folder of its own by its path.
    Outcome scans = with({"list", "Scans"});
    EXPECT_EQ("ID        TIME                 PAGES  SUBJECT\n"
              "00000102  2024/04/30 18:00:00         Archive/\n"
              "00001005  2024/05/06 15:30:00      8  ITU pages 1-8 (JBIG)\n"
              "00001004  2024/05/05 14:15:00      1  ITU page 1 (T.4 1-D, standard)\n",
              scans.out);
    EXPECT_EQ((std::vector<std::string>{"00001004", "00001005", "00000102"}),
              Ids(with({"list", "Scans", "--json", "--reverse"}).out));
    EXPECT_EQ((std::vector<std::string>{"00001006"}), Ids(with({"list", "Scans/Archive", "--json"}).out));

    // Ties and case: equal times go by id, subjects compare without case.
    TempDir storage;
    const std::string file = Sample("00001000");
    Simulator custom({}, StorageWith(storage, Document("00000005", "beta", "2024/01/01 10:00:00", 3, file) +
                                                  Document("00000004", "Alpha", "2024/01/01 10:00:00", 3, file) +
                                                  Document("00000006", "GAMMA", "2023/12/31 23:59:59", 12, file) +
                                                  Document("00000007", "hidden", "2024/01/02 00:00:00", 1, file,
                                                           "doctype=\"SUBFOLDER\"")));
    const std::vector<std::string> own = {"--device", custom.device(), "--user", "001", "--json", "list", "Inbox"};
    auto list = [&](std::vector<std::string> extra) {
        std::vector<std::string> arguments = own;
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return Ids(tool.Run(arguments).out);
    };
    EXPECT_EQ((std::vector<std::string>{"00000004", "00000005", "00000006"}), list({}));
    EXPECT_EQ((std::vector<std::string>{"00000006", "00000005", "00000004"}), list({"--sort", "subject"}));
    EXPECT_EQ((std::vector<std::string>{"00000006", "00000004", "00000005"}), list({"--sort", "pages"}));

    // Usage errors exit 2, failures 1; help goes to standard output.
    EXPECT_EQ(2, tool.Run({}).status);
    EXPECT_EQ(2, tool.Run({"list", "--device", device.device(), "--user", "001"}).status);
    EXPECT_EQ(2, tool.Run({"fetch", "Inbox", "1000", "--device", device.device(), "--user", "001"}).status);
    EXPECT_EQ(2, tool.Run({"list", "Inbox", "--delete", "--device", device.device()}).status);
    EXPECT_EQ(2, tool.Run({"folders", "--device", device.device()}).status);  // no user
    EXPECT_EQ(2, tool.Run({"users"}).status);                                  // no device
    Outcome missing = with({"list", "Outbox"});
    EXPECT_EQ(1, missing.status);
    EXPECT_NE(std::string::npos, missing.err.find("no folder 'Outbox' (the folders: Inbox, Scans)")) << missing.err;
    EXPECT_EQ(1, with({"list", "Scans/Nothing"}).status);
    Outcome help = tool.Run({"archive", "--help"});
    EXPECT_EQ(0, help.status);
    EXPECT_EQ(0u, help.out.find("usage: qrvbox [options] archive FOLDER --out DIR [--delete]"));

    // Saved settings stand in for the options; a line the file does not know is a failure.
    fs::create_directories(tool.ConfigFolder());
    WriteAll(tool.ConfigFolder() + "/config", "# mine\ndevice = " + device.device() + "\nuser = 001\n");
    EXPECT_EQ(folders.out, tool.Run({"folders"}).out);
    WriteAll(tool.ConfigFolder() + "/config", "device " + device.device() + "\n");
    Outcome broken = tool.Run({"folders"});
    EXPECT_EQ(1, broken.status);
    EXPECT_NE(std::string::npos, broken.err.find("line 1")) << broken.err;
}

TEST(QrvboxFlow, FetchKeepsTheDocumentAndConvertsPagesAsQrvpage)
{
    Simulator device({});
    Tool tool;
    TempDir out;
    Outcome plain = tool.Run({"fetch", "Inbox", "1001", "00001003", "--out", out.path(), "--device", device.device(),
                              "--user", "001"});
    ASSERT_EQ(0, plain.status) << plain.err;
    EXPECT_EQ(out / "00001001.tif\n" + out / "00001003.tif\n", plain.out);
    EXPECT_EQ(ReadAll(Sample("00001001")), ReadAll(out / "00001001.tif"));
    EXPECT_EQ(ReadAll(Sample("00001003")), ReadAll(out / "00001003.tif"));

    // Converted pages, PNG and BMP, against qrvpage's page for the same settings: the JBIG
    // document in gray at 300 dpi on A4, and a standard-resolution fax page at 200 dpi.
    struct Case {
        const char* id;
        std::vector<std::string> options;   // qrvbox's
        std::vector<std::string> reference; // qrvpage's
        std::vector<int> pages;
    };
    const std::vector<Case> cases = {
        {"00001005", {"--pages", "2-3", "--pixel-type", "gray", "--resolution", "300", "--paper", "a4"},
         {"--pixel-type", "gray", "--resolution", "300", "--paper", "826x1168"}, {2, 3}},
        {"00001004", {"--resolution", "200"}, {"--resolution", "200"}, {1}},
    };
    for (const Case& c : cases) {
        for (const char* format : {"png", "bmp"}) {
            TempDir pages;
            std::vector<std::string> arguments = {"fetch", "Scans", c.id, "--out", pages.path(), "--format", format, "--device",
                                                  device.device(), "--user", "001"};
            arguments.insert(arguments.end(), c.options.begin(), c.options.end());
            Outcome fetched = tool.Run(arguments);
            ASSERT_EQ(0, fetched.status) << fetched.err;
            std::vector<std::string> expected;
            for (int page : c.pages) {
                char name[32];
                std::snprintf(name, sizeof name, "%s-%03d.%s", c.id, page, format);
                expected.push_back(name);
                const Pixels reference = QrvpagePage(Sample(c.id), page, c.reference, pages);
                const std::string path = pages / name;
                ExpectSamePixels(reference, std::string(format) == "png" ? ReadPng(path) : ReadBmp(path, false), path);
            }
            std::vector<std::string> made = Files(pages.path());
            made.erase(std::remove_if(made.begin(), made.end(),
                                      [](const std::string& name) { return name.rfind("reference_", 0) == 0; }),
                       made.end());
            EXPECT_EQ(expected, made);
        }
    }

    // A page the document does not have, an id the folder does not hold.
    Outcome beyond = tool.Run({"fetch", "Inbox", "1000", "--pages", "2", "--out", out.path(), "--device",
                               device.device(), "--user", "001"});
    EXPECT_EQ(1, beyond.status);
    EXPECT_NE(std::string::npos, beyond.err.find("it has 1 page")) << beyond.err;
    EXPECT_EQ(1, tool.Run({"fetch", "Inbox", "1005", "--out", out.path(), "--device", device.device(), "--user", "001"}).status);
    EXPECT_EQ((std::vector<std::string>{"00001001.tif", "00001003.tif"}), Files(out.path()));
}

TEST(QrvboxFlow, ArchiveTwiceFetchesNothingTwiceAndDeletesOnlyWhatIsChecked)
{
    TempDir out;
    Tool tool;
    const std::vector<std::string> names = {"20240501091500_00001000.tif", "20240502103000_00001001.tif",
                                            "20240503114500_00001002.tif", "20240504130000_00001003.tif"};
    {
        // Files cut in half (with a length, and chunked without one): nothing archived, nothing deleted.
        for (std::vector<std::string> faults : {std::vector<std::string>{"--cut-files"},
                                                std::vector<std::string>{"--cut-files", "--chunked-files"}}) {
            Simulator device(faults);
            Outcome cut = tool.Run({"archive", "Inbox", "--out", out.path(), "--delete", "--device", device.device(),
                                    "--user", "001"});
            EXPECT_EQ(1, cut.status);
            EXPECT_EQ(4, device.Count("== GET /strage/"));
            EXPECT_EQ(0, device.Count("<COMMAND>DELETE</COMMAND>"));
            EXPECT_TRUE(Files(out.path()).empty()) << cut.err;
        }
    }
    Simulator device({});
    const std::vector<std::string> archive = {"archive", "Inbox", "--out", out.path(), "--device", device.device(),
                                              "--user", "001"};
    // What an interrupted run left in the work folder goes at the next start.
    fs::create_directories(out / ".qrvbox-partial");
    WriteAll(out / ".qrvbox-partial/20240501091500_00001000.tif.part", "half a file");
    Outcome first = tool.Run(archive);
    ASSERT_EQ(0, first.status) << first.err;
    EXPECT_EQ("4 archived, 0 already archived, 0 deleted on the device, 0 failed, of 4 documents in Inbox\n", first.out);
    EXPECT_EQ(names, Files(out.path()));
    for (const std::string& name : names)
        EXPECT_EQ(ReadAll(Sample(name.substr(15, 8))), ReadAll(out / name)) << name;
    const int fetches = device.Count("== GET /strage/");
    EXPECT_EQ(4, fetches);

    Outcome second = tool.Run(archive);
    EXPECT_EQ(0, second.status) << second.err;
    EXPECT_EQ("0 archived, 4 already archived, 0 deleted on the device, 0 failed, of 4 documents in Inbox\n", second.out);
    EXPECT_EQ(fetches, device.Count("== GET /strage/"));

    // With --delete, an archived file is checked again before its document goes: a damaged one
    // keeps its document on the device.
    WriteAll(out / names[1], ReadAll(out / names[1]).substr(0, 5000));
    std::vector<std::string> deleting = archive;
    deleting.insert(deleting.end(), {"--delete", "--json"});
    Outcome third = tool.Run(deleting);
    EXPECT_EQ(1, third.status);
    EXPECT_NE(std::string::npos, third.err.find("document 00001001 was not deleted on the device: its archived file"))
        << third.err;
    EXPECT_NE(std::string::npos, third.out.find("\"archived\":0,\"alreadyArchived\":4,\"deleted\":3,\"failed\":1"))
        << third.out;
    EXPECT_EQ(fetches, device.Count("== GET /strage/"));
    EXPECT_EQ((std::vector<std::string>{"00001001"}),
              Ids(tool.Run({"list", "Inbox", "--json", "--device", device.device(), "--user", "001"}).out));
    // The damaged file goes; the next run fetches the document again and then deletes it.
    fs::remove(out / names[1]);
    Outcome fourth = tool.Run(deleting);
    EXPECT_EQ(0, fourth.status) << fourth.err;
    EXPECT_EQ(fetches + 1, device.Count("== GET /strage/"));
    EXPECT_EQ(ReadAll(Sample("00001001")), ReadAll(out / names[1]));
    EXPECT_TRUE(Ids(tool.Run({"list", "Inbox", "--json", "--device", device.device(), "--user", "001"}).out).empty());
    // Every deletion came after its document's fetch.
    const std::string requests = device.Requests();
    EXPECT_LT(requests.rfind("== GET /strage/00001001.tif"), requests.find("<DOCUMENTID>00001001</DOCUMENTID>"));
}

TEST(QrvboxFlow, PasswordsAndADeviceThatIsGone)
{
    Simulator device({});
    Tool tool;
    const std::vector<std::string> bob = {"folders", "--device", device.device(), "--user", "002"};
    Outcome wrong = tool.Run(bob);
    EXPECT_EQ(1, wrong.status);
    EXPECT_NE(std::string::npos, wrong.err.find("Authentication failed.(Error Code:807)")) << wrong.err;
    EXPECT_EQ(1, tool.Run(bob, {"QRVBOX_PASSWORD=wrong"}).status);
    EXPECT_EQ("ID        NAME\n00000200  Fax\n", tool.Run(bob, {"QRVBOX_PASSWORD=secret"}).out);
    // The password file must be readable only by its owner.
    TempDir secrets;
    const std::string file = secrets / "password";
    WriteAll(file, "secret\n");
    chmod(file.c_str(), 0644);
    std::vector<std::string> fromFile = bob;
    fromFile.insert(fromFile.end(), {"--password-file", file});
    Outcome open = tool.Run(fromFile, {"QRVBOX_PASSWORD=secret"});
    EXPECT_EQ(1, open.status);
    EXPECT_NE(std::string::npos, open.err.find("its group or others may access it")) << open.err;
    chmod(file.c_str(), 0600);
    EXPECT_EQ(0, tool.Run(fromFile).status);
    // The password travels only in its element of the request body.
    EXPECT_EQ(device.Count("<PASSWORD>secret</PASSWORD>"), device.Count("secret"));
    EXPECT_GT(device.Count("<PASSWORD>secret</PASSWORD>"), 0);

    // A device that is gone: refused at once; one that goes in the middle of an archive run
    // stops the run and what was archived stays whole.
    device.Stop();
    Outcome gone = tool.Run({"list", "Inbox", "--device", device.device(), "--user", "001"});
    EXPECT_EQ(1, gone.status);
    EXPECT_NE(std::string::npos, gone.err.find("cannot connect to the device")) << gone.err;
    Simulator leaving({"--refuse-after", "4"});  // users, folders, listing, the first file
    TempDir out;
    Outcome stopped = tool.Run({"archive", "Inbox", "--out", out.path(), "--delete", "--device", leaving.device(),
                                "--user", "001"});
    EXPECT_EQ(1, stopped.status);
    EXPECT_NE(std::string::npos, stopped.err.find("stopped: the device cannot be reached")) << stopped.err;
    EXPECT_EQ((std::vector<std::string>{"20240501091500_00001000.tif"}), Files(out.path()));
    EXPECT_EQ(0, leaving.Count("<COMMAND>DELETE</COMMAND>"));
}

TEST(QrvboxFlow, HostileAnswersAreRefusedOrBoundedAsTheSourceDoes)
{
    Tool tool;
    auto list = [&](std::vector<std::string> faults) {
        Simulator device(faults);
        return tool.Run({"list", "Inbox", "--json", "--device", device.device(), "--user", "001"});
    };
    for (std::vector<std::string> faults : {std::vector<std::string>{"--malformed"}, {"--deep", "40"},
                                            {"--drop-commands"}}) {
        Outcome refused = list(faults);
        EXPECT_EQ(1, refused.status) << faults[0];
        EXPECT_TRUE(refused.out.empty()) << faults[0];
    }
    Outcome code = list({"--code", "810"});
    EXPECT_EQ(1, code.status);
    EXPECT_NE(std::string::npos, code.err.find("Unable to initialize. (Error Code:810)")) << code.err;
    // Without a CODE, or padded past the 16 MiB bound, the records that came still count.
    EXPECT_EQ(4u, Ids(list({"--no-code"}).out).size());
    EXPECT_EQ(4u, Ids(list({"--oversized", "17000000"}).out).size());
    // More records than the table holds: the first 10005, and a word about the rest.
    Outcome many = list({"--extra-documents", "10100"});
    EXPECT_EQ(0, many.status);
    EXPECT_EQ(DocumentCapacity, Ids(many.out).size());
    EXPECT_NE(std::string::npos, many.err.find("more than 10005 records")) << many.err;

    // A document file in another coding, or lying about its pages, or with a device path that
    // reaches for another host: never archived, never deleted.
    TempDir storage;
    const std::string file = Sample("00001000");
    const std::string root = StorageWith(
        storage, Document("00000001", "two pages?", "2024/01/01 10:00:00", 2, file) +
                     Document("00000002", "elsewhere", "2024/01/01 11:00:00", 1, file,
                              "imagepath=\"//other.host/x.tif\"") +
                     Document("00000003", std::string(70, 'S').c_str(), "2024/01/01 12:00:00", 1, file));
    Simulator hostile({}, root);
    TempDir out;
    Outcome archived = tool.Run({"archive", "Inbox", "--out", out.path(), "--delete", "--json", "--device",
                                 hostile.device(), "--user", "001"});
    EXPECT_EQ(1, archived.status);
    EXPECT_NE(std::string::npos, archived.err.find("it holds 1 pages, the device lists 2")) << archived.err;
    EXPECT_NE(std::string::npos, archived.err.find("no path on the device")) << archived.err;
    EXPECT_EQ((std::vector<std::string>{"20240101120000_00000003.tif"}), Files(out.path()));
    EXPECT_NE(std::string::npos, archived.out.find("\"subject\":\"" + std::string(40, 'S') + "\"")) << archived.out;
    EXPECT_EQ(1, hostile.Count("<COMMAND>DELETE</COMMAND>"));
    EXPECT_EQ(0, hostile.Count("other.host"));
    Simulator coded({"--file-encoding", "gzip"});
    Outcome gzip = tool.Run({"archive", "Inbox", "--out", out.path(), "--delete", "--device", coded.device(),
                             "--user", "001"});
    EXPECT_EQ(1, gzip.status);
    EXPECT_EQ(0, coded.Count("<COMMAND>DELETE</COMMAND>"));
}

TEST(QrvboxFlow, AnInterruptedRunLosesNothingAndLeavesNothingHalfWritten)
{
    // Files come a kilobyte every 20 ms: the runs are stopped in the middle of a file.
    Simulator device({"--file-pace-ms", "20"});
    Tool tool;
    TempDir out;
    const std::vector<std::string> archive = {"archive", "Inbox", "--out", out.path(), "--delete", "--device",
                                              device.device(), "--user", "001"};
    auto waitForPartial = [&] {
        for (int waited = 0; waited < 20000; waited += 10) {
            for (const std::string& name : Files(out / ".qrvbox-partial"))
                if (name.find(".part") != std::string::npos && fs::file_size(out / (".qrvbox-partial/" + name)) > 2000)
                    return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    };
    // Whatever the moment of the stop: every file in place is a whole document, and only
    // documents in place were deleted on the device.
    auto expectNothingLost = [&](const char* when) {
        std::vector<std::string> archived;
        for (const std::string& name : Files(out.path())) {
            if (name[0] == '.') continue;
            archived.push_back(name.substr(15, 8));
            EXPECT_EQ(ReadAll(Sample(archived.back())), ReadAll(out / name)) << when << ": " << name;
        }
        const std::string requests = device.Requests();
        for (const char* id : {"00001000", "00001001", "00001002", "00001003"}) {
            const bool deleted = requests.find(std::string("<DOCUMENTID>") + id + "</DOCUMENTID>") != std::string::npos;
            const bool kept = std::find(archived.begin(), archived.end(), id) != archived.end();
            EXPECT_TRUE(!deleted || kept) << when << ": " << id << " was deleted without its file";
        }
        return archived.size();
    };
    // Ctrl+C: the run ends at once, says so, and leaves neither part files nor its lock.
    pid_t run = tool.Start(archive);
    ASSERT_TRUE(waitForPartial());
    kill(run, SIGINT);
    Outcome interrupted = tool.Wait(run);
    EXPECT_EQ(1, interrupted.status);
    EXPECT_NE(std::string::npos, interrupted.err.find("interrupted")) << interrupted.err;
    EXPECT_LT(expectNothingLost("after Ctrl+C"), 4u);
    for (const std::string& name : Files(out.path())) EXPECT_NE('.', name[0]) << name;
    // Killed outright: its part file stays in the work folder, and its lock file (which locks
    // nothing once the process is gone).
    run = tool.Start(archive);
    ASSERT_TRUE(waitForPartial());
    kill(run, SIGKILL);
    tool.Wait(run);
    EXPECT_LT(expectNothingLost("after a kill"), 4u);
    std::vector<std::string> hidden;
    for (const std::string& name : Files(out.path()))
        if (name[0] == '.') hidden.push_back(name);
    EXPECT_EQ((std::vector<std::string>{".qrvbox-partial", ".qrvbox.lock"}), hidden);
    // The next run finishes the job and clears what was left.
    Outcome finished = tool.Run(archive);
    EXPECT_EQ(0, finished.status) << finished.err;
    EXPECT_EQ(4u, expectNothingLost("after the last run"));
    EXPECT_EQ(4u, Files(out.path()).size());
    EXPECT_EQ(4, device.Count("<COMMAND>DELETE</COMMAND>"));
}

TEST(QrvboxFlow, DeleteAsksOrIsToldYes)
{
    Simulator device({});
    Tool tool;
    const std::vector<std::string> alice = {"--device", device.device(), "--user", "001", "delete", "Inbox"};
    auto with = [&](std::vector<std::string> extra) {
        std::vector<std::string> arguments = alice;
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return tool.Run(arguments);
    };
    // No terminal to ask on: nothing is sent without --yes.
    Outcome unasked = with({"1000"});
    EXPECT_EQ(2, unasked.status);
    EXPECT_NE(std::string::npos, unasked.err.find("give --yes")) << unasked.err;
    EXPECT_EQ(0, device.Count("== POST"));
    // An id the folder does not hold deletes nothing, not even the ids that are there.
    EXPECT_EQ(1, with({"1000", "1005", "--yes"}).status);
    EXPECT_EQ(0, device.Count("<COMMAND>DELETE</COMMAND>"));
    Outcome deleted = with({"1000", "00001002", "--yes", "--json"});
    EXPECT_EQ(0, deleted.status) << deleted.err;
    EXPECT_EQ("[{\"id\":\"00001000\",\"deleted\":true},{\"id\":\"00001002\",\"deleted\":true}]\n", deleted.out);
    EXPECT_EQ((std::vector<std::string>{"00001003", "00001001"}),
              Ids(tool.Run({"list", "Inbox", "--json", "--device", device.device(), "--user", "001"}).out));
}
