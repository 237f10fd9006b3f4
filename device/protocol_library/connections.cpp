// Connections: where requests go, the wait window shown while they run, their time-outs and
// the outcome of the last one.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "device/protocol_library/ansi_text.h"
#include "device/protocol_library/http_job.h"
#include "device/protocol_library/library_state.h"
#include "device/protocol_library/wait_window.h"

namespace {

constexpr size_t ConnectionSlots = 64;
constexpr size_t MaxAddressLength = 255;
constexpr size_t MaxWindowText = 259;
constexpr uint64_t DefaultFileLimit = 256u << 20;

struct ConnectionSlot {
    std::unique_ptr<Connection> connection;
    DWORD serial = 0;
};
ConnectionSlot Connections[ConnectionSlots];
DWORD NextSerial = 1;

std::string Bounded(const char* text)
{
    std::string copy = text ? text : "";
    if (copy.size() > MaxWindowText)
        copy.resize(MaxWindowText);
    return copy;
}

// A host name, a dotted address or a bracketed IPv6 address: nothing that could carry a
// scheme, a port, a path or a user part into the URL.
bool IsPlainHost(const std::string& address)
{
    if (address.empty() || address.size() > MaxAddressLength)
        return false;
    if (address.front() == '[') {
        if (address.size() < 3 || address.back() != ']')
            return false;
        for (size_t i = 1; i + 1 < address.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(address[i]);
            if (!std::isxdigit(c) && c != ':' && c != '.')
                return false;
        }
        return true;
    }
    for (unsigned char c : address)
        if (!std::isalnum(c) && c != '.' && c != '-' && c != '_')
            return false;
    return true;
}

// A path on the device's own host: no scheme, no host, nothing but printable ASCII.
bool IsDevicePath(const char* path)
{
    if (!path || path[0] != '/' || path[1] == '/')
        return false;
    for (const char* c = path; *c; ++c)
        if (*c < '!' || *c > '~' || *c == '\\' || *c == '#')
            return false;
    return strlen(path) <= 2048;
}

// Blanks around a stored address are not part of it.
std::string TrimBlanks(const char* text)
{
    std::string address = text ? text : "";
    size_t start = address.find_first_not_of(" \t");
    if (start == std::string::npos)
        return {};
    return address.substr(start, address.find_last_not_of(" \t") - start + 1);
}

// The caller gave up on a download: the worker holds the file open only while it writes a
// block, so the file goes now, not when the worker ends; its folder can then be removed.
void DeleteAbandonedFile(const char* path)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (DeleteFileA(path) || GetLastError() == ERROR_FILE_NOT_FOUND)
            return;
        Sleep(20);
    }
}

// A fresh temporary file in the folder. Its name is never one that an earlier, abandoned
// request's worker may still write to or delete: the numbers only go up while the module is
// loaded, and such a worker keeps it loaded.
LONG TemporaryNumber = 0;

DWORD CreateTemporaryFile(const std::string& folder, char (&path)[MAX_PATH])
{
    if (TemporaryNumber == 0)
        InterlockedCompareExchange(&TemporaryNumber, static_cast<LONG>(GetTickCount() & 0x0FFFFFFF), 0);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        auto number = static_cast<unsigned long>(InterlockedIncrement(&TemporaryNumber));
        int length = snprintf(path, MAX_PATH, "%sqdl%08lX.tmp", folder.c_str(), number);
        if (length < 0 || length >= MAX_PATH)
            return ERROR_FILENAME_EXCED_RANGE;
        HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            return 0;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            return GetLastError();
    }
    return ERROR_FILE_EXISTS;
}

bool ValidPort(int port) { return port > 0 && port <= 65535; }

DWORD Fail(Connection* connection, DWORD error)
{
    connection->lastError = error;
    return 0;
}

struct JobRun {
    WaitOutcome outcome;
    HttpJob* job;  // still referenced by the caller when the outcome is Finished
};

// Starts the job and waits for it. Returns the outcome; on Finished the caller owns the job
// and must release it.
DWORD RunJob(Connection* connection, HttpJob* job, JobRun& run)
{
    job->host = connection->address;
    if (job->host.front() == '[')
        job->host = job->host.substr(1, job->host.size() - 2);
    job->timeouts = connection->timeouts;
    DWORD error = StartHttpJob(job);
    if (error)
        return error;
    run.job = job;
    run.outcome = WaitForJob(*job, connection->wait);
    if (run.outcome != WaitOutcome::Finished && !AbandonHttpJob(job))
        run.outcome = WaitOutcome::Finished;  // it finished at that very moment: the result stands
    if (run.outcome != WaitOutcome::Finished) {
        ReleaseHttpJob(job);
        run.job = nullptr;
        return run.outcome == WaitOutcome::Cancelled ? ErrorCancelled : ErrorTimedOut;
    }
    return 0;
}

std::string FolderOf(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos)
        return ".\\";
    return path.substr(0, slash + 1);
}

}  // namespace

Connection* ConnectionOf(ProtocolHandle handle)
{
    size_t slot = (handle & 0xFF) - 1;
    if ((handle & 0xFF) == 0 || slot >= ConnectionSlots)
        return nullptr;
    ConnectionSlot& entry = Connections[slot];
    if (!entry.connection || entry.serial != (handle >> 8))
        return nullptr;
    return entry.connection.get();
}

