#include "device/protocol_library/http_job.h"

#include "device/protocol_library/tiff_extent.h"

#include <wininet.h>

#include <vector>

namespace {

constexpr DWORD ReadBlock = 64 * 1024;

void Touch(HttpJob* job) { InterlockedExchange(&job->activityTick, static_cast<LONG>(GetTickCount())); }

void EnterPhase(HttpJob* job, JobPhase phase)
{
    InterlockedExchange(&job->phaseTick, static_cast<LONG>(GetTickCount()));
    InterlockedExchange(&job->phase, phase);
    Touch(job);
}

bool Abandoned(HttpJob* job) { return job->state == JobAbandoned; }

// WinINet reports the exchange's steps here, on the worker's thread.
void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID, DWORD)
{
    HttpJob* job = reinterpret_cast<HttpJob*>(context);
    if (!job)
        return;
    switch (status) {
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
        EnterPhase(job, PhaseSending);
        break;
    case INTERNET_STATUS_REQUEST_SENT:
        EnterPhase(job, PhaseReceiving);
        break;
    case INTERNET_STATUS_RECEIVING_RESPONSE:
    case INTERNET_STATUS_RESPONSE_RECEIVED:
        Touch(job);
        break;
    }
}

struct InternetHandle {
    HINTERNET handle = nullptr;
    ~InternetHandle()
    {
        if (handle)
            InternetCloseHandle(handle);
    }
};

// WinINet's own time-outs, well behind the library's, so that an abandoned worker also ends in
// time without ever deciding a request's outcome. (Under some implementations only the request
// handle honours them.)
constexpr DWORD StackTimeoutMargin = 5000;

void SetStackTimeouts(HINTERNET handle, const Timeouts& timeouts)
{
    auto behind = [](DWORD limit) -> DWORD { return limit ? limit + StackTimeoutMargin : 0; };
    DWORD connect = behind(timeouts.connect);
    DWORD send = behind(timeouts.send);
    DWORD receive = behind(timeouts.receive ? timeouts.receive : timeouts.total);
    if (connect)
        InternetSetOptionA(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
    if (send)
        InternetSetOptionA(handle, INTERNET_OPTION_SEND_TIMEOUT, &send, sizeof send);
    if (receive)
        InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
}

DWORD StatusCode(HINTERNET request)
{
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        return 0;
    return status;
}

// The announced body length, or -1 when none was announced.
int64_t ContentLength(HINTERNET request)
{
    char text[32];
    DWORD size = sizeof text;
    if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr))
        return -1;
    int64_t length = 0;
    for (DWORD i = 0; i < size && text[i]; ++i) {
        if (text[i] < '0' || text[i] > '9' || length > (INT64_MAX - 9) / 10)
            return -1;
        length = length * 10 + (text[i] - '0');
    }
    return length;
}

// Only the identity coding is asked for; a body in any other coding is not what was asked.
bool IdentityEncoding(HINTERNET request)
{
    char text[64];
    DWORD size = sizeof text;
    if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_ENCODING, text, &size, nullptr))
        return GetLastError() == ERROR_HTTP_HEADER_NOT_FOUND;
    return lstrcmpiA(text, "identity") == 0;
}

// Appends to the file, opened only for the write: while the worker waits on the network the
// file is closed, so that a caller who gave up can delete it (and its folder) at once. A file
// that is gone was deleted by that caller, and the worker stops.
DWORD AppendToFile(const std::string& path, const char* data, DWORD count)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
    DWORD written = 0;
    DWORD error = 0;
    if (!WriteFile(file, data, count, &written, nullptr) || written != count)
        error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
    CloseHandle(file);
    return error;
}

// Waits for the next bytes and reads what has come, up to one block: every arrival, however
// small, counts as activity for the receive time-out. 0 bytes read = the end of the body.
DWORD ReadSome(HttpJob* job, HINTERNET request, char* block, DWORD& count)
{
    count = 0;
    DWORD available = 0;
    if (!InternetQueryDataAvailable(request, &available, 0, 0))
        return GetLastError();
    Touch(job);
    DWORD want = available == 0 ? 1 : (available < ReadBlock ? available : ReadBlock);
    if (!InternetReadFile(request, block, want, &count))
        return GetLastError();
    Touch(job);
    return 0;
}

DWORD ReadBody(HttpJob* job, HINTERNET request)
{
    bool toFile = !job->filePath.empty();
    if (!IdentityEncoding(request))
        return ErrorBadAnswer;
    int64_t announced = ContentLength(request);
    if (toFile && announced >= 0 && static_cast<uint64_t>(announced) > job->sizeLimit)
        return ErrorBadAnswer;
    DWORD error = 0;
    uint64_t received = 0;
    std::vector<char> block(ReadBlock);
    while (!error && !Abandoned(job)) {
        DWORD count = 0;
        error = ReadSome(job, request, block.data(), count);
        if (error || count == 0)
            break;
        if (received + count > job->sizeLimit) {
            if (toFile) {
                error = ErrorBadAnswer;
                break;
            }
            // An answer kept in memory stops at the limit; the parser decides what the part holds.
            job->answer.append(block.data(), static_cast<size_t>(job->sizeLimit - received));
            return 0;
        }
        received += count;
        if (toFile)
            error = AppendToFile(job->filePath, block.data(), count);
        else
            job->answer.append(block.data(), count);
    }
    // A connection that ends before the announced length has cut the body short. Without a
    // length, a connection that ends early cannot be told from the end of the body (WinINet
    // reports a chunked body cut before its last chunk as a normal end): only the document's
    // own structure can prove it whole.
    if (!error && !Abandoned(job) && announced >= 0 && received != static_cast<uint64_t>(announced))
        error = ErrorBadAnswer;
    if (!error && !Abandoned(job) && announced < 0 && toFile && !TiffFileIsWhole(job->filePath))
        error = ErrorBadAnswer;
    return error;
}

