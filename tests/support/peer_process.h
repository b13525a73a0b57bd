#pragma once
// A peer program started by a test: a Python script of peers/ (or any
// program) whose first line of output is "READY <port>". It runs until the
// owner goes away, which closes its standard input, then ends it.
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace net_testing {

class TPeerProcess {
public:
    // Starts the program with the arguments and waits up to waitMs for its
    // READY line; Port() is 0 when it did not come.
    TPeerProcess(const std::string& program, const std::vector<std::string>& arguments, int waitMs = 20000);
    ~TPeerProcess();
    TPeerProcess(const TPeerProcess&) = delete;
    TPeerProcess& operator=(const TPeerProcess&) = delete;

    std::uint16_t Port() const { return port_; }
    // What the peer wrote before its READY line (or instead of it).
    const std::string& Output() const { return output_; }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    std::uint16_t port_ = 0;
    std::string output_;
};

// The path of a peer script: <source>/tests/platform/net/peers/<name>.
std::string PeerScript(const std::string& name);
// The system's Python, which has the peers' packages.
inline constexpr const char* kPython = "/usr/bin/python3";

// A TCP port on 127.0.0.1 that nothing listens on (bound and released).
std::uint16_t UnusedTcpPort();

// Starts a listener on 127.0.0.1 that accepts connections and never
// answers; it stops with the object.
class TSilentListener {
public:
    TSilentListener();
    ~TSilentListener();
    std::uint16_t Port() const { return port_; }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

} // namespace net_testing