extern "C" {

ProtocolHandle WINAPI ConnOpen(const char* address)
{
    for (size_t slot = 0; slot < ConnectionSlots; ++slot) {
        ConnectionSlot& entry = Connections[slot];
        if (entry.connection)
            continue;
        entry.connection = std::make_unique<Connection>();
        entry.connection->address = TrimBlanks(address);
        entry.serial = NextSerial;
        NextSerial = NextSerial % 0xFFFFFF + 1;
        return static_cast<ProtocolHandle>(entry.serial << 8 | (slot + 1));
    }
    return 0;
}

void WINAPI ConnClose(ProtocolHandle handle)
{
    if (ConnectionOf(handle))
        Connections[(handle & 0xFF) - 1].connection.reset();
}

DWORD WINAPI ConnGetLastError(ProtocolHandle handle)
{
    Connection* connection = ConnectionOf(handle);
    return connection ? connection->lastError : ERROR_INVALID_HANDLE;
}

int WINAPI ConnSetWaitWindow(ProtocolHandle handle, int delay, const char* caption, const char* text,
                             const char* buttonLabel)
{
    Connection* connection = ConnectionOf(handle);
    if (!connection || delay < 0)
        return 0;
    connection->wait.wanted = true;
    connection->wait.delay = static_cast<DWORD>(delay);
    connection->wait.caption = Bounded(caption);
    connection->wait.text = Bounded(text);
    connection->wait.button = Bounded(buttonLabel);
    return 1;
}

int WINAPI ConnSetTimeouts(ProtocolHandle handle, DWORD connect, DWORD send, DWORD receive, DWORD total)
{
    Connection* connection = ConnectionOf(handle);
    if (!connection)
        return 0;
    connection->timeouts = {connect, send, receive, total};
    return 1;
}

int WINAPI ConnSendMessage(ProtocolHandle handle, int port, const char* path, ProtocolHandle messageHandle)
{
    Connection* connection = ConnectionOf(handle);
    if (!connection)
        return 0;
    Message* message = MessageOf(messageHandle);
    if (!message || message->mode != MessageModeXmlRequest || !ValidPort(port))
        return Fail(connection, ERROR_INVALID_PARAMETER);
    message->answer.Clear();
    message->cursor = 0;
    if (!IsPlainHost(connection->address) || !IsDevicePath(path))
        return Fail(connection, ErrorRefusedAddress);

    auto* job = new (std::nothrow) HttpJob;
    if (!job)
        return Fail(connection, ERROR_NOT_ENOUGH_MEMORY);
    job->port = port;
    job->verb = "POST";
    job->path = path;
    job->body = message->request.Serialize(message->tags);
    // One byte past the parser's limit tells it that the answer went on.
    job->sizeLimit = MaxAnswerBytes + 1;
    JobRun run{};
    DWORD error = RunJob(connection, job, run);
    if (error)
        return Fail(connection, error);
    error = run.job->error;
    if (!error && ParseAnswer(run.job->answer, message->tags, message->answer) != AnswerStatus::Ok)
        error = ErrorBadAnswer;
    ReleaseHttpJob(run.job);
    connection->lastError = error;
    return error ? 0 : 1;
}

int WINAPI ConnDownloadFile(ProtocolHandle handle, int port, const char* devicePath, int flags, const char* localPath,
                            DWORD sizeLimit)
{
    Connection* connection = ConnectionOf(handle);
    if (!connection)
        return 0;
    if (flags != 0 || !ValidPort(port) || !localPath || !localPath[0])
        return Fail(connection, ERROR_INVALID_PARAMETER);
    if (!IsPlainHost(connection->address) || !IsDevicePath(devicePath))
        return Fail(connection, ErrorRefusedAddress);

    // The body goes to a fresh file beside the target and takes its name only when complete.
    char temporary[MAX_PATH];
    if (DWORD error = CreateTemporaryFile(FolderOf(localPath), temporary))
        return Fail(connection, error);
    auto* job = new (std::nothrow) HttpJob;
    if (!job) {
        DeleteFileA(temporary);
        return Fail(connection, ERROR_NOT_ENOUGH_MEMORY);
    }
    job->port = port;
    job->verb = "GET";
    job->path = devicePath;
    job->filePath = temporary;
    job->sizeLimit = sizeLimit ? sizeLimit : DefaultFileLimit;
    JobRun run{};
    DWORD error = RunJob(connection, job, run);
    if (error) {
        // Cancelled or timed out: the worker may still be receiving; it stops when it finds
        // the file gone, and deletes it again if it has to.
        if (error != ErrorCancelled && error != ErrorTimedOut)
            DeleteFileA(temporary);
        else
            DeleteAbandonedFile(temporary);
        return Fail(connection, error);
    }
    error = run.job->error;
    ReleaseHttpJob(run.job);
    if (!error && !MoveFileExA(temporary, localPath, MOVEFILE_REPLACE_EXISTING))
        error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
    if (error)
        DeleteFileA(temporary);
    connection->lastError = error;
    return error ? 0 : 1;
}

}  // extern "C"
