// Event context, WS-Addressing and WS-Security headers, and SHA-1.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "soapH.h"
#include "test_support.h"
#include "vek_onvif_event_soap.h"
#include "vek_platform.h"

namespace
{

// ---- SHA-1 ------------------------------------------------------------------

std::string hex(const unsigned char *bytes, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string sha1Hex(const std::string &message, size_t piece = 0)
{
    SHA1State state;
    SHA1Reset(&state);
    const auto *data = reinterpret_cast<const unsigned char *>(message.data());
    if (piece == 0) {
        SHA1Input(data, static_cast<uint32_t>(message.size()), &state);
    } else {
        // Pieces of varying sizes: piece, piece+1, piece+2, ...
        size_t offset = 0;
        for (size_t step = piece; offset < message.size(); ++step) {
            size_t n = std::min(step, message.size() - offset);
            SHA1Input(data + offset, static_cast<uint32_t>(n), &state);
            offset += n;
        }
    }
    unsigned char digest[20];
    EXPECT_EQ(0, SHA1ResultOut(&state, digest));
    return hex(digest, 20);
}

struct DigestCase {
    std::string message;
    const char *digest;
};

// The status numbers are part of the interface: recorders store them and compare them as
// numbers, so a renumbering must be a deliberate change of this test.
TEST(StatusCodes, NumbersAreFixed)
{
    const std::pair<uint32_t, uint32_t> codes[] = {
        {VEK_ONVIF_OK, 0},         {VEK_ONVIF_ERR_SHA1, 1},    {VEK_ONVIF_ERR_SOAP, 100},
        {VEK_ONVIF_ERR_NULL, 101}, {VEK_ONVIF_ERR_PARAM, 102}, {VEK_ONVIF_ERR_NOMEM, 104},
        {VEK_ONVIF_ERR_FAIL, 112},
    };
    for (const auto &[named, number] : codes) {
        EXPECT_EQ(number, named);
    }
}

TEST(Sha1, StandardVectors)
{
    const std::vector<DigestCase> cases = {
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {std::string(55, 'a'), "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
        {std::string(56, 'a'), "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
        {std::string(63, 'a'), "03f09f5b158a7a8cdad920bddc29b81c18a551f5"},
        {std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
        {std::string(65, 'a'), "11655326c708d70319be2610e8a57d9a5b959d3b"},
    };
    for (const DigestCase &c : cases) {
        EXPECT_EQ(c.digest, sha1Hex(c.message)) << c.message.size() << " bytes";
        EXPECT_EQ(c.digest, sha1Hex(c.message, 1)) << c.message.size() << " bytes in pieces";
        EXPECT_EQ(c.digest, sha1Hex(c.message, 13)) << c.message.size() << " bytes in pieces";
    }
}

TEST(Sha1, ComputedAndCorruptedStates)
{
    SHA1State state;
    SHA1Reset(&state);
    SHA1Input(reinterpret_cast<const unsigned char *>("abc"), 3, &state);
    ASSERT_EQ(1, SHA1Result(&state));
    EXPECT_EQ(0xa9993e36u, state.Intermediate_Hash[0]);
    unsigned char first[20];
    unsigned char second[20];
    ASSERT_EQ(0, SHA1ResultOut(&state, first));
    ASSERT_EQ(0, SHA1ResultOut(&state, second));
    EXPECT_EQ(0, std::memcmp(first, second, 20)); // padded once only

    SHA1Input(reinterpret_cast<const unsigned char *>("x"), 0, &state);
    EXPECT_EQ(1, state.Computed);
    EXPECT_EQ(0, state.Corrupted);

    SHA1Input(reinterpret_cast<const unsigned char *>("x"), 1, &state);
    EXPECT_EQ(1, state.Corrupted);
    EXPECT_EQ(0, SHA1Result(&state));
    unsigned char untouched[20];
    std::memset(untouched, 0x5a, sizeof untouched);
    EXPECT_EQ(1, SHA1ResultOut(&state, untouched));
    for (unsigned char byte : untouched) {
        EXPECT_EQ(0x5a, byte);
    }
    SHA1Reset(&state);
    EXPECT_EQ(0, state.Corrupted);
}

// ---- Event context ----------------------------------------------------------

TEST(EventContext, SettingsAndLifecycle)
{
    uint32_t blocks = VEK_PLAT_GetLiveBlocks();
    struct soap *soap = nullptr;
    VEK_Onvif_Event_Init(&soap);
    ASSERT_NE(nullptr, soap);
    EXPECT_EQ(blocks + 1, VEK_PLAT_GetLiveBlocks());
    EXPECT_EQ(5, soap->recv_timeout);
    EXPECT_EQ(5, soap->send_timeout);
    EXPECT_EQ(5, soap->connect_timeout);
    EXPECT_EQ(5, soap->accept_timeout);
    EXPECT_EQ(0x2012u, soap->imode & 0x2012u);
    EXPECT_EQ(0x2012u, soap->omode & 0x2012u);
    EXPECT_EQ(eventNamespaces, soap->namespaces);
    VEK_Onvif_Event_Destroy(&soap);
    EXPECT_EQ(nullptr, soap);
    VEK_Onvif_Event_Destroy(&soap); // second destroy does nothing
    VEK_Onvif_Event_Destroy(nullptr);
    EXPECT_EQ(blocks, VEK_PLAT_GetLiveBlocks());
}

TEST(EventContext, FailuresAreLogged)
{
    vektest::LogCapture log;
    VEK_Onvif_Event_Init(nullptr);
    EXPECT_TRUE(log.has(4, VEK_ONVIF_ERR_FAIL, "VEK_Onvif_Event_Init", "Invalid input Param."));

    struct soap *soap = nullptr;
    VEK_PLAT_FailAllocAfter(0);
    VEK_Onvif_Event_Init(&soap);
    VEK_PLAT_FailAllocAfter(-1);
    EXPECT_EQ(nullptr, soap);
    EXPECT_TRUE(log.has(4, VEK_ONVIF_ERR_FAIL, "VEK_Onvif_Event_Init", "Fail to malloc memory"));
}

TEST(EventContext, DestroyClosesListeningSocketUnlessTakenOut)
{
    auto isOpen = [](int fd) {
        int type = 0;
        socklen_t len = sizeof type;
        return getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) == 0;
    };
    for (bool takeOut : {false, true}) {
        struct soap *soap = nullptr;
        VEK_Onvif_Event_Init(&soap);
        ASSERT_NE(nullptr, soap);
        int fd = static_cast<int>(soap_bind(soap, "127.0.0.1", 0, 4));
        ASSERT_GE(fd, 0);
        if (takeOut) {
            soap->master = SOAP_INVALID_SOCKET;
        }
        VEK_Onvif_Event_Destroy(&soap);
        EXPECT_EQ(takeOut, isOpen(fd));
        if (takeOut) {
            close(fd);
        }
    }
}

// A context the library did not make (a recorder's own, of another layout)
// or one already destroyed is refused before anything of it is read: the
// foreign one is a page that cannot be read at all.
TEST(EventContext, ForeignAndDestroyedContextsAreRefusedUnread)
{
    const long page = sysconf(_SC_PAGESIZE);
    void *unreadable =
        mmap(nullptr, static_cast<size_t>(page), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(MAP_FAILED, unreadable);
    struct soap *destroyed = nullptr;
    VEK_Onvif_Event_Init(&destroyed);
    ASSERT_NE(nullptr, destroyed);
    struct soap *stale = destroyed;
    VEK_Onvif_Event_Destroy(&destroyed);

    vektest::MotionConfig motion;
    char address[] = "http://127.0.0.1:1/onvif/pull";
    OnvifPullPoint pullPoint{};
    pullPoint.pszAddress = address;
    struct Call {
        const char *func;
        std::function<uint32_t(struct soap *)> run;
    };
    const std::vector<Call> calls = {
        {"VEK_Onvif_HeaderEnc", [&](struct soap *s) { return VEK_Onvif_HeaderEnc(0, address, s); }},
        {"VEK_Onvif_EncryptHeader",
         [&](struct soap *s) { return VEK_Onvif_EncryptHeader("admin", "secret", s); }},
        {"VEK_Onvif_CreatePullPointSubscription",
         [&](struct soap *s) {
             char *out = nullptr;
             return VEK_Onvif_CreatePullPointSubscription(s, address, "admin", "secret", &out);
         }},
        {"VEK_Onvif_PullMessages",
         [&](struct soap *s) {
             OnvifPullResult result{};
             return VEK_Onvif_PullMessages(s, address, "admin", "secret", &motion.inputs,
                                           &motion.cfg, &result);
         }},
        {"VEK_Onvif_PullPoint_Create",
         [&](struct soap *s) {
             OnvifPullPoint created{};
             return VEK_Onvif_PullPoint_Create(s, address, "admin", "secret", 60, &created);
         }},
        {"VEK_Onvif_PullPoint_Pull",
         [&](struct soap *s) {
             OnvifPullResult result{};
             return VEK_Onvif_PullPoint_Pull(s, &pullPoint, "admin", "secret", 10, 1,
                                             &motion.inputs, &motion.cfg, &result);
         }},
        {"VEK_Onvif_PullPoint_Renew",
         [&](struct soap *s) {
             return VEK_Onvif_PullPoint_Renew(s, &pullPoint, "admin", "secret", 60);
         }},
        {"VEK_Onvif_PullPoint_Unsubscribe",
         [&](struct soap *s) {
             return VEK_Onvif_PullPoint_Unsubscribe(s, &pullPoint, "admin", "secret");
         }},
        {"VEK_Onvif_PullPoint_SetSynchronizationPoint",
         [&](struct soap *s) {
             return VEK_Onvif_PullPoint_SetSynchronizationPoint(s, &pullPoint, "admin", "secret");
         }},
        {"VEK_Onvif_Event_DescribeError",
         [&](struct soap *s) {
             char text[64] = "unchanged";
             uint32_t code = VEK_Onvif_Event_DescribeError(s, text, sizeof text);
             EXPECT_STREQ("", text);
             return code;
         }},
    };
    for (struct soap *foreign : {static_cast<struct soap *>(unreadable), stale}) {
        for (const Call &call : calls) {
            SCOPED_TRACE(call.func);
            vektest::LogCapture log;
            EXPECT_EQ(VEK_ONVIF_ERR_PARAM, call.run(foreign));
            EXPECT_TRUE(
                log.has(4, VEK_ONVIF_ERR_PARAM, call.func, "Not a context of this library."));
            EXPECT_EQ(1u, log.lines().size());
        }
        vektest::LogCapture log;
        // The platform's log asks the library and reads nothing of the context itself.
        VEK_SOAP_PUB_LogPrintImp(foreign, "test", __LINE__, "caller", "exchange failed");
        EXPECT_TRUE(log.has(4, 0, "caller", "exchange failed"));
        struct soap *held = foreign;
        VEK_Onvif_Event_Destroy(&held);
        EXPECT_EQ(foreign, held);
        EXPECT_TRUE(log.has(4, VEK_ONVIF_ERR_PARAM, "VEK_Onvif_Event_Destroy",
                            "Not a context of this library."));
    }
    munmap(unreadable, static_cast<size_t>(page));
}

// Contexts made and destroyed on several threads at once are each accepted
// while alive.
TEST(EventContext, LiveContextsAcrossThreads)
{
    std::atomic<int> refused{0};
    auto work = [&refused] {
        for (int i = 0; i < 300; ++i) {
            struct soap *soap = nullptr;
            VEK_Onvif_Event_Init(&soap);
            if (soap == nullptr || VEK_Onvif_EncryptHeader("admin", "secret", soap) != 0) {
                ++refused;
            }
            VEK_Onvif_Event_Destroy(&soap);
        }
    };
    std::thread a(work);
    std::thread b(work);
    a.join();
    b.join();
    EXPECT_EQ(0, refused.load());
}

// What a context knows of its failure: the runtime's code, the fault and
// the HTTP status, on one line and cut to the buffer; nothing before a failure.
TEST(EventContext, DescribeErrorOfTheLastFailure)
{
    vektest::LoopbackPeer peer(
        "<?xml version=\"1.0\"?><env:Envelope "
        "xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\" "
        "xmlns:ter=\"http://www.onvif.org/ver10/error\"><env:Body><env:Fault><env:Code>"
        "<env:Value>env:Receiver</env:Value><env:Subcode><env:Value>ter:Busy</env:Value>"
        "</env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">rebooting</env:Text>"
        "</env:Reason></env:Fault></env:Body></env:Envelope>",
        500);
    struct soap *soap = nullptr;
    VEK_Onvif_Event_Init(&soap);
    ASSERT_NE(nullptr, soap);
    char text[640];
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Event_DescribeError(soap, text, sizeof text));
    EXPECT_STREQ("", text);

    // Through an operation: the platform's line carries the details with
    // the runtime's code, read through the library.
    {
        std::string url = peer.url("/onvif/pull");
        OnvifPullPoint pullPoint{};
        pullPoint.pszAddress = &url[0];
        vektest::LogCapture log;
        EXPECT_EQ(VEK_ONVIF_ERR_SOAP,
                  VEK_Onvif_PullPoint_Renew(soap, &pullPoint, "admin", "secret", 60));
        bool logged = false;
        for (const vektest::LogLine &line : log.lines()) {
            logged = logged || (line.code == SOAP_FAULT &&
                                line.text.find(" | SOAP 1.2 fault SOAP-ENV:Receiver [") !=
                                    std::string::npos &&
                                line.text.find("Busy] \"rebooting\"") != std::string::npos &&
                                line.text.find(" | HTTP 500") != std::string::npos);
        }
        EXPECT_TRUE(logged);
    }
    // Directly after a call: the fault as the context holds it.
    std::string url = peer.url("/onvif/subscription");
    _ns7__Renew request;
    _ns7__RenewResponse response;
    request.TerminationTime = soap_strdup(soap, "PT1M");
    ASSERT_EQ(SOAP_FAULT, soap_call___ns13__Renew(soap, url.c_str(), nullptr, &request, &response));
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Event_DescribeError(soap, text, sizeof text));
    std::string described = text;
    EXPECT_EQ(0u, described.find("error " + std::to_string(SOAP_FAULT) + " | ")) << described;
    EXPECT_NE(std::string::npos, described.find("Busy]")) << described;
    EXPECT_NE(std::string::npos, described.find("rebooting")) << described;
    EXPECT_EQ(std::string::npos, described.find('\n')) << described;
    EXPECT_EQ(described.size() - 11, described.rfind(" | HTTP 500")) << described;

    char small[9];
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Event_DescribeError(soap, small, sizeof small));
    EXPECT_EQ(described.substr(0, 8), small);

    vektest::LogCapture log;
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_Event_DescribeError(soap, small, 0));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_Event_DescribeError(soap, nullptr, 8));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_Event_DescribeError(nullptr, small, sizeof small));
    EXPECT_TRUE(
        log.has(4, VEK_ONVIF_ERR_PARAM, "VEK_Onvif_Event_DescribeError", "Invalid input Param."));
    VEK_Onvif_Event_Destroy(&soap);
}

