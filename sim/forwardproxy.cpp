#include "sim/forwardproxy.h"

#include <httplib.h>

namespace sim {
namespace {
// The path of an absolute-form target: "http://host:port/a?b" -> "/a?b".
std::string pathOf(const std::string& target) {
    const size_t scheme = target.find("://");
    if (scheme == std::string::npos)
        return target;
    const size_t slash = target.find('/', scheme + 3);
    return slash == std::string::npos ? "/" : target.substr(slash);
}
} // namespace

ForwardProxy::ForwardProxy(int servicePort) : server(new httplib::Server), target(servicePort) {
    const auto forward = [this](const httplib::Request& req, httplib::Response& res) {
        ++count;
        httplib::Client client("127.0.0.1", target);
        httplib::Headers headers;
        for (const auto& h : req.headers) {
            if (h.first != "Host" && h.first != "Proxy-Connection" && h.first != "Content-Length")
                headers.emplace(h.first, h.second);
        }
        const std::string path = pathOf(req.target);
        const auto type = req.get_header_value("Content-Type");
        auto answer = req.method == "POST" ? client.Post(path, headers, req.body, type)
                                           : client.Get(path, headers);
        if (!answer) {
            res.status = 502;
            return;
        }
        res.status = answer->status;
        res.set_content(answer->body, answer->get_header_value("Content-Type"));
    };
    server->Post(".*", forward);
    server->Get(".*", forward);
}

ForwardProxy::~ForwardProxy() {
    stop();
}

int ForwardProxy::start() {
    const int port = server->bind_to_any_port("127.0.0.1");
    if (port < 0)
        return -1;
    thread = std::thread([this] { server->listen_after_bind(); });
    while (!server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return port;
}

void ForwardProxy::stop() {
    if (thread.joinable()) {
        server->stop();
        thread.join();
    }
}

} // namespace sim
