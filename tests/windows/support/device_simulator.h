// The device simulator (a native Linux program of the native build) started from a Windows
// test under Wine: it listens on a free loopback port and ends when its port file is deleted,
// which the destructor does.
#pragma once

#include <string>
#include <vector>

#include "tests/windows/support/test_files.h"

// The Unix path of a Windows path (Wine's own mapping), and back through drive Z:.
std::string UnixPath(const std::string& windowsPath);
std::string WindowsPathOfUnix(const std::string& unixPath);

// The sample storage of the native build, as a Unix path and as a Windows path.
std::string SampleStorageUnix();
std::string SampleStorageFolder();
// The test documents of the native build (tests/data), as a Unix path.
std::string TestDocumentsUnix();

class DeviceSimulator {
public:
    // Serves storageUnix (default: the sample) with the extra command-line switches given.
    explicit DeviceSimulator(const std::vector<std::string>& switches = {}, std::string storageUnix = "");
    ~DeviceSimulator();
    DeviceSimulator(const DeviceSimulator&) = delete;
    DeviceSimulator& operator=(const DeviceSimulator&) = delete;

    bool started() const { return port_ > 0; }
    int port() const { return port_; }
    // Every request the simulator received so far ("== METHOD PATH" lines, each followed by
    // the body).
    std::string Requests() const;
    int RequestCount() const;
    // Ends the simulator now; its port then refuses connections.
    void Stop();

private:
    TempFolder folder_{"qsim"};
    int port_ = 0;
    bool running_ = false;
};

// A storage description written for one test: storage.xml in a folder of its own.
class CustomStorage {
public:
    explicit CustomStorage(const std::string& storageXml);
    std::string unixPath() const;

private:
    TempFolder folder_{"qsto"};
};
