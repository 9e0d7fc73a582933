#include "sim/updateservice.h"

#include <httplib.h>

#include <chrono>
#include <cstring>

namespace sim {
namespace {
const char kCheckVersionPath[] = "/common/api/check_version";
const char kFirmwarePath[] = "/firmware/Latest.bin";
const char kMovedPath[] = "/moved/Latest.bin";
const char kErrorPage[] = "<html><body><h1>Error</h1></body></html>";
const size_t kBlock = 128;
const uint8_t kPad = 0x1A;
const size_t kWorkers = 64; // connections served at once

uint16_t crcXmodem(const uint8_t* data, size_t size) {
    // Table-free CRC-16/XMODEM, independent of the tool's own code.
    uint16_t crc = 0x0000;
    for (size_t i = 0; i < size; ++i) {
        uint8_t x = static_cast<uint8_t>((crc >> 8) ^ data[i]);
        x ^= x >> 4;
        crc = static_cast<uint16_t>((crc << 8) ^ (x << 12) ^ (x << 5) ^ x);
    }
    return crc;
}

std::string jsonEscape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", static_cast<unsigned char>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}
} // namespace

const char* UpdateService::AccessToken = "5f0c3a9e71d24b68a0e9c7b13d5f2e84";

std::string RecordedRequest::header(const std::string& name) const {
    for (const auto& h : headers)
        if (h.first == name)
            return h.second;
    return std::string();
}

uint32_t UpdateService::fileChecksum(const std::vector<uint8_t>& image) {
    uint32_t sum = 0;
    for (size_t off = 0; off < image.size(); off += kBlock) {
        uint8_t block[kBlock];
        const size_t n = std::min(kBlock, image.size() - off);
        std::copy(image.begin() + static_cast<long>(off),
                  image.begin() + static_cast<long>(off + n), block);
        std::fill(block + n, block + kBlock, kPad);
        sum += crcXmodem(block, kBlock);
    }
    return sum;
}

UpdateService::UpdateService() : server(new httplib::Server) {
    // A connection the tool keeps alive holds a worker until it is closed: a
    // desk of 16 tools, each with its check and its download, must never wait
    // for another tool's idle connection, as it would with the default eight.
    server->new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    server->Post(kCheckVersionPath, [this](const httplib::Request& req, httplib::Response& res) {
        RecordedRequest rec{req.method, req.path, {}, req.body};
        for (const auto& h : req.headers)
            rec.headers.emplace_back(h.first, h.second);
        ServiceFault f;
        {
            std::lock_guard<std::mutex> lock(mutex);
            log.push_back(rec);
            f = fault;
        }
        if (req.get_header_value("access_token") != AccessToken || f == ServiceFault::Refused) {
            res.set_content("{\"result\": 401, \"message\": \"invalid token\", \"data\": null}",
                            "application/json");
            return;
        }
        switch (f) {
        case ServiceFault::Http500:
            res.status = 500;
            res.set_content("{\"result\": 500, \"message\": \"server error\"}", "application/json");
            return;
        case ServiceFault::HtmlPage:
            res.set_content("<html><body><h1>502 Bad Gateway</h1></body></html>", "text/html");
            return;
        case ServiceFault::NotJson:
            res.set_content("result=1; message=ok", "text/plain");
            return;
        case ServiceFault::Unavailable:
            res.status = 503;
            res.set_content("<html><body>Service Unavailable</body></html>", "text/html");
            return;
        case ServiceFault::Silent:
            waitForStop();
            return;
        default:
            break;
        }
        res.set_content(checkVersionAnswer(), "application/json;charset=UTF-8");
    });

    addRedirect();
    server->Get(kFirmwarePath, [this](const httplib::Request& req, httplib::Response& res) {
        std::vector<uint8_t> image;
        ServiceFault f;
        {
            std::lock_guard<std::mutex> lock(mutex);
            RecordedRequest rec{req.method, req.path, {}, req.body};
            for (const auto& h : req.headers)
                rec.headers.emplace_back(h.first, h.second);
            log.push_back(rec);
            image = firmware;
            f = fault;
        }
        auto data = std::make_shared<std::vector<uint8_t>>(std::move(image));
        if (f == ServiceFault::Missing || f == ServiceFault::ImageError) {
            res.status = f == ServiceFault::Missing ? 404 : 500;
            res.set_content(kErrorPage, "text/html");
            return;
        }
        if (f == ServiceFault::CutDownload) {
            // Announce the whole length, send half of it, then close.
            const size_t total = data->size();
            res.set_content_provider(
                total, "application/octet-stream",
                [data, total](size_t offset, size_t, httplib::DataSink& sink) {
                    const size_t half = total / 2;
                    if (offset >= half)
                        return false;
                    sink.write(reinterpret_cast<const char*>(data->data()) + offset, half - offset);
                    return true;
                });
            return;
        }
        if (f == ServiceFault::StallDownload) {
            // Announce the whole length, send half of it, then send nothing more.
            const size_t total = data->size();
            res.set_content_provider(
                total, "application/octet-stream",
                [this, data, total](size_t offset, size_t, httplib::DataSink& sink) {
                    const size_t half = total / 2;
                    if (offset >= half) {
                        waitForStop();
                        return false;
                    }
                    sink.write(reinterpret_cast<const char*>(data->data()) + offset, half - offset);
                    return true;
                });
            return;
        }
        if (f == ServiceFault::SlowBody) {
            res.set_content_provider(
                data->size(), "application/octet-stream",
                [data](size_t offset, size_t, httplib::DataSink& sink) {
                    const size_t n = std::min<size_t>(1024, data->size() - offset);
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    sink.write(reinterpret_cast<const char*>(data->data()) + offset, n);
                    return true;
                });
            return;
        }
        res.set_content(std::string(data->begin(), data->end()), "application/octet-stream");
    });
}

void UpdateService::addRedirect() {
    server->Get(kMovedPath, [this](const httplib::Request& req, httplib::Response& res) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            log.push_back(RecordedRequest{req.method, req.path, {}, req.body});
        }
        res.set_redirect(baseUrl() + std::string(kFirmwarePath + 1), 302);
        res.set_content(kErrorPage, "text/html");
    });
}

