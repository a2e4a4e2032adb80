// The calling thread's error record (VEK_Onvif_GetLastError): every request
// operation against each way a camera fails, all operations of one camera
// at once on threads of their own (the record is per thread), and the
// listener's failures.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "camsim.h"
#include "fixture_loopback.h"
#include "test_support.h"
#include "vek_onvif_event.h"

namespace
{

constexpr const char *kUser = "admin";
constexpr const char *kPassword = "secret";

// A socket on 127.0.0.1 with a port of its own, closed with the object.
class LoopbackSocket
{
  public:
    // listening: the kernel completes connections that nobody ever serves;
    // otherwise the port only refuses them.
    explicit LoopbackSocket(bool listening)
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &length) != 0 ||
            (listening && listen(fd_, 64) != 0)) {
            ADD_FAILURE() << "no loopback socket";
        }
        port_ = ntohs(address.sin_port);
    }
    ~LoopbackSocket()
    {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    LoopbackSocket(const LoopbackSocket &) = delete;
    LoopbackSocket &operator=(const LoopbackSocket &) = delete;
    int port() const { return port_; }

  private:
    int fd_ = -1;
    int port_ = 0;
};

std::string soapFault(const std::string &subcode, const std::string &reason)
{
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                       "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\" "
                       "xmlns:ter=\"http://www.onvif.org/ver10/error\"><env:Body><env:Fault>"
                       "<env:Code><env:Value>env:Sender</env:Value><env:Subcode>"
                       "<env:Value>ter:InvalidArgVal</env:Value><env:Subcode><env:Value>") +
           subcode +
           "</env:Value></env:Subcode></env:Subcode></env:Code><env:Reason>"
           "<env:Text xml:lang=\"en\">" +
           reason + "</env:Text></env:Reason></env:Fault></env:Body></env:Envelope>";
}

// What one camera does to every request, and what every request operation
// is then expected to record.
struct Camera {
    const char *name;
    std::function<std::optional<camsim::Reply>()> reply; // the answer to every request
    uint32_t kind;
    uint32_t httpStatus;
    const char *subcode = "";
    uint32_t attempts = 1;
    const char *reason = nullptr; // a part of szReason, when the camera gave one
};

camsim::Reply answer(int status, std::string body, std::string type = "text/html")
{
    camsim::Reply reply;
    reply.status = status;
    reply.body = std::move(body);
    reply.contentType = std::move(type);
    return reply;
}

// One request operation: its exported name and the call, against the
// camera whose URLs start with base, on the calling thread.
struct Operation {
    const char *name;
    std::function<uint32_t(const std::string &base, const char *password)> call;
};

uint32_t withContext(const std::function<uint32_t(struct soap *)> &call)
{
    struct soap *soap = nullptr;
    VEK_Onvif_Event_Init(&soap);
    if (soap == nullptr) {
        return 0xffffffff;
    }
    uint32_t code = call(soap);
    VEK_Onvif_Event_Destroy(&soap);
    return code;
}

OnvifPullPoint pullPointAt(const std::string &base, std::string &address)
{
    address = base + "/onvif/pullpoint/1";
    OnvifPullPoint point{};
    point.pszAddress = &address[0];
    return point;
}

