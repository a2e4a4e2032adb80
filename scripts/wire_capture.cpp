// Drives every client operation of the library through its public C
// interface against a capture peer on 127.0.0.1, and writes each raw HTTP
// request the peer received into OUTDIR/NN-operation.txt, with the fields
// that change from run to run masked (nonce, digest, Created, MessageID,
// the peer's port). scripts/wire_compare.sh builds it against two builds
// of the library and compares the two folders.
//
//   wire_capture OUTDIR FIXTUREDIR
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fixture_loopback.h"
#include "vek_onvif_event.h"
#include "vek_platform_ctl.h"

namespace
{

const char *const kEnvelopeOpen =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\" "
    "xmlns:wsa=\"http://www.w3.org/2005/08/addressing\" "
    "xmlns:wsnt=\"http://docs.oasis-open.org/wsn/b-2\" "
    "xmlns:tev=\"http://www.onvif.org/ver10/events/wsdl\" "
    "xmlns:sub=\"http://www.example.org/subscription\"><env:Body>";
const char *const kEnvelopeClose = "</env:Body></env:Envelope>";

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string envelope(const std::string &body)
{
    return kEnvelopeOpen + body + kEnvelopeClose;
}

// The capture peer: one request per connection, answered by the name of the
// first element of the request's body.
class CapturePeer
{
  public:
    explicit CapturePeer(std::string fixtureDir) : fixtures_(std::move(fixtureDir))
    {
        listenFd_ = vekfix::loopbackListener(8, &port_);
        if (listenFd_ < 0) {
            std::perror("capture peer");
            std::exit(2);
        }
        thread_ = std::thread([this] { serve(); });
    }
    ~CapturePeer()
    {
        stopping_ = true;
        shutdown(listenFd_, SHUT_RDWR);
        close(listenFd_);
        thread_.join();
    }

    std::string url(const std::string &path) const
    {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    uint16_t port() const { return port_; }
    std::vector<std::string> takeRequests()
    {
        std::lock_guard<std::mutex> guard(lock_);
        std::vector<std::string> out;
        out.swap(requests_);
        return out;
    }

  private:
    static std::string readRequest(int fd)
    {
        std::string request;
        char buffer[4096];
        size_t expected = std::string::npos;
        while (expected == std::string::npos || request.size() < expected) {
            ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                break;
            }
            request.append(buffer, static_cast<size_t>(n));
            size_t headEnd = request.find("\r\n\r\n");
            if (expected == std::string::npos && headEnd != std::string::npos) {
                std::smatch match;
                std::string head = request.substr(0, headEnd);
                std::regex lengthRe("Content-Length: *([0-9]+)", std::regex::icase);
                size_t bodyLength = 0;
                if (std::regex_search(head, match, lengthRe)) {
                    bodyLength = std::stoul(match[1].str());
                }
                expected = headEnd + 4 + bodyLength;
            }
        }
        return request;
    }

    std::string answerBody(const std::string &request) const
    {
        const std::string body = request.substr(request.find("Body"));
        const std::string reference = "<wsa:ReferenceParameters><sub:SubscriptionId>7"
                                      "</sub:SubscriptionId></wsa:ReferenceParameters>";
        const std::string times =
            "<wsnt:CurrentTime>2026-12-10T00:00:00Z</wsnt:CurrentTime>"
            "<wsnt:TerminationTime>2026-12-10T00:01:00Z</wsnt:TerminationTime>";
        if (body.find(":GetEventProperties") != std::string::npos) {
            return readFile(fixtures_ + "/corpus/properties/topicset-01.xml");
        }
        if (body.find(":PullMessages") != std::string::npos) {
            return readFile(fixtures_ + "/corpus/notify/pull-initial-state-01.xml");
        }
        if (body.find(":CreatePullPointSubscription") != std::string::npos) {
            return envelope("<tev:CreatePullPointSubscriptionResponse><tev:SubscriptionReference>"
                            "<wsa:Address>" +
                            url("/onvif/pull/1") + "</wsa:Address>" + reference +
                            "</tev:SubscriptionReference>" + times +
                            "</tev:CreatePullPointSubscriptionResponse>");
        }
        if (body.find(":Unsubscribe") != std::string::npos) {
            return envelope("<wsnt:UnsubscribeResponse/>");
        }
        if (body.find(":Renew") != std::string::npos) {
            return envelope("<wsnt:RenewResponse>" + times + "</wsnt:RenewResponse>");
        }
        if (body.find(":Subscribe") != std::string::npos) {
            return envelope("<wsnt:SubscribeResponse><wsnt:SubscriptionReference><wsa:Address>" +
                            url("/onvif/subscription/1") + "</wsa:Address>" + reference +
                            "</wsnt:SubscriptionReference>" + times + "</wsnt:SubscribeResponse>");
        }
        return envelope("");
    }

