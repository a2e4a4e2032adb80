// HTTPS event services against the simulator serving TLS: every operation
// over an https:// URL, each way a certificate is trusted or refused, the
// process-wide trust settings' arguments and bounds, the fingerprint fetch
// and a camera that answers an https:// URL in plain HTTP.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "camsim.h"
#include "test_support.h"
#include "tls_trust.h"
#include "vek_onvif_event.h"

namespace
{

using Clock = std::chrono::steady_clock;
using vektest::LogCapture;

const camsim::Identity &testCa()
{
    static const camsim::Identity ca = [] {
        camsim::CertOptions options;
        options.commonName = "vek test CA";
        options.authority = true;
        options.names.clear();
        return camsim::makeIdentity(options);
    }();
    return ca;
}

// A file of this process's own: each test process makes a test CA of its own.
std::string writeFile(const std::string &name, const std::string &text)
{
    std::string path = ::testing::TempDir() + std::to_string(getpid()) + "_" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

camsim::Identity signedByCa(camsim::CertOptions options = {})
{
    return camsim::makeIdentity(options, &testCa());
}

// "ab:CD:..." from "abcd...": the form a fingerprint is often shown in.
std::string colonUpper(const std::string &hex)
{
    std::string text;
    for (size_t i = 0; i < hex.size(); i += 2) {
        text += (i == 0 ? "" : ":") + hex.substr(i, 2);
    }
    for (char &c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

class TlsTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        vek::tls::reset();
        caFile_ = writeFile("vek_tls_ca.pem", testCa().certPem);
        descriptors_ = vektest::openDescriptorCount();
        blocks_ = VEK_PLAT_GetLiveBlocks();
    }
    void TearDown() override
    {
        sim_.reset();
        vek::tls::reset();
        std::remove(caFile_.c_str());
        EXPECT_EQ(blocks_, VEK_PLAT_GetLiveBlocks());
        EXPECT_EQ(descriptors_, vektest::openDescriptorCount());
    }

    void startCamera(std::optional<camsim::Identity> identity)
    {
        camsim::Config config;
        config.tls = std::move(identity);
        sim_ = std::make_unique<camsim::CameraSim>(std::move(config));
        sim_->start();
    }

    std::string url() const { return sim_->eventServiceUrl(); }

    uint32_t discover(const std::string &at)
    {
        OnvifAlarmCfg cfg{};
        uint32_t code = VEK_Onvif_GetEventProperties(at.c_str(), "admin", "secret", &cfg);
        VEK_Onvif_Event_FreePropeAlarm(&cfg);
        return code;
    }

    std::unique_ptr<camsim::CameraSim> sim_;
    std::string caFile_;
    int descriptors_ = 0;
    uint32_t blocks_ = 0;
};

TEST_F(TlsTest, EveryOperationWorksOverHttps)
{
    startCamera(signedByCa());
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Tls_SetTrust(VEK_ONVIF_TLS_VERIFY, caFile_.c_str()));
    ASSERT_EQ(0u, url().rfind("https://127.0.0.1:", 0));

    EXPECT_EQ(VEK_ONVIF_OK, discover(url()));

    // Push subscription: the camera is asked over TLS, the consumer stays plain HTTP.
    OnvifDevAccess access{};
    std::snprintf(access.szEventUrl, sizeof access.szEventUrl, "%s", url().c_str());
    std::snprintf(access.szUserName, sizeof access.szUserName, "admin");
    std::snprintf(access.szPassword, sizeof access.szPassword, "secret");
    OnvifSmartCaps caps{};
    OnvifSubInfo sub{};
    int32_t fd = -1;
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Subscribe(access.szEventUrl, VEK_ONVIF_SCOPE_COMMON, &access,
                                                &caps, &fd, &sub));
    EXPECT_EQ(0u, std::string(sub.szCommonSubAddr).rfind("https://", 0));
    EXPECT_EQ(0u, sim_->requests("Subscribe")
                      .at(0)
                      .body.at("ConsumerReference/Address")
                      .rfind("http://127.0.0.1:", 0));
    EXPECT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_Renew(sub.szCommonSubAddr, sub.szCommonSubRef, "admin", "secret"));
    EXPECT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_Unsubscribe(&fd, "admin", "secret", VEK_ONVIF_SCOPE_COMMON, &sub));

    vektest::MotionConfig motion;
    struct soap *soap = nullptr;
    VEK_Onvif_Event_Init(&soap);
    ASSERT_NE(nullptr, soap);
    char *address = nullptr;
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_CreatePullPointSubscription(soap, url().c_str(), "admin",
                                                                  "secret", &address));
    sim_->queueMessage(camsim::makeNotificationMessage(
        "tns1:VideoSource/MotionAlarm",
        camsim::makeSimpleMessage("2026-12-10T01:00:00Z", "Changed", "Source", "vs1", "State",
                                  "true")));
    OnvifPullResult result{};
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_PullMessages(soap, address, "admin", "secret", &motion.inputs,
                                                   &motion.cfg, &result));
    EXPECT_EQ(1u, result.ulAlarmCount);
    ZU_MEM_FreeEx(reinterpret_cast<void **>(&result.pstAlarmReports), "test", __LINE__);
    ZU_MEM_FreeEx(reinterpret_cast<void **>(&address), "test", __LINE__);

    OnvifPullPoint pullPoint{};
    ASSERT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_PullPoint_Create(soap, url().c_str(), "admin", "secret", 60, &pullPoint));
    OnvifPullResult pulled{};
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_PullPoint_Pull(soap, &pullPoint, "admin", "secret", 8, 0,
                                                     &motion.inputs, &motion.cfg, &pulled));
    ZU_MEM_FreeEx(reinterpret_cast<void **>(&pulled.pstAlarmReports), "test", __LINE__);
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_PullPoint_Renew(soap, &pullPoint, "admin", "secret", 60));
    EXPECT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_PullPoint_SetSynchronizationPoint(soap, &pullPoint, "admin", "secret"));
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_PullPoint_Unsubscribe(soap, &pullPoint, "admin", "secret"));
    VEK_Onvif_PullPoint_Free(&pullPoint);
    VEK_Onvif_Event_Destroy(&soap);

    for (const char *operation :
         {"GetEventProperties", "Subscribe", "Renew", "Unsubscribe", "CreatePullPointSubscription",
          "PullMessages", "SetSynchronizationPoint"}) {
        EXPECT_FALSE(sim_->requests(operation).empty()) << operation;
        for (const camsim::RecordedRequest &request : sim_->requests(operation)) {
            EXPECT_TRUE(request.authenticated) << operation;
        }
    }
}