const std::vector<Operation> &requestOperations()
{
    static const std::vector<Operation> operations = {
        {"VEK_Onvif_GetEventProperties",
         [](const std::string &base, const char *password) {
             OnvifAlarmCfg cfg{};
             std::string url = base + "/onvif/event_service";
             uint32_t code = VEK_Onvif_GetEventProperties(url.c_str(), kUser, password, &cfg);
             VEK_Onvif_Event_FreePropeAlarm(&cfg);
             return code;
         }},
        {"VEK_Onvif_Subscribe",
         [](const std::string &base, const char *password) {
             OnvifDevAccess access{};
             std::snprintf(access.szEventUrl, sizeof access.szEventUrl, "%s/onvif/event_service",
                           base.c_str());
             std::snprintf(access.szUserName, sizeof access.szUserName, "%s", kUser);
             std::snprintf(access.szPassword, sizeof access.szPassword, "%s", password);
             OnvifSmartCaps caps{};
             OnvifSubInfo sub{};
             int32_t fd = -1;
             uint32_t code = VEK_Onvif_Subscribe(access.szEventUrl, VEK_ONVIF_SCOPE_COMMON, &access,
                                                 &caps, &fd, &sub);
             if (fd >= 0) {
                 close(fd);
             }
             return code;
         }},
        {"VEK_Onvif_Renew",
         [](const std::string &base, const char *password) {
             std::string address = base + "/onvif/subscription/1";
             return VEK_Onvif_Renew(address.c_str(), nullptr, kUser, password);
         }},
        {"VEK_Onvif_Unsubscribe",
         [](const std::string &base, const char *password) {
             OnvifSubInfo sub{};
             sub.ulCommonAlarmSub = 1;
             std::snprintf(sub.szCommonSubAddr, sizeof sub.szCommonSubAddr,
                           "%s/onvif/subscription/1", base.c_str());
             int32_t fd = socket(AF_INET, SOCK_STREAM, 0); // closed by the call
             return VEK_Onvif_Unsubscribe(&fd, kUser, password, VEK_ONVIF_SCOPE_COMMON, &sub);
         }},
        {"VEK_Onvif_CreatePullPointSubscription",
         [](const std::string &base, const char *password) {
             return withContext([&](struct soap *soap) {
                 std::string url = base + "/onvif/event_service";
                 char *address = nullptr;
                 uint32_t code = VEK_Onvif_CreatePullPointSubscription(soap, url.c_str(), kUser,
                                                                       password, &address);
                 ZU_MEM_FreeEx(reinterpret_cast<void **>(&address), "test", __LINE__);
                 return code;
             });
         }},
        {"VEK_Onvif_PullMessages",
         [](const std::string &base, const char *password) {
             return withContext([&](struct soap *soap) {
                 std::string address = base + "/onvif/pullpoint/1";
                 vektest::MotionConfig motion;
                 OnvifPullResult result{};
                 uint32_t code = VEK_Onvif_PullMessages(soap, address.c_str(), kUser, password,
                                                        &motion.inputs, &motion.cfg, &result);
                 ZU_MEM_FreeEx(reinterpret_cast<void **>(&result.pstAlarmReports), "test",
                               __LINE__);
                 return code;
             });
         }},
        {"VEK_Onvif_PullPoint_Create",
         [](const std::string &base, const char *password) {
             return withContext([&](struct soap *soap) {
                 std::string url = base + "/onvif/event_service";
                 OnvifPullPoint point{};
                 uint32_t code =
                     VEK_Onvif_PullPoint_Create(soap, url.c_str(), kUser, password, 60, &point);
                 VEK_Onvif_PullPoint_Free(&point);
                 return code;
             });
         }},
        {"VEK_Onvif_PullPoint_Pull",
         [](const std::string &base, const char *password) {
             return withContext([&](struct soap *soap) {
                 std::string address;
                 OnvifPullPoint point = pullPointAt(base, address);
                 vektest::MotionConfig motion;
                 OnvifPullResult result{};
                 uint32_t code = VEK_Onvif_PullPoint_Pull(soap, &point, kUser, password, 8, 0,
                                                          &motion.inputs, &motion.cfg, &result);
                 ZU_MEM_FreeEx(reinterpret_cast<void **>(&result.pstAlarmReports), "test",
                               __LINE__);
                 return code;
             });
         }},
        {"VEK_Onvif_PullPoint_Renew",
         [](const std::string &base, const char *password) {
             return withContext([&](struct soap *soap) {
                 std::string address;
                 OnvifPullPoint point = pullPointAt(base, address);
                 return VEK_Onvif_PullPoint_Renew(soap, &point, kUser, password, 60);
             });
         }},
        {"VEK_Onvif_PullPoint_Unsubscribe",
         [](const std::string &base, const char *password) {
             return withContext([&](struct soap *soap) {
                 std::string address;
                 OnvifPullPoint point = pullPointAt(base, address);
                 return VEK_Onvif_PullPoint_Unsubscribe(soap, &point, kUser, password);
             });
         }},
        {"VEK_Onvif_PullPoint_SetSynchronizationPoint",
         [](const std::string &base, const char *password) {
             return withContext([&](struct soap *soap) {
                 std::string address;
                 OnvifPullPoint point = pullPointAt(base, address);
                 return VEK_Onvif_PullPoint_SetSynchronizationPoint(soap, &point, kUser, password);
             });
         }},
    };
    return operations;
}

