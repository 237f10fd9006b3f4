#include "tools/device_simulator/device_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

#include <pugixml.hpp>
#include <zlib.h>

namespace {

constexpr size_t MaxHeaderBytes = 64 * 1024;
constexpr size_t MaxBodyBytes = 1 << 20;

struct Request {
    std::string method;
    std::string path;
    std::string version;
    bool hostValid = false;
    std::string body;
};

struct Server {
    Storage& storage;
    const ServerSettings& settings;
    std::atomic<int> listener{-1};
    std::atomic<int> requests{0};
    std::mutex recordLock;
};

void Sleep(int milliseconds)
{
    if (milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool SendAll(int socket, const std::string& data)
{
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t count = send(socket, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (count <= 0)
            return false;
        sent += static_cast<size_t>(count);
    }
    return true;
}

void AppendEscaped(std::string& out, const std::string& text)
{
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
}

// Answers are appended to one buffer: ten thousand records are built without a temporary each.
struct Xml {
    std::string text;
    Xml& Open(const char* name)
    {
        text += '<';
        text += name;
        text += '>';
        return *this;
    }
    Xml& Close(const char* name)
    {
        text += "</";
        text += name;
        text += '>';
        return *this;
    }
    Xml& Leaf(const char* name, const std::string& value)
    {
        Open(name);
        AppendEscaped(text, value);
        return Close(name);
    }
    Xml& Leaf(const char* name, long number) { return Leaf(name, std::to_string(number)); }
};

std::string Header(int status, const char* reason, const char* type, size_t length)
{
    char header[256];
    snprintf(header, sizeof header,
             "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %zu\r\nConnection: close\r\n\r\n", status,
             reason, type, length);
    return header;
}

void SendStatus(int socket, int status, const char* reason)
{
    std::string body = std::string(reason) + "\n";
    SendAll(socket, Header(status, reason, "text/plain", body.size()) + body);
}

// A Host field as HTTP/1.1 has it: a name or dotted address, or an IPv6 address in brackets,
// then an optional port. A bare IPv6 address is ambiguous and refused.
bool ValidHost(const std::string& host)
{
    std::string name = host, port;
    if (!host.empty() && host[0] == '[') {
        size_t close = host.find(']');
        if (close == std::string::npos)
            return false;
        name = host.substr(1, close - 1);
        if (close + 1 < host.size()) {
            if (host[close + 1] != ':')
                return false;
            port = host.substr(close + 2);
        }
        if (name.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos || name.empty())
            return false;
    } else {
        size_t colon = host.find(':');
        if (colon != std::string::npos) {
            name = host.substr(0, colon);
            port = host.substr(colon + 1);
        }
        if (name.empty() || name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-_") !=
                                std::string::npos)
            return false;
    }
    return port.find_first_not_of("0123456789") == std::string::npos && port.size() <= 5;
}

std::string FieldValue(const std::string& field, size_t nameLength)
{
    size_t start = field.find_first_not_of(" \t", nameLength);
    size_t end = field.find_last_not_of(" \t");
    return start == std::string::npos ? std::string() : field.substr(start, end - start + 1);
}

// Reads one request; false when the peer sent nothing usable.
bool ReadRequest(int socket, Request& request)
{
    std::string data;
    char buffer[8192];
    size_t headerEnd;
    while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
        if (data.size() > MaxHeaderBytes)
            return false;
        ssize_t count = recv(socket, buffer, sizeof buffer, 0);
        if (count <= 0)
            return false;
        data.append(buffer, static_cast<size_t>(count));
    }
    std::string head = data.substr(0, headerEnd);
    size_t lineEnd = head.find("\r\n");
    std::string line = head.substr(0, lineEnd);
    size_t first = line.find(' '), second = line.find(' ', first + 1);
    if (first == std::string::npos || second == std::string::npos)
        return false;
    request.method = line.substr(0, first);
    request.path = line.substr(first + 1, second - first - 1);
    request.version = line.substr(second + 1);
    // HTTP/1.0 may leave the host out; HTTP/1.1 must name it.
    request.hostValid = request.version == "HTTP/1.0";
    size_t length = 0;
    for (size_t at = lineEnd; at != std::string::npos && at < head.size();) {
        size_t next = head.find("\r\n", at + 2);
        std::string field = head.substr(at + 2, next == std::string::npos ? std::string::npos : next - at - 2);
        if (strncasecmp(field.c_str(), "Content-Length:", 15) == 0)
            length = strtoul(field.c_str() + 15, nullptr, 10);
        if (strncasecmp(field.c_str(), "Host:", 5) == 0)
            request.hostValid = ValidHost(FieldValue(field, 5));
        at = next;
    }
    if (length > MaxBodyBytes)
        return false;
    request.body = data.substr(headerEnd + 4);
    while (request.body.size() < length) {
        ssize_t count = recv(socket, buffer, sizeof buffer, 0);
        if (count <= 0)
            return false;
        request.body.append(buffer, static_cast<size_t>(count));
    }
    request.body.resize(length);
    return true;
}

void Record(Server& server, const Request& request)
{
    if (server.settings.recordFile.empty())
        return;
    std::lock_guard<std::mutex> guard(server.recordLock);
    std::ofstream out(server.settings.recordFile, std::ios::app | std::ios::binary);
    out << "== " << request.method << " " << request.path << "\n" << request.body << "\n";
}

// --- Commands ---------------------------------------------------------------------------

struct CommandAnswer {
    std::string root = "JOB";
    int code = 600;
    std::vector<std::string> records;
};

std::string FolderRecord(const SimFolder& folder)
{
    Xml xml;
    xml.Open("STRAGE").Leaf("DOCTYPE", "FOLDER").Leaf("FOLDERID", HexId(folder.id)).Leaf("FOLDERNAME", folder.name);
    xml.Leaf("OWNER", folder.owner).Close("STRAGE");
    return xml.text;
}

std::string SubfolderRecord(const SimFolder& folder)
{
    Xml xml;
    xml.Open("STRAGE").Leaf("DOCUMENTID", HexId(folder.id)).Leaf("FOLDERID", HexId(folder.id));
    xml.Leaf("FOLDERNAME", folder.name).Leaf("TIMESTAMP", folder.timestamp).Leaf("OWNER", folder.owner);
    xml.Leaf("PAGES", 0L).Leaf("DOCTYPE", "FOLDER").Close("STRAGE");
    return xml.text;
}

std::string DocumentRecord(const Storage& storage, const SimDocument& document)
{
    const SimFolder& folder = storage.folders[static_cast<size_t>(document.folder)];
    Xml xml;
    xml.text.reserve(400);
    xml.Open("STRAGE").Leaf("DOCUMENTID", HexId(document.id)).Leaf("FOLDERID", HexId(folder.id));
    xml.Leaf("FOLDERNAME", folder.name).Leaf("TIMESTAMP", document.timestamp).Leaf("OWNER", document.owner);
    xml.Leaf("PAGES", document.pages).Leaf("DOCTYPE", document.doctype).Leaf("STATUS", document.status);
    xml.Leaf("IMAGEPATH", document.imagePath).Leaf("SUBJECT", document.subject).Close("STRAGE");
    return xml.text;
}

std::string Text(pugi::xml_node node, const char* name)
{
    return node.child(name).child_value();
}

// The user a request names, when its password matches; null otherwise.
const SimUser* Authenticate(const Storage& storage, pugi::xml_node params)
{
    pugi::xml_node owner = params.child("OWNER");
    if (!owner)
        return nullptr;
    const SimUser* user = storage.UserByHandle(atoi(owner.child_value()));
    if (!user || Text(params, "PASSWORD") != user->password)
        return nullptr;
    return user;
}

bool OwnedBy(const Storage& storage, int folder, const SimUser& user)
{
    return folder >= 0 && storage.folders[static_cast<size_t>(folder)].owner == user.handle;
}

void ListUsers(Storage& storage, CommandAnswer& answer)
{
    answer.root = "SERVER";
    if (storage.users.empty()) {
        answer.code = 811;
        return;
    }
    for (const SimUser& user : storage.users) {
        Xml xml;
        xml.Open("USER").Leaf("USERHANDLE", user.handle).Leaf("USERID", user.id).Leaf("USERNAME", user.name);
        answer.records.push_back(xml.Close("USER").text);
    }
}

void List(Storage& storage, pugi::xml_node params, CommandAnswer& answer)
{
    const SimUser* user = Authenticate(storage, params);
    if (!user) {
        answer.code = 807;
        return;
    }
    pugi::xml_node folderId = params.child("FOLDERID");
    if (folderId) {
        int folder = storage.FolderById(static_cast<uint32_t>(strtoul(folderId.child_value(), nullptr, 16)));
        if (!OwnedBy(storage, folder, *user)) {
            answer.code = 808;
            return;
        }
        const SimFolder& listed = storage.folders[static_cast<size_t>(folder)];
        for (int sub : listed.folders)
            answer.records.push_back(SubfolderRecord(storage.folders[static_cast<size_t>(sub)]));
        for (int index : listed.documents) {
            const SimDocument& document = storage.documents[static_cast<size_t>(index)];
            if (!document.deleted)
                answer.records.push_back(DocumentRecord(storage, document));
        }
        return;
    }
    if (Text(params, "DOCTYPE") != "FOLDER") {
        answer.code = 800;
        return;
    }
    for (int folder : user->folders)
        answer.records.push_back(FolderRecord(storage.folders[static_cast<size_t>(folder)]));
}

void Delete(Storage& storage, pugi::xml_node params, CommandAnswer& answer)
{
    const SimUser* user = Authenticate(storage, params);
    if (!user) {
        answer.code = 807;
        return;
    }
    int index = storage.DocumentById(static_cast<uint32_t>(strtoul(Text(params, "DOCUMENTID").c_str(), nullptr, 16)));
    if (index < 0) {
        answer.code = 804;  // never existed
        return;
    }
    SimDocument& document = storage.documents[static_cast<size_t>(index)];
    if (document.deleted || !OwnedBy(storage, document.folder, *user)) {
        answer.code = 809;
        return;
    }
    document.deleted = true;
}

CommandAnswer RunCommand(Storage& storage, const std::string& body)
{
    CommandAnswer answer;
    pugi::xml_document request;
    if (!request.load_buffer(body.data(), body.size())) {
        answer.code = 800;
        return answer;
    }
    pugi::xml_node root = request.document_element();
    std::string command = Text(root, "COMMAND");
    pugi::xml_node params = root.child("PARAM").child("STRAGE");
    std::lock_guard<std::mutex> guard(storage.lock);
    if (std::string(root.name()) == "SERVER" && command == "GETUSERID")
        ListUsers(storage, answer);
    else if (command == "LIST" && Text(root, "TYPE") == "STRAGE")
        List(storage, params, answer);
    else if (command == "DELETE" && Text(root, "TYPE") == "STRAGE")
        Delete(storage, params, answer);
    else
        answer.code = 800;
    return answer;
}

std::string AnswerText(const CommandAnswer& answer, const Faults& faults)
{
    Xml records;
    size_t before = faults.forceCode ? std::min<size_t>(static_cast<size_t>(faults.codeAfter), answer.records.size()) : 0;
    for (size_t i = 0; i < before; ++i)
        records.text += answer.records[i];
    if (!faults.noCode)
        records.Leaf("CODE", faults.forceCode ? faults.code : answer.code);
    // A forced code stands alone unless records were asked for ahead of it; then the rest
    // follows, to show that nothing after the code is read.
    if (!faults.forceCode || before > 0)
        for (size_t i = before; i < answer.records.size(); ++i)
            records.text += answer.records[i];
    // Built in one pass: a million levels make an answer of 15 MB.
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + answer.root + ">";
    size_t deep = faults.deep > 0 ? static_cast<size_t>(faults.deep) : 0;
    text.reserve(text.size() + deep * 15 + records.text.size() + answer.root.size() + 4);
    for (size_t i = 0; i < deep; ++i)
        text += "<PARAM>";
    text += records.text;
    for (size_t i = 0; i < deep; ++i)
        text += "</PARAM>";
    if (faults.oversized > 0 && text.size() < static_cast<size_t>(faults.oversized))
        text.append(static_cast<size_t>(faults.oversized) - text.size(), ' ');
    text += "</" + answer.root + ">\n";
    if (faults.malformed)
        text.resize(text.size() / 2);
    return text;
}

// --- Files and the probe ------------------------------------------------------------------

// The whole file as one gzip member.
std::string Gzip(const std::string& data)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    std::string out(deflateBound(&stream, data.size()) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// Sends the body piece by piece at the pace asked for; false when the peer went away.
bool SendPaced(int socket, const std::string& data, const Faults& faults)
{
    if (faults.filePaceMs <= 0)
        return SendAll(socket, data);
    size_t piece = static_cast<size_t>(std::max(1, faults.filePiece));
    for (size_t at = 0; at < data.size(); at += piece) {
        if (at > 0)
            Sleep(faults.filePaceMs);
        if (!SendAll(socket, data.substr(at, piece)))
            return false;
    }
    return true;
}

// Chunked coding, 8000 bytes a chunk; cut: the connection ends after the chunks that make up
// the first half, before the last (zero-length) chunk.
void SendChunked(int socket, const std::string& data, const std::string& head, bool cut)
{
    constexpr size_t Chunk = 8000;
    std::string out = head;
    size_t end = cut ? data.size() / 2 : data.size();
    for (size_t at = 0; at + (cut ? Chunk : 1) <= end; at += Chunk) {
        size_t size = std::min(Chunk, data.size() - at);
        char line[32];
        snprintf(line, sizeof line, "%zx\r\n", size);
        out += line + data.substr(at, size) + "\r\n";
    }
    if (!cut)
        out += "0\r\n\r\n";
    SendAll(socket, out);
}

void ServeFile(Server& server, int socket, const std::string& path)
{
    const Faults& faults = server.settings.faults;
    std::string file;
    {
        std::lock_guard<std::mutex> guard(server.storage.lock);
        int index = server.storage.DocumentByImagePath(path);
        if (index >= 0)
            file = server.storage.documents[static_cast<size_t>(index)].file;
    }
    Sleep(faults.fileDelayMs);
    if (faults.dropFiles)
        return;
    std::ifstream in(file, std::ios::binary);
    if (file.empty() || !in) {
        SendStatus(socket, faults.notFoundStatus, "Not Found");
        return;
    }
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string encoding;
    if (faults.fileEncoding == "gzip") {
        data = Gzip(data);
        encoding = "Content-Encoding: gzip\r\n";
    }
    if (faults.chunkedFiles) {
        SendChunked(socket, data,
                    "HTTP/1.1 200 OK\r\nContent-Type: image/tiff\r\nTransfer-Encoding: chunked\r\n" + encoding +
                        "Connection: close\r\n\r\n",
                    faults.cutFiles);
        return;
    }
    std::string header = Header(200, "OK", "image/tiff", data.size());
    header.insert(header.size() - 2, encoding);
    if (faults.cutFiles) {
        SendAll(socket, header + data.substr(0, data.size() / 2));
        return;
    }
    if (SendAll(socket, header))
        SendPaced(socket, data, faults);
}

void ServeProbe(Server& server, int socket)
{
    const std::string& fault = server.settings.faults.probeFault;
    if (fault == "silent") {
        // Holds the connection open and says nothing, as a stuck device would.
        Sleep(server.settings.lifetimeSeconds > 0 ? server.settings.lifetimeSeconds * 1000 : 600000);
        return;
    }
    if (fault == "garbage") {
        static const char Noise[] = "\x16\x03\x01 not a web server \xff\xfe<DEVICEINFO><NAME>";
        SendAll(socket, std::string(Noise, sizeof Noise - 1));
        return;
    }
    Xml xml;
    xml.text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml.Open("DEVICEINFO").Leaf("NAME", server.storage.name).Leaf("TYPE", server.storage.type).Close("DEVICEINFO");
    std::string body = xml.text + "\n";
    SendAll(socket, Header(200, "OK", "text/xml; charset=utf-8", body.size()) + body);
}

void ServeCommand(Server& server, int socket, const Request& request)
{
    const Faults& faults = server.settings.faults;
    // A device that has stopped taking deletions: the connection closes, nothing is deleted.
    if (faults.dropDeletes && request.body.find("<COMMAND>DELETE</COMMAND>") != std::string::npos)
        return;
    CommandAnswer answer = RunCommand(server.storage, request.body);
    Sleep(faults.delayMs);
    if (faults.dropCommands)
        return;
    std::string body = AnswerText(answer, faults);
    SendAll(socket, Header(200, "OK", "text/xml; charset=utf-8", body.size()) + body);
}

void StopListening(Server& server)
{
    int listener = server.listener.exchange(-1);
    if (listener >= 0) {
        shutdown(listener, SHUT_RDWR);
        close(listener);
    }
}

void Serve(Server& server, int socket)
{
    Request request;
    if (ReadRequest(socket, request)) {
        Record(server, request);
        if (!request.hostValid) {
            SendStatus(socket, 400, "Bad Request");
            shutdown(socket, SHUT_RDWR);
            close(socket);
            return;
        }
        // The listener closes before this answer goes out, so that whoever comes next is refused.
        int handled = ++server.requests;
        if (server.settings.faults.refuseAfter >= 0 && handled >= server.settings.faults.refuseAfter)
            StopListening(server);
        if (request.method == "POST" && request.path == "/upcmd.cgi")
            ServeCommand(server, socket, request);
        else if (request.method == "GET" && request.path == "/devinfo.cgi")
            ServeProbe(server, socket);
        else if (request.method == "GET")
            ServeFile(server, socket, request.path);
        else
            SendStatus(socket, 405, "Method Not Allowed");
    }
    // A dropped answer is a connection closed without a word.
    shutdown(socket, SHUT_RDWR);
    close(socket);
}

bool WritePortFile(const std::string& path, int port)
{
    std::string temporary = path + ".tmp";
    FILE* file = fopen(temporary.c_str(), "w");
    if (!file)
        return false;
    fprintf(file, "%d\n", port);
    fclose(file);
    return rename(temporary.c_str(), path.c_str()) == 0;
}

// Ends the process when the port file goes away or the lifetime is over.
void Watch(const ServerSettings& settings)
{
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        Sleep(100);
        if (!settings.portFile.empty() && access(settings.portFile.c_str(), F_OK) != 0)
            _exit(0);
        if (settings.lifetimeSeconds > 0 &&
            std::chrono::steady_clock::now() - start > std::chrono::seconds(settings.lifetimeSeconds))
            _exit(0);
    }
}

// Fills the listener's accept queue and never takes anything from it: later connection
// attempts get no answer at all, as from a host that is gone.
[[noreturn]] void StallConnections(int listener, const sockaddr_in& address)
{
    listen(listener, 0);
    for (int i = 0; i < 4; ++i) {
        int filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        connect(filler, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    for (;;)
        Sleep(1000);
}

}  // namespace

bool IsLoopbackAddress(const std::string& text)
{
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1)
        return false;
    return (ntohl(address.s_addr) >> 24) == 127;
}

int RunServer(Storage& storage, const ServerSettings& settings)
{
    Server server{storage, settings, {}, {}, {}};
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    int yes = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    if (!IsLoopbackAddress(settings.host) || inet_pton(AF_INET, settings.host.c_str(), &address.sin_addr) != 1) {
        fprintf(stderr, "device simulator: %s is not an address in 127.0.0.0/8\n", settings.host.c_str());
        return 2;
    }
    address.sin_port = htons(static_cast<uint16_t>(settings.port));
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 64) != 0) {
        perror("device simulator: cannot listen");
        return 1;
    }
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    server.listener = listener;
    int port = ntohs(address.sin_port);
    if (!settings.portFile.empty() && !WritePortFile(settings.portFile, port)) {
        perror("device simulator: cannot write the port file");
        return 1;
    }
    printf("device simulator listening on %s:%d\n", settings.host.c_str(), port);
    fflush(stdout);
    std::thread(Watch, std::cref(settings)).detach();
    if (settings.faults.noAccept)
        StallConnections(listener, address);

    for (;;) {
        listener = server.listener;
        if (listener < 0) {
            Sleep(100);  // refusing connections; the watcher ends the process
            continue;
        }
        int connection = accept(listener, nullptr, nullptr);
        if (connection < 0)
            continue;
        std::thread(Serve, std::ref(server), connection).detach();
    }
}