enum class Signer { TestCa, Self };
enum class Pin { None, Right, Wrong };

struct TrustCase {
    const char *name;
    Signer signer;
    bool expired;
    const char *dnsName; // the certificate's only name instead of 127.0.0.1 and localhost
    bool caFile;
    uint32_t mode;
    Pin pin;
    const char *refusedAs; // null: accepted
};

void PrintTo(const TrustCase &c, std::ostream *out)
{
    *out << c.name;
}

class TrustOutcome : public TlsTest, public ::testing::WithParamInterface<TrustCase>
{
};

const TrustCase kTrustCases[] = {
    {"VerifiedByCaFile", Signer::TestCa, false, nullptr, true, VEK_ONVIF_TLS_VERIFY, Pin::None,
     nullptr},
    {"UnknownIssuerWithoutCaFile", Signer::TestCa, false, nullptr, false, VEK_ONVIF_TLS_VERIFY,
     Pin::None, "unknown issuer"},
    {"SelfSigned", Signer::Self, false, nullptr, true, VEK_ONVIF_TLS_VERIFY, Pin::None,
     "unknown issuer"},
    {"NameMismatch", Signer::TestCa, false, "camera.example", true, VEK_ONVIF_TLS_VERIFY, Pin::None,
     "name mismatch"},
    {"Expired", Signer::TestCa, true, nullptr, true, VEK_ONVIF_TLS_VERIFY, Pin::None, "expired"},
    {"PinnedWithoutCa", Signer::Self, false, "camera.example", false, VEK_ONVIF_TLS_VERIFY,
     Pin::Right, nullptr},
    {"PinMismatchDespiteCa", Signer::TestCa, false, nullptr, true, VEK_ONVIF_TLS_VERIFY, Pin::Wrong,
     "pin mismatch"},
    {"PinMismatchInModeAny", Signer::Self, false, nullptr, false, VEK_ONVIF_TLS_ANY, Pin::Wrong,
     "pin mismatch"},
    {"AnyAcceptsExpiredSelfSigned", Signer::Self, true, "camera.example", false, VEK_ONVIF_TLS_ANY,
     Pin::None, nullptr},
};