// The fingerprint fetch takes the https:// form of a camera's address.
uint32_t fetchFingerprint(const std::string &base)
{
    std::string url = base;
    if (url.rfind("http://", 0) == 0) {
        url = "https://" + url.substr(7);
    }
    char fingerprint[65] = {0};
    return VEK_Onvif_Tls_FetchFingerprint((url + "/onvif/event_service").c_str(), fingerprint);
}

struct Outcome {
    uint32_t code = 0;
    uint32_t recordCall = 0xffffffff;
    OnvifErrorInfo info{};
};

// Runs each call on a thread of its own and reads that thread's record
// right after the call.
std::vector<Outcome> runConcurrently(const std::vector<std::function<uint32_t()>> &calls)
{
    std::vector<Outcome> outcomes(calls.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < calls.size(); ++i) {
        threads.emplace_back([&, i] {
            outcomes[i].code = calls[i]();
            outcomes[i].recordCall = VEK_Onvif_GetLastError(&outcomes[i].info);
        });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    return outcomes;
}

// One request, or two when the refusal told something new: a camera host
// whose challenge another call has met already is answered at once.
constexpr uint32_t kOneOrTwo = 99;

void expectRecord(const Outcome &outcome, const char *operation, uint32_t kind, uint32_t httpStatus,
                  const std::string &subcode, uint32_t attempts)
{
    SCOPED_TRACE(operation);
    const OnvifErrorInfo &info = outcome.info;
    EXPECT_EQ(VEK_ONVIF_OK, outcome.recordCall);
    EXPECT_NE(VEK_ONVIF_OK, outcome.code);
    EXPECT_STREQ(operation, info.szOperation);
    EXPECT_EQ(outcome.code, info.ulResult);
    EXPECT_EQ(kind, info.ulKind) << info.szReason;
    EXPECT_EQ(httpStatus, info.ulHttpStatus);
    EXPECT_EQ(subcode, info.szFaultSubcode);
    if (attempts == kOneOrTwo) {
        EXPECT_TRUE(info.ulAttempts == 1 || info.ulAttempts == 2) << info.ulAttempts;
    } else {
        EXPECT_EQ(attempts, info.ulAttempts);
    }
    EXPECT_NE('\0', info.szReason[0]);
    EXPECT_EQ(std::string(), info.szTlsFingerprint);
    EXPECT_EQ(nullptr, std::strstr(info.szReason, kPassword));
}

class ErrorRecordTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        descriptors_ = vektest::openDescriptorCount();
        blocks_ = VEK_PLAT_GetLiveBlocks();
    }
    void TearDown() override
    {
        sim_.reset();
        EXPECT_EQ(blocks_, VEK_PLAT_GetLiveBlocks());
        EXPECT_EQ(descriptors_, vektest::openDescriptorCount());
    }

    // Every request operation against base, at once.
    std::vector<Outcome> runEveryOperation(const std::string &base, const char *password)
    {
        std::vector<std::function<uint32_t()>> calls;
        for (const Operation &operation : requestOperations()) {
            calls.emplace_back(
                [&base, password, &operation] { return operation.call(base, password); });
        }
        calls.emplace_back([&base] { return fetchFingerprint(base); });
        return runConcurrently(calls);
    }

    std::string startCamera(camsim::Config config)
    {
        sim_ = std::make_unique<camsim::CameraSim>(std::move(config));
        sim_->start();
        return sim_->baseUrl();
    }

    std::unique_ptr<camsim::CameraSim> sim_;
    int descriptors_ = 0;
    uint32_t blocks_ = 0;
};