TEST(NamespaceTable, RowsAndTerminator)
{
    size_t rows = 0;
    while (eventNamespaces[rows].id != nullptr) {
        ++rows;
    }
    EXPECT_EQ(25u, rows);
    EXPECT_EQ(nullptr, eventNamespaces[25].ns);
    EXPECT_STREQ("http://www.w3.org/2003/05/soap-envelope", eventNamespaces[0].ns);
    EXPECT_STREQ("http://www.w3.org/*/XMLSchema-instance", eventNamespaces[2].in);
    EXPECT_STREQ("ns7", eventNamespaces[24].id);
    EXPECT_STREQ("http://docs.oasis-open.org/wsn/b-2", eventNamespaces[24].ns);
    EXPECT_STREQ("ns15", eventNamespaces[20].id);
}

// ---- Headers ------------------------------------------------------------------

constexpr const char *kRenewResponse =
    "<?xml version=\"1.0\"?><env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\" "
    "xmlns:wsnt=\"http://docs.oasis-open.org/wsn/b-2\"><env:Body><wsnt:RenewResponse>"
    "<wsnt:TerminationTime>2026-12-10T02:00:00Z</wsnt:TerminationTime></wsnt:RenewResponse>"
    "</env:Body></env:Envelope>";

std::string base64Decode(const std::string &text)
{
    struct soap soap;
    soap_init(&soap);
    int n = 0;
    const char *raw = soap_base642s(&soap, text.c_str(), nullptr, 0, &n);
    std::string out = raw != nullptr ? std::string(raw, static_cast<size_t>(n)) : std::string();
    soap_end(&soap);
    soap_done(&soap);
    return out;
}