INSTANTIATE_TEST_SUITE_P(Tls, TrustOutcome, ::testing::ValuesIn(kTrustCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_P(TrustOutcome, AcceptsOrRefusesBeforeSendingTheRequest)
{
    const TrustCase &c = GetParam();
    camsim::CertOptions options;
    options.expired = c.expired;
    if (c.dnsName != nullptr) {
        options.names = {c.dnsName};
    }
    camsim::Identity identity =
        c.signer == Signer::TestCa ? signedByCa(options) : camsim::makeIdentity(options);
    startCamera(identity);
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Tls_SetTrust(c.mode, c.caFile ? caFile_.c_str() : nullptr));
    if (c.pin != Pin::None) {
        std::string pin = c.pin == Pin::Right ? identity.fingerprint : testCa().fingerprint;
        ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Tls_PinHost("127.0.0.1", pin.c_str()));
    }
    LogCapture log;
    uint32_t code = discover(url());
    if (c.refusedAs == nullptr) {
        EXPECT_EQ(VEK_ONVIF_OK, code);
        EXPECT_EQ(1u, sim_->requests("GetEventProperties").size());
        EXPECT_FALSE(log.hasText("refused"));
        return;
    }
    EXPECT_EQ(VEK_ONVIF_ERR_SOAP, code);
    EXPECT_TRUE(log.hasText(std::string("TLS certificate of 127.0.0.1 refused (") + c.refusedAs +
                            "), SHA-256 " + identity.fingerprint + "."));
    EXPECT_TRUE(sim_->requests().empty()) << "the request went to a refused camera";
}

TEST_F(TlsTest, ModeAnyWarnsOncePerHost)
{
    startCamera(camsim::makeIdentity({}));
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Tls_SetTrust(VEK_ONVIF_TLS_ANY, nullptr));
    LogCapture log;
    ASSERT_EQ(VEK_ONVIF_OK, discover(url()));
    ASSERT_EQ(VEK_ONVIF_OK, discover(url()));
    auto warnings = [&log](const std::string &host) {
        size_t count = 0;
        for (const vektest::LogLine &line : log.lines()) {
            count += line.text == "TLS certificate of " + host + " is not checked." ? 1 : 0;
        }
        return count;
    };
    EXPECT_EQ(1u, warnings("127.0.0.1"));
    std::string byName = url();
    byName.replace(byName.find("127.0.0.1"), 9, "localhost");
    ASSERT_EQ(VEK_ONVIF_OK, discover(byName));
    EXPECT_EQ(1u, warnings("localhost"));
    EXPECT_EQ(1u, warnings("127.0.0.1"));
}

TEST_F(TlsTest, SetTrustRefusesUnknownModesAndUnreadableCaFiles)
{
    LogCapture log;
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_Tls_SetTrust(2, nullptr));
    EXPECT_EQ(VEK_ONVIF_ERR_FAIL,
              VEK_Onvif_Tls_SetTrust(VEK_ONVIF_TLS_VERIFY, "/nonexistent/ca.pem"));
    std::string garbage = writeFile("vek_tls_garbage.pem", "not a certificate\n");
    EXPECT_EQ(VEK_ONVIF_ERR_FAIL, VEK_Onvif_Tls_SetTrust(VEK_ONVIF_TLS_VERIFY, garbage.c_str()));
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_Tls_SetTrust(VEK_ONVIF_TLS_ANY, caFile_.c_str()));
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_Tls_SetTrust(VEK_ONVIF_TLS_VERIFY, ""));

    // A refused setting leaves the earlier one in force.
    startCamera(signedByCa());
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Tls_SetTrust(VEK_ONVIF_TLS_VERIFY, caFile_.c_str()));
    EXPECT_EQ(VEK_ONVIF_ERR_FAIL, VEK_Onvif_Tls_SetTrust(VEK_ONVIF_TLS_VERIFY, garbage.c_str()));
    std::remove(garbage.c_str());
    EXPECT_EQ(VEK_ONVIF_OK, discover(url()));
}