// A camera that answers, in HTTP, each way that is not what was asked.
TEST_F(ErrorRecordTest, EveryOperationTellsHowTheCameraAnswered)
{
    const std::string html = "<html><body>no such service</body></html>";
    const Camera cameras[] = {
        {"HTTP 404", [&] { return answer(404, html); }, VEK_ONVIF_FAIL_HTTP, 404},
        {"HTTP 500 without SOAP", [&] { return answer(500, html); }, VEK_ONVIF_FAIL_HTTP, 500},
        {"HTTP 501", [&] { return answer(501, html); }, VEK_ONVIF_FAIL_HTTP, 501},
        {"a SOAP fault",
         [] {
             return answer(400, soapFault("ter:NoSuchService", "No such service here"),
                           "application/soap+xml; charset=utf-8");
         },
         VEK_ONVIF_FAIL_FAULT, 400, "ter:NoSuchService", 1, "No such service here"},
        {"a NotAuthorized fault for the right password",
         [] {
             return answer(400, soapFault("ter:NotAuthorized", "Sender not Authorized"),
                           "application/soap+xml; charset=utf-8");
         },
         VEK_ONVIF_FAIL_NOT_AUTHORIZED, 400, "ter:NotAuthorized", 1, "Sender not Authorized"},
        {"HTTP 200 that is not SOAP", [] { return answer(200, "hello", "text/plain"); },
         VEK_ONVIF_FAIL_BAD_ANSWER, 200},
        {"an answer of 9 MiB",
         [] {
             // Whitespace before the envelope: read on, as XML allows.
             return answer(200, std::string(9u << 20, ' ') + soapFault("ter:X", "x"),
                           "application/soap+xml");
         },
         VEK_ONVIF_FAIL_TOO_LARGE, 200},
    };
    for (const Camera &camera : cameras) {
        SCOPED_TRACE(camera.name);
        camsim::Config config;
        config.requireAuth = false;
        config.interceptor = [&camera](const camsim::RecordedRequest &) { return camera.reply(); };
        std::string base = startCamera(std::move(config));
        std::vector<Outcome> outcomes = runEveryOperation(base, kPassword);
        const std::vector<Operation> &operations = requestOperations();
        for (size_t i = 0; i < operations.size(); ++i) {
            expectRecord(outcomes[i], operations[i].name, camera.kind, camera.httpStatus,
                         camera.subcode, camera.attempts);
            if (camera.reason != nullptr) {
                EXPECT_STREQ(camera.reason, outcomes[i].info.szReason);
            }
        }
        // https:// to a camera that speaks plain HTTP: no handshake (and
        // no request sent).
        expectRecord(outcomes.back(), "VEK_Onvif_Tls_FetchFingerprint", VEK_ONVIF_FAIL_TLS, 0, "",
                     0);
        sim_.reset();
    }
}