UpdateService::~UpdateService() {
    stop();
}

int UpdateService::start(int port) {
    if (port == 0)
        boundPort = server->bind_to_any_port("127.0.0.1");
    else
        boundPort = server->bind_to_port("127.0.0.1", port) ? port : -1;
    if (boundPort < 0)
        return -1;
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopped = false;
    }
    thread = std::thread([this] { server->listen_after_bind(); });
    while (!server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return boundPort;
}

void UpdateService::waitForStop() {
    std::unique_lock<std::mutex> lock(mutex);
    stopping.wait(lock, [this] { return stopped; });
}

void UpdateService::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopped = true;
    }
    stopping.notify_all();
    if (thread.joinable()) {
        server->stop();
        thread.join();
    }
}

std::string UpdateService::baseUrl() const {
    return "http://127.0.0.1:" + std::to_string(boundPort) + "/";
}

void UpdateService::setImage(const std::vector<uint8_t>& image, const std::string& version) {
    std::lock_guard<std::mutex> lock(mutex);
    firmware = image;
    firmwareVersion = version;
}

void UpdateService::setFault(ServiceFault f) {
    std::lock_guard<std::mutex> lock(mutex);
    fault = f;
}

void UpdateService::setIsNeedUpdate(const std::string& jsonValue) {
    std::lock_guard<std::mutex> lock(mutex);
    isNeedUpdate = jsonValue;
}

std::vector<RecordedRequest> UpdateService::requests() const {
    std::lock_guard<std::mutex> lock(mutex);
    return log;
}

void UpdateService::clearRequests() {
    std::lock_guard<std::mutex> lock(mutex);
    log.clear();
}

std::string UpdateService::checkVersionAnswer() {
    std::lock_guard<std::mutex> lock(mutex);
    std::string need = isNeedUpdate;
    switch (fault) {
    case ServiceFault::NoUpdate:
        need = "false";
        break;
    case ServiceFault::UpperTrue:
        need = "\"TRUE\"";
        break;
    case ServiceFault::NumericOne:
        need = "\"1\"";
        break;
    default:
        break;
    }
    uint32_t crc = fileChecksum(firmware);
    if (fault == ServiceFault::WrongCrc)
        crc += 1;
    std::string checksum = ", \"fileCRCSize\": " + std::to_string(crc);
    if (fault == ServiceFault::NoChecksum)
        checksum.clear();
    if (fault == ServiceFault::TextChecksum)
        checksum = ", \"fileCRCSize\": \"12ab\"";
    std::string url = baseUrl() + std::string(kFirmwarePath + 1);
    if (fault == ServiceFault::FileScheme)
        url = "file:///etc/hostname";
    if (fault == ServiceFault::Redirect)
        url = baseUrl() + std::string(kMovedPath + 1);
    const std::string message =
        !notes.empty()
            ? jsonEscape(notes)
            : (fault == ServiceFault::NonCharacter ? "\\ufffeNew firmware " : "New firmware ") +
                  jsonEscape(firmwareVersion);
    return "{\"result\": 1, \"message\": \"ok\", \"data\": {"
           "\"devicename\": \"Tembra\", "
           "\"version\": \"" +
           jsonEscape(firmwareVersion) +
           "\", "
           "\"updateurl\": \"" +
           jsonEscape(url) +
           "\", "
           "\"updatetype\": 1, "
           "\"updatemessage\": \"" +
           message +
           "\", "
           "\"isneedupdate\": " +
           need + checksum + "}}";
}

void UpdateService::setNotes(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    notes = text;
}

const std::vector<NamedFault>& namedFaults() {
    static const std::vector<NamedFault> faults = {
        {"wrong-crc", ServiceFault::WrongCrc},      {"refused", ServiceFault::Refused},
        {"unavailable", ServiceFault::Unavailable}, {"silent", ServiceFault::Silent},
        {"no-update", ServiceFault::NoUpdate},      {"stall", ServiceFault::StallDownload},
        {"slow", ServiceFault::SlowBody},
    };
    return faults;
}

bool faultNamed(const char* name, ServiceFault* fault) {
    for (const auto& f : namedFaults()) {
        if (std::strcmp(f.name, name) == 0) {
            *fault = f.fault;
            return true;
        }
    }
    return false;
}

std::string faultNames() {
    std::string names;
    for (const auto& f : namedFaults())
        names += std::string(" ") + f.name;
    return names;
}

std::string UpdateService::hostileNotes(size_t size) {
    const std::string pieces[] = {"<b>Bold</b> <a href=\"http://x\">link</a> ",
                                  "<script>alert(1)</script>",
                                  "\x01\x02\x1b[31m",
                                  "\xe2\x80\xae", // a right-to-left override
                                  "&lt;tag&gt; ",
                                  std::string(200, 'W') + " ",
                                  "\r\n"};
    std::string out = "Fixes: ";
    for (size_t i = 0; out.size() < size; ++i)
        out += pieces[i % (sizeof(pieces) / sizeof(pieces[0]))];
    out.resize(size);
    // Never a broken UTF-8 sequence at the end.
    while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0x80))
        out.pop_back();
    return out;
}

} // namespace sim