TEST_F(TlsTest, PinHostChecksItsArgumentsAndKeepsAtMost1024Pins)
{
    const std::string good(64, 'a');
    const std::string longHost(256, 'h');
    struct {
        const char *host;
        std::string fingerprint;
        uint32_t expected;
    } const cases[] = {
        {nullptr, good, VEK_ONVIF_ERR_PARAM},
        {"", good, VEK_ONVIF_ERR_PARAM},
        {"cam", std::string(63, 'a'), VEK_ONVIF_ERR_PARAM},
        {"cam", std::string(65, 'a'), VEK_ONVIF_ERR_PARAM},
        {"cam", std::string(63, 'a') + "g", VEK_ONVIF_ERR_PARAM},
        {"cam", "", VEK_ONVIF_ERR_PARAM},
        {"cam", colonUpper(good), VEK_ONVIF_OK},
        {longHost.c_str(), good, VEK_ONVIF_ERR_PARAM},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.expected, VEK_Onvif_Tls_PinHost(c.host, c.fingerprint.c_str()))
            << (c.host ? c.host : "(null)") << " " << c.fingerprint;
    }
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_Tls_PinHost("cam", nullptr));
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_Tls_PinHost("never-pinned", nullptr));

    for (int i = 0; i < 1024; ++i) {
        ASSERT_EQ(VEK_ONVIF_OK,
                  VEK_Onvif_Tls_PinHost(("host-" + std::to_string(i)).c_str(), good.c_str()));
    }
    EXPECT_EQ(VEK_ONVIF_ERR_FAIL, VEK_Onvif_Tls_PinHost("host-1024", good.c_str()));
    EXPECT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_Tls_PinHost("HOST-5", std::string(64, 'b').c_str())); // replaces
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_Tls_PinHost("host-7", nullptr));
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_Tls_PinHost("host-1024", good.c_str()));
}

// Trust on first use: the fingerprint fetched without judging is the one to pin.
TEST_F(TlsTest, FetchedFingerprintIsTheCamerasAndPinsIt)
{
    camsim::Identity identity = camsim::makeIdentity({});
    startCamera(identity);
    char fingerprint[65] = {};
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Tls_FetchFingerprint(url().c_str(), fingerprint));
    EXPECT_EQ(identity.fingerprint, fingerprint);
    EXPECT_TRUE(sim_->requests().empty());

    EXPECT_EQ(VEK_ONVIF_ERR_SOAP, discover(url()));
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Tls_PinHost("127.0.0.1", colonUpper(fingerprint).c_str()));
    EXPECT_EQ(VEK_ONVIF_OK, discover(url()));

    std::string plain = url();
    plain.replace(0, 5, "http");
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_Tls_FetchFingerprint(plain.c_str(), fingerprint));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_Tls_FetchFingerprint(nullptr, fingerprint));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_Tls_FetchFingerprint(url().c_str(), nullptr));
}

TEST_F(TlsTest, PlainHttpCameraOnHttpsUrlFailsWithinTheTimeOut)
{
    startCamera(std::nullopt);
    std::string secure = url();
    secure.replace(0, 4, "https");
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Tls_SetTrust(VEK_ONVIF_TLS_ANY, nullptr));
    auto start = Clock::now();
    EXPECT_EQ(VEK_ONVIF_ERR_SOAP, discover(secure));
    char fingerprint[65] = {};
    EXPECT_EQ(VEK_ONVIF_ERR_SOAP, VEK_Onvif_Tls_FetchFingerprint(secure.c_str(), fingerprint));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(11));
    EXPECT_TRUE(sim_->requests("GetEventProperties").empty());
}

// The trust settings change while other threads connect: every connection sees a whole
// setting (the pin of its host stays), none fails.
TEST_F(TlsTest, SettingsChangeWhileCamerasConnect)
{
    camsim::Identity identity = camsim::makeIdentity({});
    startCamera(identity);
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Tls_PinHost("127.0.0.1", identity.fingerprint.c_str()));
    std::vector<uint32_t> codes(2 * 8, 99);
    std::vector<std::thread> recorders;
    for (int t = 0; t < 2; ++t) {
        recorders.emplace_back([&, t] {
            for (int i = 0; i < 8; ++i) {
                codes[t * 8 + i] = discover(url());
            }
        });
    }
    for (int i = 0; i < 200; ++i) {
        std::string host = "camera-" + std::to_string(i);
        EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_Tls_PinHost(host.c_str(), identity.fingerprint.c_str()));
        EXPECT_EQ(VEK_ONVIF_OK,
                  VEK_Onvif_Tls_SetTrust(i % 2, i % 3 == 0 ? caFile_.c_str() : nullptr));
        EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_Tls_PinHost(host.c_str(), nullptr));
    }
    for (std::thread &recorder : recorders) {
        recorder.join();
    }
    EXPECT_EQ(std::vector<uint32_t>(16, 0u), codes);
}

} // namespace
