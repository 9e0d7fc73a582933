#pragma once

// A plain HTTP forward proxy on 127.0.0.1 for the tests: it takes requests in
// absolute form ("POST http://host:port/path") and passes them, with their
// headers and body, to one fixed service, whatever host they name.
#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace sim {

class ForwardProxy {
public:
    explicit ForwardProxy(int servicePort);
    ~ForwardProxy();
    ForwardProxy(const ForwardProxy&) = delete;
    ForwardProxy& operator=(const ForwardProxy&) = delete;

    // Listens on any free port of 127.0.0.1; returns it, or -1.
    int start();
    void stop();
    // How many requests came through.
    int forwarded() const { return count; }

private:
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    int target;
    std::atomic<int> count{0};
};

} // namespace sim