    void serve()
    {
        while (!stopping_) {
            int fd = accept(listenFd_, nullptr, nullptr);
            if (fd < 0) {
                continue;
            }
            timeval timeout{2, 0};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
            std::string request = readRequest(fd);
            {
                // Recorded before the answer goes out, so that the request
                // is there when the operation returns.
                std::lock_guard<std::mutex> guard(lock_);
                requests_.push_back(request);
            }
            std::string body = answerBody(request);
            std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml; "
                                 "charset=utf-8\r\nContent-Length: " +
                                 std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
                                 body;
            send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
            shutdown(fd, SHUT_WR);
            close(fd);
        }
    }

    std::string fixtures_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::mutex lock_;
    std::vector<std::string> requests_;
};

std::string mask(std::string text, uint16_t peerPort)
{
    const std::pair<const char *, const char *> rules[] = {
        {"(<[A-Za-z0-9_]*:?Nonce[^>]*>)[^<]*", "$1NONCE"},
        {"(<[A-Za-z0-9_]*:?Password[^>]*>)[^<]*", "$1DIGEST"},
        {"(<[A-Za-z0-9_]*:?Created[^>]*>)[^<]*", "$1CREATED"},
        {"(<[A-Za-z0-9_]*:?MessageID[^>]*>)[^<]*", "$1MESSAGEID"},
    };
    for (const auto &rule : rules) {
        text = std::regex_replace(text, std::regex(rule.first), rule.second);
    }
    const std::string port = ":" + std::to_string(peerPort);
    for (size_t at = text.find(port); at != std::string::npos; at = text.find(port, at)) {
        text.replace(at, port.size(), ":PEERPORT");
    }
    return text;
}

void discardLog(int32_t, uint32_t, const char *, const char *, const char *, void *) {}

struct Recorder {
    CapturePeer &peer;
    std::string outDir;
    int sequence = 0;

    // Writes the requests of one operation and its result.
    void record(const std::string &operation, uint32_t result)
    {
        std::vector<std::string> requests = peer.takeRequests();
        std::ofstream out(outDir + "/" + (sequence < 10 ? "0" : "") + std::to_string(sequence) +
                              "-" + operation + ".txt",
                          std::ios::binary);
        ++sequence;
        out << "result " << result << ", " << requests.size() << " request(s)\n";
        for (const std::string &request : requests) {
            out << "----\n" << mask(request, peer.port()) << "\n";
        }
    }
};

void copyText(char *field, size_t size, const std::string &text)
{
    std::snprintf(field, size, "%s", text.c_str());
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUTDIR FIXTUREDIR\n", argv[0]);
        return 2;
    }
    VEK_PLAT_SetLogSink(&discardLog, nullptr);
    VEK_PLAT_SetLocalAddr("127.0.0.1", 0);
    VEK_PLAT_SetDevPort(18080, 0);
    CapturePeer peer(argv[2]);
    Recorder rec{peer, argv[1]};
    const std::string user = "admin";
    const std::string password = "secret";
    const std::string eventUrl = peer.url("/onvif/event_service");

    OnvifAlarmCfg cfg{};
    rec.record("GetEventProperties", VEK_Onvif_GetEventProperties(eventUrl.c_str(), user.c_str(),
                                                                  password.c_str(), &cfg));
    rec.record("GetEventProperties-nouser",
               VEK_Onvif_GetEventProperties(eventUrl.c_str(), "", "", &cfg));

