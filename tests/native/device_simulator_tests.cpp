// The simulator as the device's peers see it: the search probe, and the misbehaviour that the
// Windows tests rely on being real (refused, dropped and cut connections, the port-file lease).
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

extern char** environ;

namespace {

class Simulator {
public:
    explicit Simulator(std::vector<std::string> switches)
    {
        portFile_ = testing::TempDir() + "simulator_port_" + std::to_string(getpid());
        unlink(portFile_.c_str());
        std::vector<std::string> arguments = {QRV_DEVICE_SIMULATOR, "--storage", QRV_SAMPLE_STORAGE, "--port-file",
                                              portFile_, "--lifetime", "60"};
        arguments.insert(arguments.end(), switches.begin(), switches.end());
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        EXPECT_EQ(0, posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ));
        for (int waited = 0; waited < 10000 && port_ == 0; waited += 20) {
            std::ifstream in(portFile_);
            std::string text;
            if (std::getline(in, text) && in.good())
                port_ = std::stoi(text);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~Simulator()
    {
        unlink(portFile_.c_str());
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    int port() const { return port_; }
    // Deletes the port file and waits for the process to end by itself.
    bool EndsWithItsLease()
    {
        unlink(portFile_.c_str());
        for (int waited = 0; waited < 3000; waited += 20) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = 0;
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

private:
    std::string portFile_;
    pid_t pid_ = 0;
    int port_ = 0;
};

const char UserList[] = "<SERVER><COMMAND>GETUSERID</COMMAND></SERVER>";

}  // namespace

TEST(DeviceSimulator, AnswersTheSearchProbeAndEndsWithItsLease)
{
    Simulator simulator({});
    ASSERT_GT(simulator.port(), 0);
    httplib::Client client("127.0.0.1", simulator.port());
    auto probe = client.Get("/devinfo.cgi");
    ASSERT_TRUE(probe);
    EXPECT_EQ(200, probe->status);
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<DEVICEINFO><NAME>Orvel Simulator</NAME><TYPE>1</TYPE></DEVICEINFO>\n",
              probe->body);
    auto missing = client.Get("/strage/FFFFFFFF.tif");
    ASSERT_TRUE(missing);
    EXPECT_EQ(404, missing->status);
    // A Host field HTTP/1.1 does not allow (a bare IPv6 address) is refused; a bracketed one is not.
    auto bare = client.Get("/devinfo.cgi", {{"Host", "::1:" + std::to_string(simulator.port())}});
    ASSERT_TRUE(bare);
    EXPECT_EQ(400, bare->status);
    auto bracketed = client.Get("/devinfo.cgi", {{"Host", "[::1]:" + std::to_string(simulator.port())}});
    ASSERT_TRUE(bracketed);
    EXPECT_EQ(200, bracketed->status);
    EXPECT_TRUE(simulator.EndsWithItsLease());
}

TEST(DeviceSimulator, RefusesDropsAndCutsWhenTold)
{
    {
        Simulator simulator({"--refuse-after", "1"});
        httplib::Client client("127.0.0.1", simulator.port());
        auto first = client.Post("/upcmd.cgi", UserList, "text/xml");
        ASSERT_TRUE(first);
        EXPECT_EQ(200, first->status);
        auto second = client.Post("/upcmd.cgi", UserList, "text/xml");
        EXPECT_FALSE(second);
        EXPECT_EQ(httplib::Error::Connection, second.error());
    }
    {
        Simulator simulator({"--drop-commands"});
        httplib::Client client("127.0.0.1", simulator.port());
        auto dropped = client.Post("/upcmd.cgi", UserList, "text/xml");
        EXPECT_FALSE(dropped);
    }
    {
        Simulator simulator({"--cut-files"});
        httplib::Client client("127.0.0.1", simulator.port());
        auto cut = client.Get("/strage/00001005.tif");
        EXPECT_FALSE(cut && cut->status == 200 && cut->body.size() > 1000 &&
                     cut->body.size() == std::stoul(cut->get_header_value("Content-Length")));
    }
}