std::string base64Encode(const unsigned char *bytes, int n)
{
    struct soap soap;
    soap_init(&soap);
    std::string out = soap_s2base64(&soap, bytes, nullptr, n);
    soap_end(&soap);
    soap_done(&soap);
    return out;
}

// Sends one Renew through the generated stub after the header steps.
std::string sendRenew(const char *user, const char *password, uint32_t action = 3)
{
    vektest::LoopbackPeer peer(kRenewResponse);
    struct soap *soap = nullptr;
    VEK_Onvif_Event_Init(&soap);
    EXPECT_NE(nullptr, soap);
    std::string url = peer.url("/onvif/subscription/1");
    if (user != nullptr) {
        EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_EncryptHeader(user, password, soap));
    }
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_HeaderEnc(action, url.c_str(), soap));
    _ns7__Renew request;
    _ns7__RenewResponse response;
    request.TerminationTime = soap_strdup(soap, "PT1M");
    EXPECT_EQ(SOAP_OK, soap_call___ns13__Renew(soap, url.c_str(), nullptr, &request, &response));
    VEK_Onvif_Event_Destroy(&soap);
    return peer.lastBody();
}

TEST(Headers, AddressingOnTheWire)
{
    std::string body = sendRenew(nullptr, nullptr);
    EXPECT_NE(std::string::npos, body.find("/onvif/subscription/1</wsa5:To>"));
    EXPECT_EQ("http://www.w3.org/2005/08/addressing/anonymous",
              vektest::elementText(vektest::elementXml(body, "ReplyTo"), "Address"));
    // Every request is a message of its own: a random (version 4) UUID.
    std::string id = vektest::elementText(body, "MessageID");
    EXPECT_TRUE(std::regex_match(
        id, std::regex("urn:uuid:[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")))
        << id;
    EXPECT_NE(id, vektest::elementText(sendRenew(nullptr, nullptr), "MessageID"));
    EXPECT_EQ("http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/RenewRequest",
              vektest::elementText(body, "Action"));
    EXPECT_EQ("", vektest::elementXml(body, "Security"));
}

