// The device simulator: serves a document storage on 127.0.0.1 as the device would, or writes
// the sample storage. Usage in docs/device_simulator.md.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/device_simulator/device_server.h"
#include "tools/device_simulator/sample_storage.h"
#include "tools/device_simulator/storage.h"

namespace {

const char Usage[] =
    "usage: device_simulator --storage DIR [options]\n"
    "       device_simulator --make-sample DIR [--itu-dir DIR]\n"
    "  --host ADDRESS         listen on this address of 127.0.0.0/8 (127.0.0.1)\n"
    "  --port N               listen on HOST:N (0, the default: any free port)\n"
    "  --port-file PATH       write the port there; the simulator ends when the file is deleted\n"
    "  --lifetime SECONDS     end after this long in any case\n"
    "  --record PATH          append every request received to PATH\n"
    "  --no-users             serve the storage without its users\n"
    "  --extra-folders N      give every user N more top-level folders\n"
    "  --extra-documents N    put N more documents into every user's first folder\n"
    "  --delay-ms N           wait N ms before every command answer\n"
    "  --file-delay-ms N      wait N ms before every file answer\n"
    "  --drop-deletes         close the connection on every DELETE command, deleting nothing\n"
    "  --drop-commands        close command connections without an answer\n"
    "  --drop-files           close file connections without an answer\n"
    "  --cut-files            announce the whole file, send half, close\n"
    "  --refuse-after N       stop listening after N requests\n"
    "  --malformed            cut every command answer in the middle\n"
    "  --oversized BYTES      pad every command answer to at least BYTES\n"
    "  --deep N               nest the answer's records N elements deep\n"
    "  --code N               answer every command with code N\n"
    "  --code-after K         with --code: K records come before the code, the rest after it\n"
    "  --no-code              answers carry no CODE element\n"
    "  --file-status N        HTTP status for a file the device does not have (404)\n"
    "  --no-accept            accept no connection: connecting hangs as with a dead host\n"
    "  --chunked-files        send files in chunked coding without a length (with --cut-files:\n"
    "                         close before the last chunk)\n"
    "  --file-pace-ms N       send files --file-piece bytes at a time, N ms apart\n"
    "  --file-piece BYTES     the piece size of --file-pace-ms (1024)\n"
    "  --file-encoding gzip   send files gzip-compressed with Content-Encoding: gzip\n"
    "  --probe-fault KIND     the search probe gets no answer (silent) or noise (garbage)\n";

bool Number(const char* text, long& value)
{
    char* end = nullptr;
    value = strtol(text, &end, 10);
    return *text && !*end;
}

}  // namespace

int main(int argc, char** argv)
{
    ServerSettings settings;
    std::string storageFolder, sampleFolder;
    std::string ituFolder = "/opt/qrvkbx-deps/jbigkit-2.1/examples";
    bool noUsers = false;
    long extraFolders = 0, extraDocuments = 0;
    Faults& faults = settings.faults;

    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        bool hasValue = i + 1 < argc;
        const char* value = hasValue ? argv[i + 1] : "";
        long number = 0;
        bool numeric = hasValue && Number(value, number);
        auto takeNumber = [&](auto& field) {
            if (!numeric)
                return false;
            field = static_cast<std::remove_reference_t<decltype(field)>>(number);
            ++i;
            return true;
        };
        auto takeText = [&](std::string& field) {
            if (!hasValue)
                return false;
            field = value;
            ++i;
            return true;
        };
        bool ok = true;
        if (option == "--storage") ok = takeText(storageFolder);
        else if (option == "--make-sample") ok = takeText(sampleFolder);
        else if (option == "--itu-dir") ok = takeText(ituFolder);
        else if (option == "--host") ok = takeText(settings.host) && IsLoopbackAddress(settings.host);
        else if (option == "--port") ok = takeNumber(settings.port);
        else if (option == "--port-file") ok = takeText(settings.portFile);
        else if (option == "--lifetime") ok = takeNumber(settings.lifetimeSeconds);
        else if (option == "--record") ok = takeText(settings.recordFile);
        else if (option == "--no-users") noUsers = true;
        else if (option == "--extra-folders") ok = takeNumber(extraFolders);
        else if (option == "--extra-documents") ok = takeNumber(extraDocuments);
        else if (option == "--delay-ms") ok = takeNumber(faults.delayMs);
        else if (option == "--file-delay-ms") ok = takeNumber(faults.fileDelayMs);
        else if (option == "--drop-commands") faults.dropCommands = true;
        else if (option == "--drop-deletes") faults.dropDeletes = true;
        else if (option == "--drop-files") faults.dropFiles = true;
        else if (option == "--cut-files") faults.cutFiles = true;
        else if (option == "--refuse-after") ok = takeNumber(faults.refuseAfter);
        else if (option == "--malformed") faults.malformed = true;
        else if (option == "--oversized") ok = takeNumber(faults.oversized);
        else if (option == "--deep") ok = takeNumber(faults.deep);
        else if (option == "--code") ok = takeNumber(faults.code) && (faults.forceCode = true);
        else if (option == "--code-after") ok = takeNumber(faults.codeAfter);
        else if (option == "--no-code") faults.noCode = true;
        else if (option == "--file-status") ok = takeNumber(faults.notFoundStatus);
        else if (option == "--no-accept") faults.noAccept = true;
        else if (option == "--chunked-files") faults.chunkedFiles = true;
        else if (option == "--file-pace-ms") ok = takeNumber(faults.filePaceMs);
        else if (option == "--file-piece") ok = takeNumber(faults.filePiece) && faults.filePiece > 0;
        else if (option == "--file-encoding") ok = takeText(faults.fileEncoding) && faults.fileEncoding == "gzip";
        else if (option == "--probe-fault")
            ok = takeText(faults.probeFault) && (faults.probeFault == "silent" || faults.probeFault == "garbage");
        else ok = false;
        if (!ok) {
            fprintf(stderr, "device simulator: bad option %s\n%s", option.c_str(), Usage);
            return 2;
        }
    }

    if (!sampleFolder.empty()) {
        std::string error;
        if (!MakeSampleStorage(sampleFolder, ituFolder, error)) {
            fprintf(stderr, "device simulator: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    if (storageFolder.empty() || settings.port < 0 || settings.port > 65535) {
        fputs(Usage, stderr);
        return 2;
    }
    Storage storage;
    std::string error;
    if (!LoadStorage(storageFolder, storage, error)) {
        fprintf(stderr, "device simulator: %s\n", error.c_str());
        return 1;
    }
    AddSyntheticFolders(storage, static_cast<int>(extraFolders));
    AddSyntheticDocuments(storage, static_cast<int>(extraDocuments));
    if (noUsers)
        storage.users.clear();
    return RunServer(storage, settings);
}
