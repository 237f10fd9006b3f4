// The link on Linux: cpp-httplib (Debian's libcpp-httplib) with the protocol library's rules.
// Requests go out as the library sends them (XML body, identity coding, a Host field as HTTP
// wants it); answers are bounded at 16 MiB and parsed by the protocol codec, files at 256 MiB;
// a file that comes without a length must prove itself whole by its own TIFF structure. One
// connection per request, no redirects, no decompression.
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "device/protocol_codec.h"
#include "imaging/tiff_structure.h"
#include "tools/qrvbox/device_link.h"
#include "tools/qrvbox/platform.h"

namespace {

using Clock = std::chrono::steady_clock;

// Why a request was given up before cpp-httplib itself ended it.
enum class StopReason { None, Total, Interrupt, Refused, Limit, FileError };

// Ends the exchange from outside when its total time runs out or the user interrupts: cpp-httplib
// waits for the network inside its calls, and only closing the socket wakes it.
class Watchdog {
public:
    Watchdog(httplib::Client& client, uint32_t totalMs) : client_(client), deadline_(Clock::now()) {
        deadline_ += std::chrono::milliseconds(totalMs ? totalMs : 24u * 3600 * 1000);
        thread_ = std::thread([this] { Watch(); });
    }
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            finished_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    StopReason reason() const { return reason_; }

private:
    void Watch() {
        std::unique_lock<std::mutex> guard(lock_);
        while (!finished_) {
            wake_.wait_for(guard, std::chrono::milliseconds(50));
            if (finished_) break;
            if (Interrupted() || Clock::now() >= deadline_) {
                reason_ = Interrupted() ? StopReason::Interrupt : StopReason::Total;
                client_.stop();
                break;
            }
        }
    }

    httplib::Client& client_;
    Clock::time_point deadline_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool finished_ = false;
    std::atomic<StopReason> reason_{StopReason::None};
    std::thread thread_;
};

// Sends the request while a watchdog holds the whole exchange to its limit and to an interrupt.
bool SendWatched(httplib::Client& client, httplib::Request& request, uint32_t totalMs, httplib::Response& response,
                 httplib::Error& error, StopReason& watchdog) {
    Watchdog watch(client, totalMs);
    const bool sent = client.send(request, response, error);
    watchdog = watch.reason();
    return sent;
}

void SetTimeout(httplib::Client& client, void (httplib::Client::*set)(time_t, time_t), uint32_t ms) {
    (client.*set)(static_cast<time_t>(ms / 1000), static_cast<time_t>((ms % 1000) * 1000));
}

// Time-outs of the exchange; a limit of 0 means none, which cpp-httplib knows only as a long one.
void Configure(httplib::Client& client, const LinkTimeouts& timeouts) {
    constexpr uint32_t Unlimited = 24u * 3600 * 1000;
    SetTimeout(client, &httplib::Client::set_connection_timeout, timeouts.connect ? timeouts.connect : Unlimited);
    SetTimeout(client, &httplib::Client::set_write_timeout, timeouts.send ? timeouts.send : Unlimited);
    const uint32_t receive = timeouts.receive ? timeouts.receive : timeouts.total ? timeouts.total : Unlimited;
    SetTimeout(client, &httplib::Client::set_read_timeout, receive);
    client.set_keep_alive(false);
    client.set_follow_location(false);
    client.set_decompress(false);
    client.set_url_encode(false);
}

std::string HostField(const DeviceAddress& device) {
    std::string host = device.host.find(':') != std::string::npos ? "[" + device.host + "]" : device.host;
    if (device.port != 80) host += ":" + std::to_string(device.port);
    return host;
}

// Only the identity coding is asked for; a body in any other coding is not what was asked.
bool IdentityCoding(const httplib::Response& response) {
    if (!response.has_header("Content-Encoding")) return true;
    return strcasecmp(response.get_header_value("Content-Encoding").c_str(), "identity") == 0;
}

// The state of one exchange, as the handlers see it.
struct Exchange {
    Clock::time_point lastActivity = Clock::now();
    bool headersSeen = false;
    StopReason stop = StopReason::None;
    uint32_t status = 0;
};

// The outcome of an exchange that cpp-httplib ended with an error.
uint32_t FailureCode(httplib::Error error, const Exchange& exchange, StopReason watchdog, const LinkTimeouts& timeouts) {
    if (watchdog == StopReason::Interrupt) return LinkCancelled;
    if (watchdog == StopReason::Total) return LinkTimedOut;
    switch (exchange.stop) {
    case StopReason::Refused: return exchange.status ? exchange.status : LinkBadAnswer;
    case StopReason::Limit: return LinkBadAnswer;
    case StopReason::FileError: return LinkFileError;
    default: break;
    }
    switch (error) {
    case httplib::Error::Connection: return LinkCannotConnect;
    case httplib::Error::ConnectionTimeout: return LinkTimedOut;
    case httplib::Error::Read:
    case httplib::Error::Write: {
        // A read that ended after the receive time-out of silence timed out; one that ended
        // sooner was cut off: before any answer (aborted) or within it (cut short).
        const auto silent = Clock::now() - exchange.lastActivity;
        if (timeouts.receive && silent >= std::chrono::milliseconds(timeouts.receive) - std::chrono::milliseconds(200))
            return LinkTimedOut;
        return exchange.headersSeen ? LinkBadAnswer : LinkConnectionAborted;
    }
    default: return LinkConnectionAborted;
    }
}

httplib::Request BaseRequest(const DeviceAddress& device, const char* method, const std::string& path) {
    httplib::Request request;
    request.method = method;
    request.path = path;
    request.set_header("Host", HostField(device));
    request.set_header("Accept-Encoding", "identity");
    request.set_header("User-Agent", "qrvbox");
    return request;
}

}  // namespace