TEST(Headers, UsernameTokenDigestOnTheWire)
{
    std::string body = sendRenew("admin", "pass word");
    std::string token = vektest::elementXml(body, "UsernameToken");
    ASSERT_FALSE(token.empty());
    EXPECT_EQ("admin", vektest::elementText(token, "Username"));
    std::string nonce = base64Decode(vektest::elementText(token, "Nonce"));
    ASSERT_EQ(16u, nonce.size());
    EXPECT_EQ('\0', nonce[15]);
    std::string created = vektest::elementText(token, "Created");
    ASSERT_EQ(20u, created.size()); // e.g. 2026-12-10T01:02:03Z
    EXPECT_EQ('Z', created.back());

    SHA1State state;
    SHA1Reset(&state);
    std::string hashed = nonce + created + "pass word";
    SHA1Input(reinterpret_cast<const unsigned char *>(hashed.data()),
              static_cast<uint32_t>(hashed.size()), &state);
    unsigned char digest[20];
    ASSERT_EQ(0, SHA1ResultOut(&state, digest));
    EXPECT_EQ(base64Encode(digest, 20), vektest::elementText(token, "Password"));
    EXPECT_NE(std::string::npos,
              token.find("Type=\"http://docs.oasis-open.org/wss/2004/01/"
                         "oasis-200401-wss-username-token-profile-1.0#PasswordDigest\""));
}