// The Host field as HTTP wants it: an IPv6 address in brackets, the port unless it is 80.
std::string HostField(const HttpJob& job)
{
    std::string host = job.host.find(':') != std::string::npos ? "[" + job.host + "]" : job.host;
    if (job.port != INTERNET_DEFAULT_HTTP_PORT)
        host += ":" + std::to_string(job.port);
    return "Host: " + host + "\r\n";
}

// The exchange's WinINet handles. They are closed only after the result has been handed over:
// closing can take long (a connection is drained), and the caller must not wait for that.
struct Exchange {
    InternetHandle session;
    InternetHandle connection;
    InternetHandle request;
};

DWORD RunExchange(HttpJob* job, Exchange& exchange)
{
    exchange.session.handle = InternetOpenA("qrvxpmns", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (!exchange.session.handle)
        return GetLastError();
    InternetSetStatusCallbackA(exchange.session.handle, OnStatus);
    SetStackTimeouts(exchange.session.handle, job->timeouts);
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(job);
    exchange.connection.handle = InternetConnectA(exchange.session.handle, job->host.c_str(),
                                                  static_cast<INTERNET_PORT>(job->port), nullptr, nullptr,
                                                  INTERNET_SERVICE_HTTP, 0, context);
    if (!exchange.connection.handle)
        return GetLastError();
    SetStackTimeouts(exchange.connection.handle, job->timeouts);
    // No redirects: a device path is only ever fetched from the device's own host.
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                  INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTO_REDIRECT |
                  INTERNET_FLAG_NO_AUTH;
    // Files are asked for in HTTP/1.0, which rules out the chunked coding: the device should
    // announce the length; a body without one must prove itself whole (ReadBody).
    const char* version = job->filePath.empty() ? "HTTP/1.1" : "HTTP/1.0";
    exchange.request.handle = HttpOpenRequestA(exchange.connection.handle, job->verb.c_str(), job->path.c_str(),
                                               version, nullptr, nullptr, flags, context);
    HINTERNET request = exchange.request.handle;
    if (!request)
        return GetLastError();
    SetStackTimeouts(request, job->timeouts);
    std::string host = HostField(*job);
    HttpAddRequestHeadersA(request, host.c_str(), static_cast<DWORD>(host.size()),
                           HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);

    std::string headers = "Accept-Encoding: identity\r\n";
    if (!job->body.empty())
        headers += "Content-Type: text/xml; charset=utf-8\r\n";
    if (!HttpSendRequestA(request, headers.c_str(), static_cast<DWORD>(headers.size()),
                          job->body.empty() ? nullptr : job->body.data(), static_cast<DWORD>(job->body.size())))
        return GetLastError();
    EnterPhase(job, PhaseReceiving);
    DWORD status = StatusCode(request);
    if (status != HTTP_STATUS_OK)
        return status ? status : ErrorBadAnswer;
    return ReadBody(job, request);
}

DWORD WINAPI WorkerMain(LPVOID parameter)
{
    HttpJob* job = static_cast<HttpJob*>(parameter);
    HMODULE module = job->module;
    {
        Exchange exchange;
        job->error = RunExchange(job, exchange);
        if (InterlockedCompareExchange(&job->state, JobFinished, JobRunning) == JobAbandoned) {
            // Nobody waits for this result any more; what was written goes too.
            if (!job->filePath.empty())
                DeleteFileA(job->filePath.c_str());
        }
        SetEvent(job->done);
    }
    ReleaseHttpJob(job);
    FreeLibraryAndExitThread(module, 0);
}

}  // namespace

DWORD StartHttpJob(HttpJob* job)
{
    job->done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    job->startTick = GetTickCount();
    job->phaseTick = static_cast<LONG>(job->startTick);
    job->activityTick = static_cast<LONG>(job->startTick);
    // The worker's own reference on the module keeps the code it runs loaded until it ends.
    if (job->done && GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&WorkerMain),
                                        &job->module)) {
        HANDLE thread = CreateThread(nullptr, 0, WorkerMain, job, 0, nullptr);
        if (thread) {
            CloseHandle(thread);
            return 0;
        }
        FreeLibrary(job->module);
    }
    DWORD error = GetLastError() ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
    InterlockedExchange(&job->references, 1);
    ReleaseHttpJob(job);
    return error;
}

void ReleaseHttpJob(HttpJob* job)
{
    if (InterlockedDecrement(&job->references) == 0) {
        if (job->done)
            CloseHandle(job->done);
        delete job;
    }
}

bool AbandonHttpJob(HttpJob* job)
{
    return InterlockedCompareExchange(&job->state, JobAbandoned, JobRunning) == JobRunning;
}
