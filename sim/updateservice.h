#pragma once

// A local stand-in for the vendor's update service, on 127.0.0.1 only.
//
//   POST /common/api/check_version
//        form body deviceType=...&deviceName=...&version=...; raw headers
//        access_token, clientType, version, Cache-Control
//     -> {"result": 1, "message": "ok", "data": {"devicename", "version", "updateurl",
//         "updatetype", "updatemessage", "isneedupdate", "fileCRCSize"}}
//        a wrong or missing access_token -> {"result": 401, "message": "invalid token"}
//   GET  /firmware/<name>.bin -> the firmware image announced in "updateurl"
//   GET  /moved/Latest.bin    -> 302 to /firmware/Latest.bin (a mirror)
//
// "fileCRCSize" is the sum of the CRC-16/XMODEM of the image's 128-byte blocks,
// the last one padded with 0x1A.
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace sim {

enum class ServiceFault {
    None,
    Http500,       // the version check answers HTTP 500
    HtmlPage,      // an HTML error page with status 200
    NotJson,       // text that is not JSON
    NoUpdate,      // "isneedupdate": false
    UpperTrue,     // "isneedupdate": "TRUE"
    NumericOne,    // "isneedupdate": "1"
    WrongCrc,      // "fileCRCSize" off by one
    CutDownload,   // the image is cut short (the connection closes early)
    SlowBody,      // the image arrives slowly, in small pieces
    FileScheme,    // "updateurl" is a file: URL
    Redirect,      // "updateurl" answers with a redirect to the image
    Missing,       // the image answers HTTP 404 with an error page
    ImageError,    // the image answers HTTP 500 with an error page
    NoChecksum,    // "fileCRCSize" is left out
    TextChecksum,  // "fileCRCSize" is "12ab"
    NonCharacter,  // "updatemessage" holds U+FFFE, which XML cannot carry
    Unavailable,   // the version check answers HTTP 503
    Silent,        // the version check is accepted and never answered
    StallDownload, // the image stops halfway and the connection stays open
    Refused,       // the version check answers 200 with result 401, "invalid token"
};

// The faults a command line asks for by name ("unavailable", "slow", …).
struct NamedFault {
    const char* name;
    ServiceFault fault;
};
const std::vector<NamedFault>& namedFaults();
// The fault of that name; false for a name not known.
bool faultNamed(const char* name, ServiceFault* fault);
// The names of the faults, each after a space, for a usage text.
std::string faultNames();

struct RecordedRequest {
    std::string method;
    std::string path;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::string header(const std::string& name) const;
};

class UpdateService {
public:
    UpdateService();
    ~UpdateService();
    UpdateService(const UpdateService&) = delete;
    UpdateService& operator=(const UpdateService&) = delete;

    // Starts listening on 127.0.0.1:port (0: any free port); returns the port or -1.
    int start(int port = 0);
    void stop();
    int port() const { return boundPort; }
    std::string baseUrl() const;

    void setImage(const std::vector<uint8_t>& image, const std::string& version);
    void setFault(ServiceFault fault);
    // Overrides "isneedupdate" with a raw JSON value (e.g. "true", "\"TRUE\"").
    void setIsNeedUpdate(const std::string& jsonValue);
    // What the release brings ("updatemessage"); "" gives "New firmware <version>".
    void setNotes(const std::string& notes);
    // Release notes of the given size that try to break a reader: markup,
    // control characters, direction overrides, long lines.
    static std::string hostileNotes(size_t size);

    std::vector<RecordedRequest> requests() const;
    void clearRequests();

    static uint32_t fileChecksum(const std::vector<uint8_t>& image);
    static const char* AccessToken;

private:
    std::string checkVersionAnswer();
    void addRedirect();

    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    int boundPort = -1;
    mutable std::mutex mutex;
    std::vector<uint8_t> firmware;
    std::string firmwareVersion = "1.3.0";
    ServiceFault fault = ServiceFault::None;
    std::string isNeedUpdate = "true";
    std::string notes;
    std::vector<RecordedRequest> log;
    // Set by stop(): handlers that keep a request waiting return.
    std::condition_variable stopping;
    bool stopped = false;
    void waitForStop();
};

} // namespace sim
