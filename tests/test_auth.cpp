// Logins that survive real cameras, against the camera simulator over
// loopback: a camera clock far off (one more request with Created on the
// camera's clock), HTTP Digest (the 401 challenge answered once), a wrong
// password (at most two requests), challenges that cannot be met, no
// secret in any log line; and what is kept of a camera host between calls
// (one request per call once its challenge and clock are known).
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "camera_hosts.h"
#include "camsim.h"
#include "context_fixture.h"
#include "exchange.h"
#include "http_date.h"
#include "http_digest.h"
#include "soapH.h"
#include "test_support.h"
#include "vek_onvif_event.h"

// An allocator that records what is freed: while a test arms it, every
// block handed back to operator delete is searched for one text before it
// is released. The library's strings come and go through operator new and
// delete, so a secret it left in a block it freed is found here.
namespace freed_memory
{
std::atomic<bool> armed{false};
char text[160];
size_t textLength = 0;
std::atomic<int> blocksWithText{0};

void inspect(void *block)
{
    if (block == nullptr || !armed.load(std::memory_order_relaxed)) {
        return;
    }
    if (memmem(block, malloc_usable_size(block), text, textLength) != nullptr) {
        blocksWithText.fetch_add(1);
    }
}
} // namespace freed_memory

void *operator new(size_t size)
{
    void *block = std::malloc(size != 0 ? size : 1);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

// Every form of new and delete the program uses goes through the two
// above, so that each block is freed as it was allocated (the sanitizer
// checks that too).
void *operator new[](size_t size)
{
    return operator new(size);
}

void *operator new(size_t size, const std::nothrow_t &) noexcept
{
    return std::malloc(size != 0 ? size : 1);
}

void *operator new[](size_t size, const std::nothrow_t &) noexcept
{
    return std::malloc(size != 0 ? size : 1);
}

// The blocks come from malloc in the operator new above; the compiler,
// seeing new-expressions inlined here, cannot tell.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void *block) noexcept
{
    freed_memory::inspect(block);
    std::free(block);
}

void operator delete(void *block, size_t) noexcept
{
    operator delete(block);
}

void operator delete[](void *block) noexcept
{
    operator delete(block);
}

void operator delete[](void *block, size_t) noexcept
{
    operator delete(block);
}

void operator delete(void *block, const std::nothrow_t &) noexcept
{
    operator delete(block);
}

void operator delete[](void *block, const std::nothrow_t &) noexcept
{
    operator delete(block);
}
#pragma GCC diagnostic pop

namespace
{

using namespace std::chrono_literals;
using vektest::LogCapture;

constexpr const char *kUser = "operator";
constexpr const char *kPassword = "Tr0ub4dor&3-camera";

// Seconds that put the camera's clock one day after the epoch.
std::chrono::seconds offsetTo1970()
{
    auto now = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch());
    return -now + 24h;
}

// A parameter of an Authorization value, e.g. response="...".
std::string authParameter(const std::string &authorization, const std::string &name)
{
    size_t at = authorization.find(name + "=\"");
    if (at == std::string::npos) {
        return {};
    }
    at += name.size() + 2;
    return authorization.substr(at, authorization.find('"', at) - at);
}

struct Camera {
    const char *name;
    std::chrono::seconds clockOffset;
    bool wsSecurity; // the camera checks the WS-Security token
    std::optional<std::string> digestAlgorithm;
};

class AuthTest : public vektest::ContextFixture<>
{
  protected:
    void SetUp() override
    {
        gS32AlarmDftPort = 24000 + static_cast<int32_t>(getpid() % 4000) * 2;
        ContextFixture::SetUp();
    }
    void TearDown() override
    {
        sim_.reset();
        ContextFixture::TearDown();
    }

    // A new camera on a port an earlier one may have had: nothing is known of
    // its host.
    void startCamera(const Camera &camera, camsim::Config config = {})
    {
        vek::cameraHosts().clear();
        config.user = kUser;
        config.password = kPassword;
        config.createdWindow = 5s;
        config.clockOffset = camera.clockOffset;
        config.requireAuth = camera.wsSecurity;
        config.httpDigest = camera.digestAlgorithm.has_value();
        config.digestAlgorithm = camera.digestAlgorithm.value_or("MD5");
        sim_ = std::make_unique<camsim::CameraSim>(std::move(config));
        sim_->start();
        url_ = sim_->eventServiceUrl();
        access_ = OnvifDevAccess{};
        std::snprintf(access_.szEventUrl, sizeof access_.szEventUrl, "%s", url_.c_str());
        std::snprintf(access_.szUserName, sizeof access_.szUserName, "%s", kUser);
    }

    void setPassword(const char *password)
    {
        std::snprintf(access_.szPassword, sizeof access_.szPassword, "%s", password);
    }

    // Runs one operation and returns its code and the requests the camera
    // saw for it.
    std::pair<uint32_t, std::vector<camsim::RecordedRequest>>
    run(const char *operation, const std::function<uint32_t()> &call)
    {
        size_t before = sim_->requests(operation).size();
        uint32_t code = call();
        std::vector<camsim::RecordedRequest> all = sim_->requests(operation);
        return {code, std::vector<camsim::RecordedRequest>(all.begin() + before, all.end())};
    }

    // Every operation in the order a recorder runs them, each judged by check.
    // firstContact: each as the camera host's first, nothing kept from the
    // operation before.
    void runEveryOperation(
        const char *password, bool firstContact,
        const std::function<void(const char *, uint32_t,
                                 const std::vector<camsim::RecordedRequest> &)> &check)
    {
        setPassword(password);
        auto run = [&](const char *operation, const std::function<uint32_t()> &call) {
            if (firstContact) {
                vek::cameraHosts().clear();
            }
            return this->run(operation, call);
        };
        OnvifAlarmCfg cfg{};
        auto [code, seen] = run("GetEventProperties", [&] {
            return VEK_Onvif_GetEventProperties(url_.c_str(), kUser, password, &cfg);
        });
        check("GetEventProperties", code, seen);
        VEK_Onvif_Event_FreePropeAlarm(&cfg);

        OnvifSmartCaps caps{};
        OnvifSubInfo sub{};
        int32_t fd = -1;
        std::tie(code, seen) = run("Subscribe", [&] {
            return VEK_Onvif_Subscribe(access_.szEventUrl, VEK_ONVIF_SCOPE_COMMON, &access_, &caps,
                                       &fd, &sub);
        });
        check("Subscribe", code, seen);
        if (code != VEK_ONVIF_OK) {
            // A subscription the camera never made, to ask Renew and
            // Unsubscribe of it all the same.
            std::snprintf(sub.szSmartSubAddr, sizeof sub.szSmartSubAddr, "%s",
                          (sim_->baseUrl() + "/onvif/subscription/1").c_str());
            sub.ulSmartDataSub = 1;
        }
        const char *address = code == VEK_ONVIF_OK ? sub.szCommonSubAddr : sub.szSmartSubAddr;
        const char *reference = code == VEK_ONVIF_OK ? sub.szCommonSubRef : nullptr;
        std::tie(code, seen) =
            run("Renew", [&] { return VEK_Onvif_Renew(address, reference, kUser, password); });
        check("Renew", code, seen);
        std::tie(code, seen) = run("Unsubscribe", [&] {
            return VEK_Onvif_Unsubscribe(&fd, kUser, password, VEK_ONVIF_SCOPE_BOTH, &sub);
        });
        check("Unsubscribe", code, seen);

        char *pullPoint = nullptr;
        std::tie(code, seen) = run("CreatePullPointSubscription", [&] {
            return VEK_Onvif_CreatePullPointSubscription(soap_, url_.c_str(), kUser, password,
                                                         &pullPoint);
        });
        check("CreatePullPointSubscription", code, seen);
        std::string pullAddress =
            pullPoint != nullptr ? pullPoint : sim_->baseUrl() + "/onvif/pullpoint/1";
        ZU_MEM_FreeEx(reinterpret_cast<void **>(&pullPoint), "test", __LINE__);
        vektest::MotionConfig motion;
        OnvifPullResult result{};
        std::tie(code, seen) = run("PullMessages", [&] {
            return VEK_Onvif_PullMessages(soap_, pullAddress.c_str(), kUser, password,
                                          &motion.inputs, &motion.cfg, &result);
        });
        check("PullMessages", code, seen);
    }

    // Neither the password nor anything computed from it or sent beside it
    // to prove it (token digests and nonces, the digest answer, the
    // Authorization value) appears in a log line.
    void expectNoSecretLogged(const LogCapture &log) const
    {
        std::vector<std::string> secrets = {kPassword};
        for (const camsim::RecordedRequest &request : sim_->requests()) {
            for (const std::string &value : {request.password, request.nonce, request.authorization,
                                             authParameter(request.authorization, "response"),
                                             authParameter(request.authorization, "nonce")}) {
                if (!value.empty()) {
                    secrets.push_back(value);
                }
            }
        }
        ASSERT_GT(secrets.size(), 1u);
        for (const vektest::LogLine &line : log.lines()) {
            for (const std::string &secret : secrets) {
                EXPECT_EQ(std::string::npos, line.text.find(secret))
                    << "secret in log line: " << line.text;
            }
        }
    }

    std::unique_ptr<camsim::CameraSim> sim_;
    std::string url_;
    OnvifDevAccess access_{};
};

// Every operation succeeds; a camera that refuses the first request gets
// exactly one more.
TEST_F(AuthTest, EveryOperationSucceedsWithAtMostOneExtraRequest)
{
    struct Case {
        Camera camera;
        size_t requests; // per operation
    };
    const Case cases[] = {
        {{"right clock", 0s, true, std::nullopt}, 1},
        {{"clock 3 s ahead, within both windows", 3s, true, std::nullopt}, 1},
        {{"clock an hour ahead", 3600s, true, std::nullopt}, 2},
        {{"clock an hour behind", -3600s, true, std::nullopt}, 2},
        {{"clock at 1970", offsetTo1970(), true, std::nullopt}, 2},
        {{"HTTP digest only, MD5", 0s, false, "MD5"}, 2},
        {{"HTTP digest only, SHA-256", 0s, false, "SHA-256"}, 2},
        {{"HTTP digest and WS-Security, MD5-sess", 0s, true, "MD5-sess"}, 2},
        {{"HTTP digest and WS-Security, SHA-256-sess", 0s, true, "SHA-256-sess"}, 2},
        {{"HTTP digest and a clock an hour behind", -3600s, true, "SHA-256"}, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.camera.name);
        startCamera(c.camera);
        LogCapture log;
        runEveryOperation(kPassword, true,
                          [&](const char *operation, uint32_t code,
                              const std::vector<camsim::RecordedRequest> &seen) {
                              SCOPED_TRACE(operation);
                              EXPECT_EQ(VEK_ONVIF_OK, code);
                              ASSERT_EQ(c.requests, seen.size());
                              EXPECT_EQ(200, seen.back().responseStatus);
                              if (seen.size() == 2) {
                                  EXPECT_NE(200, seen.front().responseStatus);
                                  // The second request is a message of its own.
                                  EXPECT_NE(seen.front().wsaMessageId, seen.back().wsaMessageId);
                              }
                          });
        expectNoSecretLogged(log);
        sim_.reset();
    }
}

// A wrong password costs at most two requests, whatever the camera asks for.
TEST_F(AuthTest, WrongPasswordCostsAtMostTwoRequests)
{
    struct Case {
        Camera camera;
        size_t requests;
        const char *reason; // the extra log line, or null
    };
    const Case cases[] = {
        {{"right clock", 0s, true, std::nullopt}, 1, nullptr},
        {{"clock an hour ahead", 3600s, true, std::nullopt}, 2, nullptr},
        {{"HTTP digest only", 0s, false, "MD5"}, 2, "HTTP digest refused"},
        {{"HTTP digest and WS-Security", 0s, true, "SHA-256"}, 2, "HTTP digest refused"},
        {{"HTTP digest and a clock at 1970", offsetTo1970(), true, "MD5"},
         2,
         "HTTP digest refused"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.camera.name);
        startCamera(c.camera);
        LogCapture log;
        runEveryOperation("wrong-password", true,
                          [&](const char *operation, uint32_t code,
                              const std::vector<camsim::RecordedRequest> &seen) {
                              SCOPED_TRACE(operation);
                              EXPECT_NE(VEK_ONVIF_OK, code);
                              EXPECT_EQ(c.requests, seen.size());
                              for (const camsim::RecordedRequest &request : seen) {
                                  EXPECT_NE(200, request.responseStatus);
                              }
                          });
        size_t reasons = 0;
        for (const vektest::LogLine &line : log.lines()) {
            reasons += c.reason != nullptr && line.text == c.reason ? 1 : 0;
        }
        EXPECT_EQ(c.reason != nullptr ? 6u : 0u, reasons);
        expectNoSecretLogged(log);
        sim_.reset();
    }
}

// The nonce count of an Authorization value (nc=..., unquoted).
std::string nonceCount(const std::string &authorization)
{
    size_t at = authorization.find("nc=");
    return at == std::string::npos ? std::string() : authorization.substr(at + 3, 8);
}

// Once a camera's challenge and clock are known, every later call, of any
// operation and path on the host, is one request: answered at once with the
// next nonce count and a fresh client nonce, Created on the camera's clock.
// A used-up (stale) nonce costs that call one more request.
TEST_F(AuthTest, KnownCameraCostsOneRequestPerCall)
{
    struct Case {
        Camera camera;
        int nonceUses;      // the camera's Config::digestNonceUses
        size_t requests[6]; // per operation, in runEveryOperation's order
    };
    const Case cases[] = {
        {{"HTTP digest, MD5", 0s, false, "MD5"}, 0, {2, 1, 1, 1, 1, 1}},
        {{"HTTP digest, SHA-256", 0s, false, "SHA-256"}, 0, {2, 1, 1, 1, 1, 1}},
        {{"HTTP digest and WS-Security, MD5-sess", 0s, true, "MD5-sess"}, 0, {2, 1, 1, 1, 1, 1}},
        {{"clock an hour ahead", 3600s, true, std::nullopt}, 0, {2, 1, 1, 1, 1, 1}},
        {{"HTTP digest and a clock an hour behind", -3600s, true, "SHA-256"},
         0,
         {2, 1, 1, 1, 1, 1}},
        {{"a nonce stale after two answers", 0s, true, "SHA-256-sess"}, 2, {2, 1, 2, 1, 2, 1}},
        {{"right clock, no digest", 0s, true, std::nullopt}, 0, {1, 1, 1, 1, 1, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.camera.name);
        camsim::Config config;
        config.digestNonceUses = c.nonceUses;
        startCamera(c.camera, config);
        LogCapture log;
        size_t operation = 0;
        runEveryOperation(
            kPassword, false,
            [&](const char *name, uint32_t code, const std::vector<camsim::RecordedRequest> &seen) {
                SCOPED_TRACE(name);
                EXPECT_EQ(VEK_ONVIF_OK, code);
                ASSERT_EQ(c.requests[operation++], seen.size());
                EXPECT_EQ(200, seen.back().responseStatus);
                if (seen.size() == 2) {
                    // Only a used-up nonce is asked again once it is known.
                    EXPECT_EQ(operation > 1, seen.front().digestStale);
                }
            });
        // The requests with one server nonce count 1, 2, 3, ... in hex; no
        // client nonce comes twice.
        std::map<std::string, int> counts;
        std::set<std::string> clientNonces;
        for (const camsim::RecordedRequest &request : sim_->requests()) {
            if (request.authorization.empty()) {
                continue;
            }
            EXPECT_TRUE(clientNonces.insert(authParameter(request.authorization, "cnonce")).second);
            int &count = counts[authParameter(request.authorization, "nonce")];
            char expected[9];
            std::snprintf(expected, sizeof expected, "%08x", ++count);
            EXPECT_EQ(expected, nonceCount(request.authorization));
        }
        // A camera that needs neither is not kept.
        EXPECT_EQ(c.camera.digestAlgorithm || c.camera.clockOffset != 0s ? 1u : 0u,
                  vek::cameraHosts().size());
        EXPECT_EQ(0u, log.lines().size());
        sim_.reset();
    }
}

// A wrong password after the camera's challenge is known: the answer to the
// known challenge is refused, the call ends after at most two requests with
// the line it always had, and the right password is one request again.
TEST_F(AuthTest, WrongPasswordAfterAKnownChallenge)
{
    const Camera cameras[] = {
        {"HTTP digest only", 0s, false, "MD5"},
        {"HTTP digest and WS-Security", 0s, true, "SHA-256"},
        {"HTTP digest and a clock at 1970", offsetTo1970(), true, "MD5-sess"},
    };
    for (const Camera &camera : cameras) {
        SCOPED_TRACE(camera.name);
        startCamera(camera);
        auto getProperties = [&](const char *password) {
            return run("GetEventProperties", [&] {
                OnvifAlarmCfg cfg{};
                uint32_t code = VEK_Onvif_GetEventProperties(url_.c_str(), kUser, password, &cfg);
                VEK_Onvif_Event_FreePropeAlarm(&cfg);
                return code;
            });
        };
        EXPECT_EQ(2u, getProperties(kPassword).second.size());
        LogCapture log;
        auto [code, seen] = getProperties("wrong-password");
        EXPECT_NE(VEK_ONVIF_OK, code);
        EXPECT_GE(2u, seen.size());
        for (const camsim::RecordedRequest &request : seen) {
            EXPECT_EQ(401, request.responseStatus);
        }
        EXPECT_TRUE(
            log.has(4, VEK_ONVIF_ERR_FAIL, "VEK_Onvif_GetEventProperties", "HTTP digest refused"));
        size_t refused = 0;
        for (const vektest::LogLine &line : log.lines()) {
            refused += line.text == "HTTP digest refused" ? 1 : 0;
        }
        EXPECT_EQ(1u, refused);
        expectNoSecretLogged(log);
        std::tie(code, seen) = getProperties(kPassword);
        EXPECT_EQ(VEK_ONVIF_OK, code);
        EXPECT_EQ(1u, seen.size());
        sim_.reset();
    }
}

// A challenge the library cannot meet ends the exchange after the first
// request, as any failed exchange, with one line naming the reason.
TEST_F(AuthTest, UnmeetableChallengeFailsCleanly)
{
    struct Case {
        const char *name;
        const char *challenge;
        const char *reason;
    };
    const Case cases[] = {
        {"no nonce", "Digest realm=\"camsim\", qop=\"auth\", algorithm=MD5", "HTTP digest refused"},
        {"unknown algorithm",
         "Digest realm=\"camsim\", qop=\"auth\", algorithm=SHA-512-256, nonce=\"abc\"",
         "unsupported digest algorithm SHA-512-256"},
        {"qop auth-int only", "Digest realm=\"camsim\", qop=\"auth-int\", nonce=\"abc\"",
         "HTTP digest refused"},
        // The older form without qop has no client nonce: refused, not answered.
        {"no qop", "Digest realm=\"camsim\", algorithm=MD5, nonce=\"abc\"", "HTTP digest refused"},
        {"session algorithm without qop",
         "Digest realm=\"camsim\", algorithm=SHA-256-sess, nonce=\"abc\"", "HTTP digest refused"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        camsim::Config config;
        config.digestChallenge = c.challenge;
        startCamera({c.name, 0s, false, "MD5"}, config);
        LogCapture log;
        OnvifAlarmCfg cfg{};
        EXPECT_EQ(VEK_ONVIF_ERR_SOAP,
                  VEK_Onvif_GetEventProperties(url_.c_str(), kUser, kPassword, &cfg));
        EXPECT_EQ(1u, sim_->requests("GetEventProperties").size());
        EXPECT_TRUE(log.has(4, VEK_ONVIF_ERR_FAIL, "VEK_Onvif_GetEventProperties", c.reason));
        EXPECT_TRUE(log.has(4, VEK_ONVIF_ERR_FAIL, "VEK_Onvif_GetEventProperties",
                            "Failed to get device event information, url:" + url_ + "."));
        EXPECT_TRUE(log.hasText("The camera refused the request: NotAuthorized"));
        EXPECT_EQ(3u, log.lines().size());
        expectNoSecretLogged(log);
        sim_.reset();
    }
}

// A WWW-Authenticate value may list several challenges, of several schemes,
// with commas inside quoted values: the strongest Digest challenge the
// library supports is answered with its own realm, nonce and opaque.
TEST_F(AuthTest, ChallengeListAnsweredWithTheStrongestDigest)
{
    struct Case {
        const char *name;
        const char *challenge;
        const char *algorithm; // the one the camera checks the answer with
    };
    const char *kSha256 = "Digest realm=\"camsim\", qop=\"auth\", algorithm=SHA-256, "
                          "nonce=\"{nonce}\", opaque=\"0b3f5a4c\"";
    const std::string kMd5Stale = "Digest realm=\"old\", qop=\"auth\", algorithm=MD5, "
                                  "nonce=\"n0\", opaque=\"o0\"";
    const std::string shaThenBasic = std::string(kSha256) + ", Basic realm=\"other\"";
    const std::string md5ThenSha = kMd5Stale + ", " + kSha256;
    const std::string basicThenMd5 =
        "Basic realm=\"a, b\", Digest realm=\"camsim\", qop=\"auth,auth-int\", "
        "algorithm=MD5, nonce=\"{nonce}\", opaque=\"0b3f5a4c\"";
    const std::string unsupportedThenMd5 =
        "Digest realm=\"camsim\", qop=\"auth\", algorithm=SHA-512-256, nonce=\"n1\", "
        "Digest realm=\"camsim\", algorithm=MD5, qop=\"auth\", nonce=\"{nonce}\", "
        "opaque=\"0b3f5a4c\"";
    const std::string token68ThenSha = "Negotiate YIIBhgYGKwYBBQUCoII==, " + std::string(kSha256);
    const Case cases[] = {
        {"SHA-256, then Basic", shaThenBasic.c_str(), "SHA-256"},
        {"credentials of another scheme, then SHA-256", token68ThenSha.c_str(), "SHA-256"},
        {"MD5 with another realm, then SHA-256", md5ThenSha.c_str(), "SHA-256"},
        {"Basic with a comma in its realm, then MD5", basicThenMd5.c_str(), "MD5"},
        {"an unsupported algorithm, then MD5", unsupportedThenMd5.c_str(), "MD5"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        camsim::Config config;
        config.digestChallenge = c.challenge;
        startCamera({c.name, 0s, false, c.algorithm}, config);
        OnvifAlarmCfg cfg{};
        EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_GetEventProperties(url_.c_str(), kUser, kPassword, &cfg));
        VEK_Onvif_Event_FreePropeAlarm(&cfg);
        std::vector<camsim::RecordedRequest> seen = sim_->requests("GetEventProperties");
        ASSERT_EQ(2u, seen.size());
        EXPECT_EQ(200, seen.back().responseStatus);
        EXPECT_EQ("camsim", authParameter(seen.back().authorization, "realm"));
        EXPECT_EQ("0b3f5a4c", authParameter(seen.back().authorization, "opaque"));
        sim_.reset();
    }
}

// The frame keeps the offset it measured for the caller to read.
TEST_F(AuthTest, FrameTellsTheMeasuredOffset)
{
    for (long long offset : {-7200LL, 0LL, 5400LL}) {
        SCOPED_TRACE(offset);
        startCamera({"clock", std::chrono::seconds(offset), true, std::nullopt});
        constexpr vek::RequestRow kRow = {"test",
                                          vek::Action::GetEventProperties,
                                          vek::Security::WhenUserGiven,
                                          vek::ReferenceKind::None,
                                          {"token", "addressing", false},
                                          nullptr,
                                          {"%s", vek::CallFailureLog::Form::Plain},
                                          {VEK_ONVIF_ERR_SOAP, 0}};
        vek::Exchange exchange;
        ASSERT_EQ(VEK_ONVIF_OK, exchange.prepare(kRow, {url_.c_str(), kUser, kPassword}));
        _ns1__GetEventProperties request;
        _ns1__GetEventPropertiesResponse response;
        auto stub = [&](struct soap *soap) {
            return soap_call___ns12__GetEventProperties(soap, url_.c_str(), nullptr, &request,
                                                        &response);
        };
        ASSERT_EQ(VEK_ONVIF_OK, exchange.run(kRow, url_.c_str(), stub));
        // Only a refusal is measured: a camera that accepts leaves it 0.
        if (offset == 0) {
            EXPECT_EQ(0, exchange.clockOffset());
        } else {
            EXPECT_NEAR(static_cast<double>(offset), static_cast<double>(exchange.clockOffset()),
                        2.0);
        }
        sim_.reset();
    }
}

// The digest answers of RFC 7616's example (section 3.9.1), computed for
// its GET; and what the library sends answers the simulator's challenge
// for every algorithm (above).
TEST(HttpDigest, AnswersTheRfcExample)
{
    struct Case {
        const char *algorithm;
        const char *response;
    };
    const Case cases[] = {
        {"MD5", "8ca523f5e9506fed4657c9700eebdbec"},
        {"SHA-256", "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.algorithm);
        vek::DigestChallenge challenge;
        ASSERT_TRUE(vek::parseDigestChallenge(
            std::string("Digest realm=\"http-auth@example.org\", qop=\"auth, auth-int\", "
                        "algorithm=") +
                c.algorithm +
                ", nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", "
                "opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"",
            challenge));
        std::string authorization;
        ASSERT_EQ(vek::DigestOutcome::Ready,
                  vek::answerDigestChallenge(
                      challenge, "Mufasa", "Circle of Life", "GET", "/dir/index.html",
                      "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ", authorization));
        EXPECT_EQ(c.response, authParameter(authorization, "response"));
        EXPECT_EQ("FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS",
                  authParameter(authorization, "opaque"));
        EXPECT_NE(std::string::npos, authorization.find("qop=auth, nc=00000001"));
        ASSERT_EQ(vek::DigestOutcome::Ready,
                  vek::answerDigestChallenge(challenge, "Mufasa", "Circle of Life", "GET",
                                             "/dir/index.html", "abc", authorization, 26));
        EXPECT_NE(std::string::npos, authorization.find("nc=0000001a"));
    }
    vek::DigestChallenge basic;
    EXPECT_FALSE(vek::parseDigestChallenge("Basic realm=\"camera\"", basic));
}

// HA1 (the hash of user, realm and password) opens the camera to anyone who
// holds it: no block the digest answer frees may still hold it.
TEST(HttpDigest, NoPasswordHashLeftInFreedMemory)
{
    for (const char *algorithm : {"MD5", "MD5-sess", "SHA-256", "SHA-256-sess"}) {
        SCOPED_TRACE(algorithm);
        bool sha256 = std::strncmp(algorithm, "SHA-256", 7) == 0;
        const std::string secret = std::string(kUser) + ":camsim:" + kPassword;
        unsigned char hash[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        ASSERT_EQ(1, EVP_Digest(secret.data(), secret.size(), hash, &size,
                                sha256 ? EVP_sha256() : EVP_md5(), nullptr));
        freed_memory::textLength = 0;
        for (unsigned int i = 0; i < size; ++i) {
            std::snprintf(freed_memory::text + 2 * i, 3, "%02x", hash[i]);
        }
        freed_memory::textLength = 2 * size;

        vek::DigestChallenge challenge;
        ASSERT_TRUE(vek::parseDigestChallenge(
            std::string("Digest realm=\"camsim\", qop=\"auth\", algorithm=") + algorithm +
                ", nonce=\"0123456789abcdef0123456789abcdef\", opaque=\"0b3f5a4c\"",
            challenge));
        std::string authorization;
        freed_memory::blocksWithText = 0;
        freed_memory::armed = true;
        vek::DigestOutcome outcome = vek::answerDigestChallenge(
            challenge, kUser, kPassword, "POST", "/onvif/event_service",
            "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ", authorization);
        freed_memory::armed = false;
        EXPECT_EQ(vek::DigestOutcome::Ready, outcome);
        EXPECT_EQ(0, freed_memory::blocksWithText.load());
    }
}

// A challenge's stale flag is read whatever its case or quoting.
TEST(HttpDigest, ReadsStale)
{
    struct Case {
        const char *parameter;
        bool stale;
    };
    const Case cases[] = {
        {"", false},
        {", stale=true", true},
        {", stale=TRUE", true},
        {", stale=\"true\"", true},
        {", stale=false", false},
        {", stale=\"no\"", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.parameter);
        vek::DigestChallenge challenge;
        ASSERT_TRUE(vek::parseDigestChallenge(
            std::string("Digest realm=\"camsim\", nonce=\"n2\", qop=\"auth\"") + c.parameter,
            challenge));
        EXPECT_EQ(c.stale, challenge.stale);
        EXPECT_EQ("n2", challenge.nonce);
    }
}

// The host a URL names (its port the scheme's when it has none), the table's
// bound (the entry used longest ago goes) and its age limit.
TEST(CameraHosts, KeysBoundAndAge)
{
    const std::pair<const char *, const char *> keys[] = {
        {"http://192.0.2.10/onvif/event_service", "192.0.2.10:80"},
        {"https://Cam.Example:8443/onvif?x=1", "cam.example:8443"},
        {"HTTPS://cam.example/onvif", "cam.example:443"},
        {"http://admin:pw@[fe80::1]:8080/onvif", "[fe80::1]:8080"},
        {"http://[::1]/onvif", "[::1]:80"},
        {"http:///onvif", ""},
    };
    for (const auto &[url, key] : keys) {
        EXPECT_EQ(key, vek::cameraHostKey(url)) << url;
    }

    using Clock = vek::CameraHostTable::Clock;
    vek::CameraHostTable table(3, std::chrono::minutes(10));
    const Clock::time_point start = Clock::now();
    vek::CameraHostState offset;
    offset.clockOffset = 3600;
    for (int i = 0; i < 3; ++i) {
        table.keep("host" + std::to_string(i), offset, start + std::chrono::seconds(i));
    }
    ASSERT_TRUE(table.use("host0", start + 10s)); // host1 is now the one used longest ago
    table.keep("host3", offset, start + 11s);
    EXPECT_EQ(3u, table.size());
    EXPECT_FALSE(table.use("host1", start + 12s));
    EXPECT_TRUE(table.use("host2", start + 12s));
    // Ten minutes without use: forgotten.
    EXPECT_TRUE(table.use("host3", start + 11s + 10min));
    EXPECT_FALSE(table.use("host0", start + 10s + 10min + 1s));
    // An empty state forgets the host.
    table.keep("host3", vek::CameraHostState{}, start + 12s);
    EXPECT_FALSE(table.use("host3", start + 13s));
}

TEST(HttpDate, ReadsTheCameraClock)
{
    struct Case {
        const char *text;
        std::optional<std::time_t> time;
    };
    const Case cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
        {"Sunday, 06-Nov-94 08:49:37 GMT", 784111777},
        {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
        {"Thu, 10 Dec 2026 14:30:05 GMT", 1796913005},
        {"Sun Nov  6 08:49:37 1994", 784111777},
        {"Thu Dec 10 14:30:05 2026", 1796913005},
        {"Sun, 06 Nov 1994 08:49:37 UTC", 784111777},
        {"Sun, 06 Nov 1994 08:49:37 +0000", 784111777},
        {"Sun, 06 Nov 1994 08:49:37", 784111777},
        // Another zone's time is no reading of the camera's clock in GMT.
        {"Sun, 06 Nov 1994 08:49:37 +0800", std::nullopt},
        {"Sun, 06 Nov 1994 08:49:37 CET", std::nullopt},
        {"Sun Nov  6 08:49:37 94", std::nullopt},
        {"Sun Nov 6 08:49:37 1994", 784111777},
        {"Sun, 06 Nov 1994", std::nullopt},
        {"Sun, 06 Xyz 1994 08:49:37 GMT", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        std::time_t time = 42;
        EXPECT_EQ(c.time.has_value(), vek::parseHttpDate(c.text, time));
        EXPECT_EQ(c.time.value_or(42), time);
    }
}

} // namespace