TEST(Headers, EmptyPasswordDigestsNonceAndCreatedAlone)
{
    unsigned char nonce[16] = {'a', 'b'};
    unsigned char withEmpty[20];
    ASSERT_EQ(VEK_ONVIF_OK, __Onvif_CalcDigest("2026-01-01T00:00:00Z", nonce, 16, "", withEmpty));
    SHA1State state;
    SHA1Reset(&state);
    SHA1Input(nonce, 16, &state);
    SHA1Input(reinterpret_cast<const unsigned char *>("2026-01-01T00:00:00Z"), 20, &state);
    unsigned char expected[20];
    SHA1ResultOut(&state, expected);
    EXPECT_EQ(0, std::memcmp(expected, withEmpty, 20));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, __Onvif_CalcDigest(nullptr, nonce, 16, "", withEmpty));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, __Onvif_CalcDigest("x", nonce, 16, nullptr, withEmpty));
}

TEST(Headers, NonceCounterPart)
{
    char a[16];
    char b[16];
    ASSERT_EQ(VEK_ONVIF_OK, __Onvif_CalcNonce(a));
    ASSERT_EQ(VEK_ONVIF_OK, __Onvif_CalcNonce(b));
    EXPECT_EQ(15u, std::strlen(a));
    for (char c : std::string(a)) {
        EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(c)) && !std::isupper(c)) << a;
    }
    // Characters 9 to 12 are the counter; consecutive nonces differ there.
    unsigned first = std::stoul(std::string(a + 8, 4), nullptr, 16);
    unsigned second = std::stoul(std::string(b + 8, 4), nullptr, 16);
    EXPECT_EQ((first + 1) & 0xffffu, second);
    for (int i = 0; i < 65535; ++i) {
        __Onvif_CalcNonce(b);
    }
    EXPECT_EQ(std::string(a + 8, 4), std::string(b + 8, 4)); // wrapped around
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, __Onvif_CalcNonce(nullptr));
}