// Cameras that never answer: refused, silent, unknown by name, or refused
// because of their credentials or certificate.
TEST_F(ErrorRecordTest, EveryOperationTellsWhyNoAnswerCame)
{
    const std::vector<Operation> &operations = requestOperations();
    // The fetch sends no request; the others send one.
    auto expectEvery = [&](const std::vector<Outcome> &outcomes, uint32_t kind) {
        for (size_t i = 0; i < outcomes.size(); ++i) {
            bool fetch = i == operations.size();
            const char *name = fetch ? "VEK_Onvif_Tls_FetchFingerprint" : operations[i].name;
            // Subscribe asks the recorder first for its own address towards
            // the camera, which the platform cannot find for an unknown host.
            bool local = kind == VEK_ONVIF_FAIL_RESOLVE && !fetch &&
                         std::string(name) == "VEK_Onvif_Subscribe";
            expectRecord(outcomes[i], name, local ? VEK_ONVIF_FAIL_LOCAL : kind, 0, "",
                         fetch || local ? 0 : 1);
        }
    };
    {
        SCOPED_TRACE("connection refused");
        LoopbackSocket refusing(false);
        expectEvery(
            runEveryOperation("http://127.0.0.1:" + std::to_string(refusing.port()), kPassword),
            VEK_ONVIF_FAIL_CONNECT);
    }
    {
        SCOPED_TRACE("accepts and stays silent");
        LoopbackSocket silent(true);
        expectEvery(
            runEveryOperation("http://127.0.0.1:" + std::to_string(silent.port()), kPassword),
            VEK_ONVIF_FAIL_TIMEOUT);
    }
    {
        SCOPED_TRACE("host name not resolved");
        expectEvery(runEveryOperation("http://camera.invalid", kPassword), VEK_ONVIF_FAIL_RESOLVE);
    }
    {
        SCOPED_TRACE("wrong password");
        std::string base = startCamera(camsim::Config{});
        std::vector<Outcome> outcomes = runEveryOperation(base, "not-the-password");
        for (size_t i = 0; i < operations.size(); ++i) {
            expectRecord(outcomes[i], operations[i].name, VEK_ONVIF_FAIL_NOT_AUTHORIZED, 400,
                         "ter:NotAuthorized", 1);
        }
        sim_.reset();
    }
    {
        SCOPED_TRACE("wrong password, HTTP Digest: refused after the one retry");
        camsim::Config config;
        config.httpDigest = true;
        std::string base = startCamera(std::move(config));
        std::vector<Outcome> outcomes = runEveryOperation(base, "not-the-password");
        size_t retried = 0;
        for (size_t i = 0; i < operations.size(); ++i) {
            expectRecord(outcomes[i], operations[i].name, VEK_ONVIF_FAIL_NOT_AUTHORIZED, 401, "",
                         kOneOrTwo);
            retried += outcomes[i].info.ulAttempts == 2;
        }
        EXPECT_GE(retried, 1u);
        EXPECT_LE(sim_->requests().size(), 2 * operations.size());
        sim_.reset();
    }
    {
        SCOPED_TRACE("refused certificate");
        camsim::Config config;
        config.tls = camsim::makeIdentity(camsim::CertOptions{}); // self-signed
        std::string fingerprint = config.tls->fingerprint;
        std::string base = startCamera(std::move(config));
        ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Tls_SetTrust(VEK_ONVIF_TLS_VERIFY, nullptr));
        std::vector<Outcome> outcomes = runEveryOperation(base, kPassword);
        for (size_t i = 0; i < operations.size(); ++i) {
            SCOPED_TRACE(operations[i].name);
            const OnvifErrorInfo &info = outcomes[i].info;
            EXPECT_NE(VEK_ONVIF_OK, outcomes[i].code);
            EXPECT_EQ(outcomes[i].code, info.ulResult);
            EXPECT_EQ(VEK_ONVIF_FAIL_TLS, info.ulKind) << info.szReason;
            EXPECT_EQ(fingerprint, info.szTlsFingerprint);
            EXPECT_NE(nullptr, std::strstr(info.szReason, "unknown issuer")) << info.szReason;
            EXPECT_EQ(0u, info.ulHttpStatus);
        }
        // The fetch does not judge the certificate: it succeeds, and leaves
        // the record empty.
        EXPECT_EQ(VEK_ONVIF_OK, outcomes.back().code);
        EXPECT_EQ(VEK_ONVIF_FAIL_NONE, outcomes.back().info.ulKind);
        EXPECT_STREQ("", outcomes.back().info.szOperation);
        EXPECT_TRUE(sim_->requests().empty());
        sim_.reset();
    }
}

// Refused before any request, then a success: the record follows the
// thread's last operation, and null is refused.
TEST_F(ErrorRecordTest, ArgumentsAndSuccessClearTheRecord)
{
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_GetLastError(nullptr));
    OnvifAlarmCfg cfg{};
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_GetEventProperties("", kUser, kPassword, &cfg));
    OnvifErrorInfo info{};
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_GetLastError(&info));
    EXPECT_STREQ("VEK_Onvif_GetEventProperties", info.szOperation);
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, info.ulResult);
    EXPECT_EQ(VEK_ONVIF_FAIL_ARGUMENT, info.ulKind);
    EXPECT_EQ(0u, info.ulAttempts);

    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_Tls_FetchFingerprint("http://127.0.0.1/", nullptr));
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_GetLastError(&info));
    EXPECT_STREQ("VEK_Onvif_Tls_FetchFingerprint", info.szOperation);
    EXPECT_EQ(VEK_ONVIF_FAIL_ARGUMENT, info.ulKind);

    // Another thread's record is its own.
    std::thread([] {
        OnvifErrorInfo other{};
        EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_GetLastError(&other));
        EXPECT_EQ(VEK_ONVIF_FAIL_NONE, other.ulKind);
    }).join();

    std::string base = startCamera(camsim::Config{});
    EXPECT_EQ(VEK_ONVIF_OK, requestOperations()[0].call(base, kPassword));
    std::memset(&info, 0x5a, sizeof info);
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_GetLastError(&info));
    const OnvifErrorInfo empty{};
    EXPECT_EQ(0, std::memcmp(&empty, &info, sizeof info));
}