    OnvifDevAccess access{};
    copyText(access.szEventUrl, sizeof access.szEventUrl, eventUrl);
    copyText(access.szUserName, sizeof access.szUserName, user);
    copyText(access.szPassword, sizeof access.szPassword, password);
    OnvifSmartCaps caps{1, 1, 0, 1, 1};
    int32_t sockFd = -1;
    OnvifSubInfo subInfo{};
    rec.record("Subscribe-common", VEK_Onvif_Subscribe(access.szEventUrl, VEK_ONVIF_SCOPE_COMMON,
                                                       &access, &caps, &sockFd, &subInfo));
    rec.record("Subscribe-smart", VEK_Onvif_Subscribe(access.szEventUrl, VEK_ONVIF_SCOPE_SMART,
                                                      &access, &caps, &sockFd, &subInfo));
    rec.record("Renew", VEK_Onvif_Renew(subInfo.szCommonSubAddr, subInfo.szCommonSubRef,
                                        user.c_str(), password.c_str()));
    rec.record("Renew-noref-nouser", VEK_Onvif_Renew(subInfo.szCommonSubAddr, nullptr, "", ""));
    rec.record("Unsubscribe-common", VEK_Onvif_Unsubscribe(&sockFd, user.c_str(), password.c_str(),
                                                           VEK_ONVIF_SCOPE_COMMON, &subInfo));
    rec.record("Unsubscribe-smart", VEK_Onvif_Unsubscribe(&sockFd, user.c_str(), password.c_str(),
                                                          VEK_ONVIF_SCOPE_SMART, &subInfo));
    OnvifSubInfo both{};
    sockFd = -1;
    rec.record("Subscribe-both", VEK_Onvif_Subscribe(access.szEventUrl, VEK_ONVIF_SCOPE_BOTH,
                                                     &access, &caps, &sockFd, &both));
    rec.record("Unsubscribe-both", VEK_Onvif_Unsubscribe(&sockFd, user.c_str(), password.c_str(),
                                                         VEK_ONVIF_SCOPE_BOTH, &both));

    struct soap *ctx = nullptr;
    VEK_Onvif_Event_Init(&ctx);
    char *pullPoint = nullptr;
    rec.record("CreatePullPointSubscription",
               VEK_Onvif_CreatePullPointSubscription(ctx, eventUrl.c_str(), user.c_str(),
                                                     password.c_str(), &pullPoint));
    OnvifAlarmInputList inputs{};
    OnvifPullResult result{};
    rec.record("PullMessages",
               VEK_Onvif_PullMessages(ctx, pullPoint != nullptr ? pullPoint : eventUrl.c_str(),
                                      user.c_str(), password.c_str(), &inputs, &cfg, &result));
    if (result.pstAlarmReports != nullptr) {
        ZU_MEM_FreeEx(reinterpret_cast<void **>(&result.pstAlarmReports), __FILE__, __LINE__);
    }
    if (pullPoint != nullptr) {
        ZU_MEM_FreeEx(reinterpret_cast<void **>(&pullPoint), __FILE__, __LINE__);
    }

    // The pull point with its reference parameters, each request once.
    OnvifPullPoint family{};
    rec.record("PullPoint_Create", VEK_Onvif_PullPoint_Create(ctx, eventUrl.c_str(), user.c_str(),
                                                              password.c_str(), 60, &family));
    OnvifPullResult batch{};
    rec.record("PullPoint_Pull",
               VEK_Onvif_PullPoint_Pull(ctx, &family, user.c_str(), password.c_str(), 64, 2,
                                        &inputs, &cfg, &batch));
    if (batch.pstAlarmReports != nullptr) {
        ZU_MEM_FreeEx(reinterpret_cast<void **>(&batch.pstAlarmReports), __FILE__, __LINE__);
    }
    rec.record(
        "PullPoint_SetSynchronizationPoint",
        VEK_Onvif_PullPoint_SetSynchronizationPoint(ctx, &family, user.c_str(), password.c_str()));
    rec.record("PullPoint_Renew",
               VEK_Onvif_PullPoint_Renew(ctx, &family, user.c_str(), password.c_str(), 60));
    rec.record("PullPoint_Unsubscribe",
               VEK_Onvif_PullPoint_Unsubscribe(ctx, &family, user.c_str(), password.c_str()));
    VEK_Onvif_PullPoint_Free(&family);
    VEK_Onvif_Event_Destroy(&ctx);
    VEK_Onvif_Event_FreePropeAlarm(&cfg);
    return 0;
}