uint32_t SendCommand(const DeviceAddress& device, const StorageRequest& steps, const LinkTimeouts& timeouts,
                     StorageAnswer& answer) {
    if (!IsPlainHost(device.host) || device.port < 1 || device.port > 65535) return LinkRefusedAddress;
    TagNames tags;
    std::vector<std::string> names(StorageElementNames, StorageElementNames + StorageElementCount);
    tags.Assign(names);
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

    httplib::Client client(device.host, device.port);
    Configure(client, timeouts);
    httplib::Request request = BaseRequest(device, "POST", StorageRequestPath);
    request.set_header("Content-Type", "text/xml; charset=utf-8");
    request.body = tree.Serialize(tags);
    Exchange exchange;
    std::string body;
    request.response_handler = [&](const httplib::Response& response) {
        exchange.headersSeen = true;
        exchange.lastActivity = Clock::now();
        exchange.status = static_cast<uint32_t>(response.status);
        if (response.status != 200 || !IdentityCoding(response)) {
            exchange.stop = StopReason::Refused;
            if (response.status == 200) exchange.status = 0;
            return false;
        }
        return true;
    };
    // One byte past the parser's limit tells it that the answer went on; the rest is not read.
    request.content_receiver = [&](const char* data, size_t length, uint64_t, uint64_t) {
        exchange.lastActivity = Clock::now();
        const size_t room = MaxAnswerBytes + 1 - body.size();
        body.append(data, std::min(length, room));
        if (body.size() > MaxAnswerBytes) {
            exchange.stop = StopReason::Limit;
            return false;
        }
        return true;
    };
    httplib::Response response;
    httplib::Error error = httplib::Error::Success;
    StopReason watchdog;
    const bool sent = SendWatched(client, request, timeouts.total, response, error, watchdog);
    // An answer stopped at the limit is no failure: the parser keeps what lies within it.
    const bool whole = (sent && watchdog == StopReason::None) || exchange.stop == StopReason::Limit;
    if (!whole) return FailureCode(error, exchange, watchdog, timeouts);

    Answer parsed;
    if (ParseAnswer(body, tags, parsed) != AnswerStatus::Ok) return LinkBadAnswer;
    for (const AnswerElement& element : parsed.elements)
        if (!answer.Take(element.tag, parsed.Text(element))) break;
    return LinkOk;
}

uint32_t FetchFile(const DeviceAddress& device, const std::string& devicePath, const std::string& localPath) {
    if (!IsPlainHost(device.host) || device.port < 1 || device.port > 65535 || !IsDevicePath(devicePath))
        return LinkRefusedAddress;
    FILE* file = OpenFile(localPath, "wb");
    if (!file) return LinkFileError;

    httplib::Client client(device.host, device.port);
    Configure(client, CommandTimeouts);
    httplib::Request request = BaseRequest(device, "GET", devicePath);
    Exchange exchange;
    bool announced = false;
    uint64_t received = 0;
    request.response_handler = [&](const httplib::Response& response) {
        exchange.headersSeen = true;
        exchange.lastActivity = Clock::now();
        exchange.status = static_cast<uint32_t>(response.status);
        if (response.status != 200 || !IdentityCoding(response)) {
            exchange.stop = StopReason::Refused;
            if (response.status == 200) exchange.status = 0;
            return false;
        }
        // cpp-httplib reads a chunked body as such whatever the length says.
        announced = response.has_header("Content-Length") && !response.has_header("Transfer-Encoding");
        if (announced && response.get_header_value<uint64_t>("Content-Length") > MaxDocumentBytes) {
            exchange.stop = StopReason::Limit;
            return false;
        }
        return true;
    };
    request.content_receiver = [&](const char* data, size_t length, uint64_t, uint64_t) {
        exchange.lastActivity = Clock::now();
        received += length;
        if (received > MaxDocumentBytes) {
            exchange.stop = StopReason::Limit;
            return false;
        }
        if (std::fwrite(data, 1, length, file) != length) {
            exchange.stop = StopReason::FileError;
            return false;
        }
        return true;
    };
    httplib::Response response;
    httplib::Error error = httplib::Error::Success;
    StopReason watchdog;
    const bool sent = SendWatched(client, request, CommandTimeouts.total, response, error, watchdog);
    uint32_t result = sent && watchdog == StopReason::None ? LinkOk : FailureCode(error, exchange, watchdog, CommandTimeouts);
    if (std::fclose(file) != 0 && result == LinkOk) result = LinkFileError;
    // Without a length only the document's own structure can prove the body whole: a connection
    // that ends early looks like the end of the body.
    if (result == LinkOk && !announced) {
        FILE* written = OpenFile(localPath, "rb");
        TiffStructure structure;
        const bool whole = written && CheckTiffStructure(
            [](void* f, void* buffer, uint32_t count) {
                return static_cast<uint32_t>(std::fread(buffer, 1, count, static_cast<FILE*>(f)));
            },
            [](void* f, uint32_t offset, int origin) -> int64_t {
                auto* stream = static_cast<FILE*>(f);
                if (std::fseek(stream, static_cast<long>(offset), origin == 2 ? SEEK_END : SEEK_SET) != 0) return -1;
                return std::ftell(stream);
            },
            written, structure);
        if (written) std::fclose(written);
        if (!whole) result = LinkBadAnswer;
    }
    if (result != LinkOk) RemoveFile(localPath);
    return result;
}