// The camera's clock, as the Date of its refusal told it.
TEST_F(ErrorRecordTest, RefusalTellsTheCameraClock)
{
    camsim::Config config;
    config.clockOffset = std::chrono::hours(2);
    std::string base = startCamera(std::move(config));
    EXPECT_NE(VEK_ONVIF_OK, requestOperations()[2].call(base, "not-the-password"));
    OnvifErrorInfo info{};
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_GetLastError(&info));
    EXPECT_EQ(VEK_ONVIF_FAIL_NOT_AUTHORIZED, info.ulKind);
    EXPECT_NEAR(7200, info.s64ClockOffset, 3);
}

// The listener's failures: a sender that is not the camera, a request too
// large, one that is no Notify, and arguments.
TEST_F(ErrorRecordTest, ListenerTellsWhyANotifyWasRefused)
{
    vektest::MotionConfig motion;
    uint32_t count = 0;
    uint32_t connected = 0;
    EXPECT_EQ(nullptr,
              VEK_Onvif_Recv_Notify(-1, &motion.cfg, &motion.inputs, nullptr, &count, &connected));
    OnvifErrorInfo info{};
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_GetLastError(&info));
    EXPECT_STREQ("VEK_Onvif_Recv_Notify", info.szOperation);
    EXPECT_EQ(VEK_ONVIF_FAIL_ARGUMENT, info.ulKind);
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, info.ulResult);

    uint16_t port = 0;
    int listenFd = vekfix::loopbackListener(16, &port);
    ASSERT_GE(listenFd, 0);
    std::string consumer = "http://127.0.0.1:" + std::to_string(port) + "/onvif_notify_server";
    std::string notify = camsim::buildNotifyEnvelope(
        {camsim::makeNotificationMessage("tns1:VideoSource/MotionAlarm",
                                         camsim::makeSimpleMessage("2026-01-01T00:00:00Z",
                                                                   "Changed", "Source", "vs0",
                                                                   "State", "true"))},
        consumer);
    struct Case {
        const char *name;
        std::string cameraUrl;
        std::string bytes;
        uint32_t kind;
        uint32_t result;
    };
    const Case cases[] = {
        {"a sender that is not the camera", "http://127.0.0.2/onvif/event_service",
         camsim::buildHttpPost(consumer, notify), VEK_ONVIF_FAIL_BAD_ANSWER, VEK_ONVIF_ERR_FAIL},
        {"a request too large", "http://127.0.0.1/onvif/event_service",
         camsim::buildHttpPost(consumer, std::string(2u << 20, ' ') + notify),
         VEK_ONVIF_FAIL_TOO_LARGE, VEK_ONVIF_ERR_FAIL},
        {"no Notify", "http://127.0.0.1/onvif/event_service",
         camsim::buildHttpPost(consumer, "<html>hello</html>"), VEK_ONVIF_FAIL_BAD_ANSWER,
         VEK_ONVIF_ERR_SOAP},
        {"a Notify", "http://127.0.0.1/onvif/event_service",
         camsim::buildHttpPost(consumer, notify), VEK_ONVIF_FAIL_NONE, VEK_ONVIF_OK},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::thread sender([&] { camsim::sendRaw(consumer, c.bytes); });
        OnvifAlarmReport *reports = vektest::receiveNotify(listenFd, &motion.cfg, &motion.inputs,
                                                           c.cameraUrl.c_str(), &count, &connected);
        sender.join();
        ZU_MEM_FreeEx(reinterpret_cast<void **>(&reports), "test", __LINE__);
        ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_GetLastError(&info));
        EXPECT_EQ(c.kind, info.ulKind) << info.szReason;
        EXPECT_EQ(c.result, info.ulResult);
    }
    close(listenFd);
}

} // namespace