TEST(Headers, SecondCallReusesRecordsAndReplacesTexts)
{
    struct soap *soap = nullptr;
    VEK_Onvif_Event_Init(&soap);
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_EncryptHeader("one", "p1", soap));
    SOAP_ENV__Header *header = soap->header;
    _wsse__UsernameToken *token = header->wsse__Security->UsernameToken;
    std::string firstNonce = token->Nonce;
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_HeaderEnc(0, "http://a/", soap));
    wsa5__EndpointReferenceType *replyTo = header->wsa5__ReplyTo;
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_EncryptHeader("two", "p2", soap));
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_HeaderEnc(6, "http://b/", soap));
    EXPECT_EQ(header, soap->header);
    EXPECT_EQ(token, header->wsse__Security->UsernameToken);
    EXPECT_EQ(replyTo, header->wsa5__ReplyTo);
    EXPECT_STREQ("two", token->Username);
    EXPECT_NE(firstNonce, token->Nonce);
    EXPECT_STREQ("http://b/", header->wsa5__To);
    EXPECT_STREQ("http://www.onvif.org/ver10/events/wsdl/PullPointSubscription/PullMessagesRequest",
                 header->wsa5__Action);
    VEK_Onvif_Event_Destroy(&soap);
}

TEST(Headers, FailureRows)
{
    vektest::LogCapture log;
    struct soap *soap = nullptr;
    VEK_Onvif_Event_Init(&soap);

    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_HeaderEnc(1, "", soap));
    EXPECT_EQ(nullptr, soap->header); // nothing allocated for an empty URL
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_HeaderEnc(1, nullptr, soap));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_HeaderEnc(1, "http://a/", nullptr));
    EXPECT_EQ(3u, log.lines().size());
    EXPECT_TRUE(log.has(4, VEK_ONVIF_ERR_FAIL, "VEK_Onvif_HeaderEnc", "Invalid input Param."));

    log.clear();
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_HeaderEnc(7, "http://a/", soap));
    EXPECT_TRUE(log.has(4, VEK_ONVIF_ERR_FAIL, "VEK_Onvif_HeaderEnc", "Invalid input Param."));
    ASSERT_NE(nullptr, soap->header);
    EXPECT_STREQ("http://a/", soap->header->wsa5__To); // set before the index check
    EXPECT_NE(nullptr, soap->header->wsa5__MessageID);
    EXPECT_EQ(nullptr, soap->header->wsa5__Action);

    log.clear();
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_EncryptHeader(nullptr, "p", soap));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_EncryptHeader("u", nullptr, soap));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_EncryptHeader("u", "p", nullptr));
    ASSERT_EQ(3u, log.lines().size());
    EXPECT_EQ("vek_wsseapi_event", log.lines()[0].file);
    EXPECT_TRUE(log.has(4, VEK_ONVIF_ERR_FAIL, "VEK_Onvif_EncryptHeader", "Invalid input Param."));
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_EncryptHeader("", "", soap)); // empty texts are accepted
    VEK_Onvif_Event_Destroy(&soap);
}

} // namespace
