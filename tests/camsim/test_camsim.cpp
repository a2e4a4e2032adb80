// Tests of the camera simulator, driven by a plain HTTP client and hand-written SOAP.
#include "camsim.h"
#include "xml_text.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

namespace
{

using namespace std::chrono_literals;
using camsim::CameraGroup;
using camsim::CameraSim;
using camsim::Config;
using camsim::IdDeclaration;

const std::string kCorpus = CAMSIM_CORPUS_DIR;
const std::string kIdNs = "http://www.example.com/onvif/subscription";

bool haveCorpus()
{
    return std::filesystem::exists(kCorpus + "/README.md");
}

// Envelope with prefix "s" for SOAP (the simulator must not care about prefixes).
std::string envelope(const std::string &header, const std::string &body,
                     const std::string &extraNs = "")
{
    return R"(<?xml version="1.0" encoding="UTF-8"?>)"
           R"(<s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope" )"
           R"(xmlns:a="http://www.w3.org/2005/08/addressing" )"
           R"(xmlns:b="http://docs.oasis-open.org/wsn/b-2" )"
           R"(xmlns:e="http://www.onvif.org/ver10/events/wsdl")" +
           extraNs + "><s:Header>" + header + "</s:Header><s:Body>" + body +
           "</s:Body></s:Envelope>";
}

std::string auth()
{
    return camsim::securityHeader("admin", "secret");
}

struct HttpReply {
    int status = 0;
    std::string body;
};

HttpReply post(int port, const std::string &path, const std::string &xml,
               const std::string &action = "")
{
    httplib::Client cli("127.0.0.1", port);
    cli.set_connection_timeout(2, 0);
    cli.set_read_timeout(5, 0);
    std::string ct = "application/soap+xml; charset=utf-8";
    if (!action.empty())
        ct += "; action=\"" + action + "\"";
    auto res = cli.Post(path.c_str(), xml, ct.c_str());
    return res ? HttpReply{res->status, res->body} : HttpReply{};
}

std::string subscribeBody(const std::string &consumer = "http://127.0.0.1:23000/notify")
{
    return "<b:Subscribe><b:ConsumerReference><a:Address>" + consumer +
           "</a:Address></b:ConsumerReference><b:InitialTerminationTime>PT60S"
           "</b:InitialTerminationTime></b:Subscribe>";
}

// The first element with this local name in an XML text, parsed.
struct Found {
    std::string text, ns;
    bool present = false;
};
Found findIn(const std::string &xml, const std::string &local)
{
    camsim::detail::XmlTree tree(xml);
    EXPECT_TRUE(tree.ok()) << xml;
    mxml_node_t *n = camsim::detail::findDescendantByLocal(tree.root(), local);
    if (!n)
        return {};
    return {camsim::detail::textOf(n), camsim::detail::namespaceOf(n), true};
}

size_t count(const std::string &hay, const std::string &needle)
{
    size_t n = 0;
    for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1))
        ++n;
    return n;
}

class SimTest : public ::testing::Test
{
  protected:
    void startWith(Config c)
    {
        sim = std::make_unique<CameraSim>(std::move(c));
        sim->start();
    }
    void SetUp() override { startWith({}); }
    HttpReply call(const std::string &path, const std::string &header, const std::string &body,
                   const std::string &extraNs = "")
    {
        return post(sim->port(), path, envelope(header, body, extraNs));
    }
    std::unique_ptr<CameraSim> sim;
};

TEST(Digest, KnownAnswer)
{
    // Base64(SHA-1("abc")): the digest is a plain concatenation of nonce, Created, password.
    EXPECT_EQ(camsim::passwordDigest("a", "b", "c"), "qZk+NkcGgWq6PiVxeFDCbJzQ2J0=");
    EXPECT_EQ(camsim::base64Decode("AAECAw=="), std::string("\0\1\2\3", 4));
    EXPECT_FALSE(camsim::base64Decode("abc"));
}

TEST_F(SimTest, AuthenticationChecksUserAndDigest)
{
    const std::string digestType = camsim::ns::kPasswordDigest;
    std::string textType = auth();
    textType.replace(textType.find("#PasswordDigest"), 15, "#PasswordText");
    struct Case {
        const char *name;
        std::string header;
        int status;
    } cases[] = {
        {"right", auth(), 200},
        {"wrong password", camsim::securityHeader("admin", "Secret"), 400},
        {"wrong user", camsim::securityHeader("root", "secret"), 400},
        {"other nonce in digest", camsim::securityHeader("admin", "secret", "0123456789abcdeF"),
         200},
        {"PasswordText type", textType, 400},
        {"missing", "", 400},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto r = call("/onvif/event_service", c.header, "<e:GetEventProperties/>");
        EXPECT_EQ(r.status, c.status);
        if (c.status == 400) {
            EXPECT_NE(r.body.find("<SOAP-ENV:Value>SOAP-ENV:Sender</SOAP-ENV:Value><SOAP-ENV:"
                                  "Subcode><SOAP-ENV:Value>ter:NotAuthorized</SOAP-ENV:Value>"),
                      std::string::npos)
                << r.body;
            EXPECT_NE(r.body.find("xmlns:ter=\"http://www.onvif.org/ver10/error\""),
                      std::string::npos);
            EXPECT_TRUE(findIn(r.body, "Reason").present);
        } else {
            EXPECT_NE(r.body.find("GetEventPropertiesResponse"), std::string::npos);
        }
    }
    auto reqs = sim->requests();
    ASSERT_EQ(reqs.size(), std::size(cases));
    EXPECT_TRUE(reqs[0].authenticated);
    EXPECT_EQ(reqs[0].passwordType, digestType);
    EXPECT_FALSE(reqs[1].authenticated);
    EXPECT_FALSE(reqs[5].hasSecurity);
    EXPECT_EQ(reqs[5].faultSubcode, "ter:NotAuthorized");
}

TEST_F(SimTest, ExemptOperationNeedsNoSecurityHeader)
{
    Config c;
    c.authExempt = {"GetEventProperties"};
    startWith(c);
    EXPECT_EQ(call("/onvif/event_service", "", "<e:GetEventProperties/>").status, 200);
    EXPECT_EQ(call("/onvif/event_service", "", subscribeBody()).status, 400);
}

TEST_F(SimTest, RecordsRequestFields)
{
    std::string header =
        R"(<w:Action xmlns:w="http://www.w3.org/2005/08/addressing" s:mustUnderstand="true">)"
        R"(http://docs.oasis-open.org/wsn/bw-2/NotificationProducer/SubscribeRequest</w:Action>)"
        R"(<a:MessageID>urn:uuid:1234</a:MessageID>)"
        R"(<a:ReplyTo><a:Address>http://www.w3.org/2005/08/addressing/anonymous</a:Address>)"
        R"(</a:ReplyTo><a:To>http://127.0.0.1/onvif/event_service</a:To>)"
        R"(<x:Extra xmlns:x="urn:extra">  v </x:Extra>)" +
        auth();
    std::string body = R"(<b:Subscribe><b:ConsumerReference><a:Address>)"
                       R"(http://127.0.0.1:23000/onvif_notify_server</a:Address>)"
                       R"(</b:ConsumerReference><b:Filter><b:TopicExpression Dialect="urn:d">)"
                       "\n  tns1:RuleEngine//.\n</b:TopicExpression></b:Filter>"
                       R"(<b:InitialTerminationTime>PT10S</b:InitialTerminationTime>)"
                       R"(</b:Subscribe>)";
    auto r = post(sim->port(), "/onvif/event_service", envelope(header, body),
                  "http://docs.oasis-open.org/wsn/bw-2/NotificationProducer/SubscribeRequest");
    ASSERT_EQ(r.status, 200) << r.body;
    ASSERT_TRUE(sim->waitForRequests(1, 1s));
    auto q = sim->requests().at(0);
    EXPECT_EQ(q.operation, "Subscribe");
    EXPECT_EQ(q.path, "/onvif/event_service");
    EXPECT_EQ(q.httpAction,
              "http://docs.oasis-open.org/wsn/bw-2/NotificationProducer/SubscribeRequest");
    EXPECT_EQ(q.wsaAction, q.httpAction);
    EXPECT_EQ(q.wsaMessageId, "urn:uuid:1234");
    EXPECT_EQ(q.wsaReplyTo, "http://www.w3.org/2005/08/addressing/anonymous");
    EXPECT_EQ(q.wsaTo, "http://127.0.0.1/onvif/event_service");
    ASSERT_EQ(q.referenceParameters.size(), 1u);
    EXPECT_EQ(q.referenceParameters[0].namespaceUri, "urn:extra");
    EXPECT_EQ(q.referenceParameters[0].text, "  v ");
    EXPECT_NE(q.referenceParameters[0].xml.find("xmlns:x=\"urn:extra\""), std::string::npos);
    EXPECT_TRUE(q.hasSecurity && q.authenticated);
    EXPECT_EQ(q.username, "admin");
    EXPECT_EQ(q.created, "2026-12-10T01:02:03Z");
    EXPECT_EQ(camsim::base64Decode(q.nonce), "0123456789abcdef");
    EXPECT_EQ(q.body["ConsumerReference/Address"], "http://127.0.0.1:23000/onvif_notify_server");
    EXPECT_EQ(q.body["Filter/TopicExpression"], "tns1:RuleEngine//.");
    EXPECT_EQ(q.body["Filter/TopicExpression@Dialect"], "urn:d");
    EXPECT_EQ(q.body["InitialTerminationTime"], "PT10S");
    EXPECT_EQ(q.rawBody, envelope(header, body));
    EXPECT_EQ(q.responseStatus, 200);
    auto s = sim->subscription(1);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->consumerAddress, "http://127.0.0.1:23000/onvif_notify_server");
    EXPECT_EQ(s->topicFilter, "tns1:RuleEngine//.");
}

TEST_F(SimTest, RejectsMalformedAndMisroutedRequests)
{
    struct Case {
        const char *name;
        std::string path, xml, subcode;
        int status;
    } cases[] = {
        {"not xml", "/onvif/event_service", "hello", "ter:WellFormed", 400},
        {"truncated", "/onvif/event_service", envelope(auth(), subscribeBody()).substr(0, 300),
         "ter:WellFormed", 400},
        {"unknown operation", "/onvif/event_service", envelope(auth(), "<e:GetServiceX/>"),
         "ter:ActionNotSupported", 400},
        {"renew at event service", "/onvif/event_service",
         envelope(auth(), "<b:Renew><b:TerminationTime>PT1M</b:TerminationTime></b:Renew>"),
         "ter:ActionNotSupported", 400},
        {"unknown subscription", "/onvif/subscription/77", envelope(auth(), "<b:Unsubscribe/>"),
         "ter:ResourceUnknown", 400},
        {"unknown path", "/other", envelope(auth(), "<b:Unsubscribe/>"), "", 404},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto r = post(sim->port(), c.path, c.xml);
        EXPECT_EQ(r.status, c.status);
        if (!c.subcode.empty()) {
            EXPECT_NE(r.body.find(">" + c.subcode + "<"), std::string::npos) << r.body;
        }
    }
    EXPECT_EQ(sim->requests().size(), std::size(cases));
}

struct SubscribeShape {
    const char *name;
    camsim::ReferenceOptions opt;
    bool idOnElement, idOnEnvelope, address, reference;
};

TEST_F(SimTest, SubscribeResponseShapes)
{
    camsim::ReferenceOptions onElement, onEnvelope, noParams, noRef, noAddr;
    onEnvelope.idDeclaration = IdDeclaration::OnEnvelope;
    noParams.referenceParameters = false;
    noRef.omitReference = true;
    noAddr.omitAddress = true;
    const SubscribeShape shapes[] = {
        {"id declared on element", onElement, true, false, true, true},
        {"id declared on envelope", onEnvelope, false, true, true, true},
        {"no reference parameters", noParams, false, false, true, true},
        {"no subscription reference", noRef, false, false, false, false},
        {"no address", noAddr, true, false, false, true},
    };
    for (const auto &shape : shapes) {
        SCOPED_TRACE(shape.name);
        Config c;
        c.subscribe = shape.opt;
        startWith(c);
        auto r = call("/onvif/event_service", auth(), subscribeBody());
        ASSERT_EQ(r.status, 200) << r.body;
        std::string envTag = r.body.substr(0, r.body.find('>', r.body.find("Envelope")));
        EXPECT_EQ(envTag.find("xmlns:dom0=\"" + kIdNs + "\"") != std::string::npos,
                  shape.idOnEnvelope);
        EXPECT_EQ(r.body.find("<dom0:SubscriptionId xmlns:dom0=\"" + kIdNs + "\">1<") !=
                      std::string::npos,
                  shape.idOnElement);
        auto id = findIn(r.body, "SubscriptionId");
        EXPECT_EQ(id.present, shape.idOnElement || shape.idOnEnvelope);
        if (id.present) {
            EXPECT_EQ(id.ns, kIdNs); // resolvable either way
            EXPECT_EQ(id.text, "1");
        }
        auto address = findIn(r.body, "Address");
        EXPECT_EQ(address.present, shape.address);
        if (address.present) {
            EXPECT_EQ(address.text,
                      "http://127.0.0.1:" + std::to_string(sim->port()) + "/onvif/subscription/1");
        }
        EXPECT_EQ(findIn(r.body, "SubscriptionReference").present, shape.reference);
        EXPECT_TRUE(findIn(r.body, "CurrentTime").present);
        EXPECT_EQ(findIn(r.body, "TerminationTime").text.size(), 20u);
    }
}

TEST_F(SimTest, SubscribeWithoutConsumerAddressIsAFault)
{
    auto r = call("/onvif/event_service", auth(), "<b:Subscribe/>");
    EXPECT_EQ(r.status, 400);
    EXPECT_NE(r.body.find("ter:InvalidArgVal"), std::string::npos);
    EXPECT_TRUE(sim->subscriptions().empty());
}

TEST_F(SimTest, RenewChecksSubscriptionIdHeader)
{
    Config c;
    c.subscribe.padId = true; // the id the client got is wrapped in whitespace
    startWith(c);
    ASSERT_EQ(call("/onvif/event_service", auth(), subscribeBody()).status, 200);
    const std::string renew = "<b:Renew><b:TerminationTime>PT120S</b:TerminationTime></b:Renew>";
    const std::string onEnvelope = " xmlns:q=\"" + kIdNs + "\"";
    struct Case {
        const char *name;
        std::string header, extraNs, subcode;
    } cases[] = {
        {"declared on element", "<q:SubscriptionId xmlns:q=\"" + kIdNs + "\">1</q:SubscriptionId>",
         "", ""},
        {"declared on envelope", "<q:SubscriptionId>1</q:SubscriptionId>", onEnvelope, ""},
        {"default namespace, padded",
         "<SubscriptionId xmlns=\"" + kIdNs + "\"> 1\n</SubscriptionId>", "", ""},
        {"wrong value", "<q:SubscriptionId>2</q:SubscriptionId>", onEnvelope,
         "ter:ResourceUnknown"},
        {"wrong namespace", "<q:SubscriptionId xmlns:q=\"urn:other\">1</q:SubscriptionId>", "",
         "ter:ResourceUnknown"},
        {"inner declaration shadows envelope",
         "<q:SubscriptionId xmlns:q=\"urn:other\">1</q:SubscriptionId>", onEnvelope,
         "ter:ResourceUnknown"},
        {"undeclared prefix", "<q:SubscriptionId>1</q:SubscriptionId>", "", "ter:ResourceUnknown"},
        {"missing (the unique address names it)", "", "", ""},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.name);
        auto r = call("/onvif/subscription/1", k.header + auth(), renew, k.extraNs);
        EXPECT_EQ(r.status, k.subcode.empty() ? 200 : 400) << r.body;
        if (k.subcode.empty()) {
            EXPECT_TRUE(findIn(r.body, "RenewResponse").present);
        } else {
            EXPECT_NE(r.body.find(k.subcode), std::string::npos) << r.body;
        }
    }
    EXPECT_EQ(sim->subscription(1)->renewCount, 4);
}

TEST_F(SimTest, UnsubscribeRemovesSubscriptionWithoutReferenceParameters)
{
    Config c;
    c.subscribe.referenceParameters = false;
    startWith(c);
    ASSERT_EQ(call("/onvif/event_service", auth(), subscribeBody()).status, 200);
    EXPECT_EQ(call("/onvif/subscription/1", auth(),
                   "<b:Renew><b:TerminationTime>PT1M</b:TerminationTime></b:Renew>")
                  .status,
              200);
    auto first = call("/onvif/subscription/1", auth(), "<b:Unsubscribe/>");
    EXPECT_EQ(first.status, 200);
    EXPECT_TRUE(findIn(first.body, "UnsubscribeResponse").present);
    auto second = call("/onvif/subscription/1", auth(), "<b:Unsubscribe/>");
    EXPECT_EQ(second.status, 400);
    EXPECT_NE(second.body.find("ter:ResourceUnknown"), std::string::npos);
    EXPECT_TRUE(sim->subscriptions().empty());
}

TEST_F(SimTest, PullMessagesDrainsQueueWithinMessageLimit)
{
    auto created = call("/onvif/event_service", auth(),
                        "<e:CreatePullPointSubscription><e:InitialTerminationTime>PT60S"
                        "</e:InitialTerminationTime></e:CreatePullPointSubscription>");
    ASSERT_EQ(created.status, 200);
    std::string path = "/onvif/pullpoint/1";
    EXPECT_EQ(findIn(created.body, "Address").text,
              "http://127.0.0.1:" + std::to_string(sim->port()) + path);
    EXPECT_FALSE(findIn(created.body, "ReferenceParameters").present);

    for (int i = 0; i < 5; ++i)
        sim->queueMessage("tns1:Device/Trigger/DigitalInput",
                          camsim::makeSimpleMessage(
                              "2026-01-01T00:00:0" + std::to_string(i) + "Z", "Changed",
                              "InputToken", "DI" + std::to_string(i), "LogicalState", "true"));
    auto pull = [&](int limit) {
        auto r = call(path, auth(),
                      "<e:PullMessages><e:Timeout>PT5S</e:Timeout><e:MessageLimit>" +
                          std::to_string(limit) + "</e:MessageLimit></e:PullMessages>");
        EXPECT_EQ(r.status, 200) << r.body;
        EXPECT_TRUE(findIn(r.body, "PullMessagesResponse").present);
        return camsim::extractNotificationMessages(r.body);
    };
    auto a = pull(2);
    ASSERT_EQ(a.size(), 2u);
    EXPECT_NE(a[0].find("Value=\"DI0\""), std::string::npos);
    EXPECT_NE(a[1].find("Value=\"DI1\""), std::string::npos);
    EXPECT_EQ(pull(2).size(), 2u);
    auto c = pull(10);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_NE(c[0].find("Value=\"DI4\""), std::string::npos);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(pull(10).empty());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s); // Timeout PT5S is not waited out
    auto q = sim->requests("PullMessages");
    ASSERT_EQ(q.size(), 4u);
    EXPECT_EQ(q[0].body["Timeout"], "PT5S");
    EXPECT_EQ(q[0].body["MessageLimit"], "2");
    // A pull point is not a push subscription.
    EXPECT_EQ(call("/onvif/subscription/1", auth(), "<b:Unsubscribe/>").status, 400);
}

TEST_F(SimTest, PullPointAddressOptions)
{
    Config c;
    c.pullPoint.longAddress = true;
    startWith(c);
    auto r = call("/onvif/event_service", auth(), "<e:CreatePullPointSubscription/>");
    std::string address = findIn(r.body, "Address").text;
    EXPECT_GT(address.size(), 300u);
    EXPECT_EQ(address.rfind(sim->baseUrl() + "/onvif/pullpoint/1?", 0), 0u);
    // The long address still reaches the pull point (query ignored).
    auto u = camsim::parseUrl(address);
    ASSERT_TRUE(u);
    EXPECT_EQ(post(sim->port(), u->path, envelope(auth(), "<e:PullMessages/>")).status, 200);

    c.pullPoint = {};
    c.pullPoint.omitReference = true;
    startWith(c);
    r = call("/onvif/event_service", auth(), "<e:CreatePullPointSubscription/>");
    EXPECT_EQ(r.status, 200);
    EXPECT_FALSE(findIn(r.body, "SubscriptionReference").present);
    EXPECT_TRUE(findIn(r.body, "TerminationTime").present);
}

TEST_F(SimTest, ServesCorpusTopicSetsByteForByte)
{
    if (!haveCorpus())
        GTEST_SKIP() << "no corpus at " << kCorpus;
    for (const char *name : {"topicset-01.xml", "topicset-02.xml", "topicset-03.xml"}) {
        SCOPED_TRACE(name);
        Config c;
        c.topicSetFile = kCorpus + "/properties/" + name;
        startWith(c);
        std::string file = camsim::readFile(c.topicSetFile);
        auto span = camsim::detail::findElement(file, "GetEventPropertiesResponse", 0);
        ASSERT_TRUE(span);
        auto r = call("/onvif/event_service", auth(), "<e:GetEventProperties/>");
        ASSERT_EQ(r.status, 200);
        EXPECT_NE(r.body.find(file.substr(span->begin, span->end - span->begin)),
                  std::string::npos);
    }
    // The whole-envelope capture re-declares its vendor prefix and stays well-formed.
    Config c;
    c.topicSetFile = kCorpus + "/properties/topicset-01.xml";
    startWith(c);
    auto r = call("/onvif/event_service", auth(), "<e:GetEventProperties/>");
    EXPECT_NE(r.body.find("xmlns:tnsexample="), std::string::npos);
    EXPECT_EQ(count(r.body.substr(0, r.body.find("<SOAP-ENV:Header")), "xmlns:tt="), 1u);
    EXPECT_TRUE(findIn(r.body, "TopicSet").present);
}

TEST_F(SimTest, TopicSetContentIsWrapped)
{
    sim->setTopicSetXml("<tns1:Custom wstop:topic=\"true\"/>");
    auto r = call("/onvif/event_service", auth(), "<e:GetEventProperties/>");
    EXPECT_NE(r.body.find("<wstop:TopicSet><tns1:Custom wstop:topic=\"true\"/></wstop:TopicSet>"),
              std::string::npos);
    EXPECT_TRUE(findIn(r.body, "FixedTopicSet").present);
}

TEST_F(SimTest, InterceptorReplacesAnswerAfterAuthentication)
{
    Config c;
    c.interceptor = [](const camsim::RecordedRequest &r) -> std::optional<camsim::Reply> {
        if (r.operation == "GetEventProperties")
            return camsim::Reply{500, "<broken", "text/plain"};
        return std::nullopt;
    };
    startWith(c);
    auto r = call("/onvif/event_service", auth(), "<e:GetEventProperties/>");
    EXPECT_EQ(r.status, 500);
    EXPECT_EQ(r.body, "<broken");
    EXPECT_EQ(call("/onvif/event_service", "", "<e:GetEventProperties/>").status, 400);
    EXPECT_EQ(call("/onvif/event_service", auth(), subscribeBody()).status, 200);
    auto q = sim->requests();
    ASSERT_EQ(q.size(), 3u);
    EXPECT_EQ(q[0].responseStatus, 500);
    EXPECT_EQ(q[1].faultSubcode, "ter:NotAuthorized");
}

size_t entries(const char *dir)
{
    auto it = std::filesystem::directory_iterator(dir);
    return static_cast<size_t>(std::distance(it, std::filesystem::directory_iterator()));
}

TEST(Lifecycle, TakenPortThrowsAndStopIsIdempotent)
{
    const size_t fds = entries("/proc/self/fd"), threads = entries("/proc/self/task");
    {
        auto sim = std::make_unique<CameraSim>();
        sim->start();
        httplib::Client cli("127.0.0.1", sim->port());
        cli.set_keep_alive(true);
        cli.set_read_timeout(5, 0);
        for (int i = 0; i < 3; ++i) {
            auto res = cli.Post("/onvif/event_service", envelope(auth(), "<e:GetEventProperties/>"),
                                "application/soap+xml");
            ASSERT_TRUE(res);
            EXPECT_EQ(res->status, 200);
        }
        auto t0 = std::chrono::steady_clock::now();
        sim.reset(); // with the client's keep-alive connection still open
        EXPECT_LT(std::chrono::steady_clock::now() - t0, 1500ms);
    }
    EXPECT_EQ(entries("/proc/self/fd"), fds);
    // A joined thread may linger in /proc for a moment (under qemu-user its
    // host thread ends after the join has returned).
    for (int i = 0; i < 100 && entries("/proc/self/task") != threads; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(entries("/proc/self/task"), threads);

    CameraSim a;
    a.start();
    Config c;
    c.port = a.port();
    CameraSim b(c);
    EXPECT_THROW(b.start(), std::runtime_error);
    a.stop();
    a.stop();
    EXPECT_FALSE(a.running());
    EXPECT_EQ(
        post(a.port(), "/onvif/event_service", envelope(auth(), "<e:GetEventProperties/>")).status,
        0);
}

// A group serves each camera at its own prefix: requests, subscriptions and answered addresses
// are that camera's; a path of no camera (or without a prefix) is not served.
TEST(Group, EachCameraAtItsOwnPrefix)
{
    CameraGroup group(std::vector<Config>(2));
    group.start();
    ASSERT_EQ(group.port(), group.camera(1).port());
    EXPECT_EQ(group.camera(1).eventServiceUrl(),
              "http://127.0.0.1:" + std::to_string(group.port()) + "/camera/2/onvif/event_service");
    auto r = post(group.port(), "/camera/2/onvif/event_service", envelope(auth(), subscribeBody()));
    ASSERT_EQ(r.status, 200) << r.body;
    EXPECT_NE(r.body.find("/camera/2/onvif/subscription/1<"), std::string::npos) << r.body;
    EXPECT_TRUE(group.camera(0).subscriptions().empty());
    EXPECT_EQ(group.camera(1).subscriptions().size(), 1u);
    EXPECT_TRUE(group.camera(0).requests().empty());
    // Renewed at the answered address, which only camera 2 serves.
    EXPECT_EQ(post(group.port(), "/camera/2/onvif/subscription/1",
                   envelope(auth(), "<b:Renew><b:TerminationTime>PT60S</b:TerminationTime>"
                                    "</b:Renew>"))
                  .status,
              200);
    EXPECT_EQ(group.camera(1).subscription(1)->renewCount, 1);
    for (const char *path : {"/camera/1/onvif/subscription/1", "/camera/3/onvif/event_service",
                             "/onvif/event_service"}) {
        EXPECT_NE(post(group.port(), path, envelope(auth(), subscribeBody())).status, 200) << path;
    }
    EXPECT_TRUE(group.camera(0).subscriptions().empty());
    group.stop();
    EXPECT_FALSE(group.camera(0).running());
}

TEST(Corpus, ExtractsEveryNotificationMessage)
{
    if (!haveCorpus())
        GTEST_SKIP() << "no corpus at " << kCorpus;
    size_t total = 0;
    for (const auto &entry : std::filesystem::directory_iterator(kCorpus + "/notify")) {
        auto messages = camsim::extractNotificationMessages(camsim::readFile(entry.path()));
        for (const auto &m : messages) {
            EXPECT_EQ(camsim::detail::localName(m.substr(1, m.find_first_of(" >") - 1)),
                      "NotificationMessage");
            EXPECT_EQ(m.back(), '>');
            EXPECT_NE(m.rfind("NotificationMessage>"), std::string::npos);
        }
        total += messages.size();
    }
    EXPECT_EQ(total, 79u); // the count the corpus README gives
    auto eight = camsim::loadNotificationMessages(kCorpus + "/notify/pull-initial-state-01.xml");
    ASSERT_EQ(eight.size(), 8u);
    EXPECT_NE(eight[2].find("Tamper"), std::string::npos);
}

TEST(Corpus, WrapsBareMessageWithTopic)
{
    auto path = std::filesystem::temp_directory_path() /
                ("camsim-bare-" + std::to_string(::getpid()) + ".xml");
    {
        std::ofstream(path) << "<tt:Message UtcTime=\"2025-01-05T21:01:05Z\"><tt:Data>"
                               "<tt:SimpleItem Name=\"IsTamper\" Value=\"true\"/></tt:Data>"
                               "</tt:Message>\n";
    }
    auto m = camsim::loadNotificationMessages(path, "tns1:RuleEngine/CellMotionDetector/Tamper");
    std::filesystem::remove(path);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(findIn(m[0], "Topic").text, "tns1:RuleEngine/CellMotionDetector/Tamper");
    EXPECT_NE(m[0].find("<wsnt:Message><tt:Message UtcTime"), std::string::npos);
    EXPECT_THROW(camsim::loadNotificationMessages("/nonexistent/x.xml"), std::runtime_error);
}

// A one-connection consumer: accepts, reads until the peer stops sending (or a full request
// with Content-Length arrived), answers `reply` unless empty, closes.
class Listener
{
  public:
    explicit Listener(std::string reply) : reply_(std::move(reply))
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr *>(&a), len), 0);
        EXPECT_EQ(::listen(fd_, 1), 0);
        ::getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len);
        port_ = ntohs(a.sin_port);
        received_ = std::async(std::launch::async, [this] { return run(); });
    }
    ~Listener() { ::close(fd_); }
    std::string url() const
    {
        return "http://127.0.0.1:" + std::to_string(port_) + "/onvif_notify_server";
    }
    std::string received() { return received_.get(); }

  private:
    std::string run()
    {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 5000) != 1)
            return "<no connection>";
        int c = ::accept(fd_, nullptr, nullptr);
        std::string data;
        char buf[4096];
        for (;;) {
            pollfd q{c, POLLIN, 0};
            if (::poll(&q, 1, 1000) != 1)
                break;
            ssize_t n = ::recv(c, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            data.append(buf, static_cast<size_t>(n));
            size_t h = data.find("\r\n\r\n");
            size_t cl = data.find("Content-Length: ");
            if (h != std::string::npos && cl != std::string::npos &&
                data.size() >= h + 4 + std::stoul(data.substr(cl + 16)))
                break;
        }
        if (!reply_.empty())
            ::send(c, reply_.data(), reply_.size(), MSG_NOSIGNAL);
        ::close(c);
        return data;
    }
    int fd_ = -1;
    int port_ = 0;
    std::string reply_;
    std::future<std::string> received_;
};

TEST(Push, NotifyCarriesCorpusMessagesAndDeclaresPrefixes)
{
    if (!haveCorpus())
        GTEST_SKIP() << "no corpus at " << kCorpus;
    auto messages = camsim::loadNotificationMessages(kCorpus + "/notify/pull-initial-state-01.xml");
    Listener consumer("HTTP/1.1 202 Accepted\r\nContent-Length: 0\r\n\r\n");
    auto result = camsim::pushNotify(consumer.url(), messages);
    std::string got = consumer.received();
    EXPECT_TRUE(result.sent) << result.error;
    EXPECT_EQ(result.status, 202);

    size_t split = got.find("\r\n\r\n");
    ASSERT_NE(split, std::string::npos);
    std::string head = got.substr(0, split), body = got.substr(split + 4);
    EXPECT_EQ(head.rfind("POST /onvif_notify_server HTTP/1.1\r\n", 0), 0u);
    EXPECT_NE(head.find("Content-Type: application/soap+xml; charset=utf-8; action=\"" +
                        std::string(camsim::ns::kNotifyAction) + "\""),
              std::string::npos);
    EXPECT_NE(head.find("Content-Length: " + std::to_string(body.size())), std::string::npos);
    EXPECT_EQ(camsim::extractNotificationMessages(body), messages);

    camsim::detail::XmlTree tree(body);
    ASSERT_TRUE(tree.ok());
    mxml_node_t *wrapper = camsim::detail::findDescendantByLocal(tree.root(), "Message");
    mxml_node_t *inner = camsim::detail::firstChildElement(wrapper);
    EXPECT_EQ(camsim::detail::namespaceOf(inner), camsim::ns::kTt); // tt: resolves via Envelope
    auto action = findIn(body, "Action");
    EXPECT_EQ(action.text, camsim::ns::kNotifyAction);
    EXPECT_NE(body.find("mustUnderstand=\"true\">" + std::string(camsim::ns::kNotifyAction)),
              std::string::npos);
    EXPECT_EQ(findIn(body, "To").text, consumer.url());
    EXPECT_EQ(findIn(body, "MessageID").text.rfind("urn:uuid:", 0), 0u);
}

TEST(Push, SubscriptionConsumerGetsNotify)
{
    CameraSim sim;
    sim.start();
    Listener consumer("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    ASSERT_EQ(
        post(sim.port(), "/onvif/event_service", envelope(auth(), subscribeBody(consumer.url())))
            .status,
        200);
    auto msg = camsim::makeNotificationMessage("tns1:RuleEngine/CellMotionDetector/Motion",
                                               camsim::makeSimpleMessage("2026-01-01T00:00:00Z",
                                                                         "Changed", "Source", "VS1",
                                                                         "IsMotion", "true"));
    auto result = sim.notify(1, {msg});
    EXPECT_EQ(result.status, 200) << result.error;
    EXPECT_NE(consumer.received().find(msg), std::string::npos);
    EXPECT_FALSE(sim.notify(2, {msg}).connected);
}

TEST(Push, HostileSendsArriveAsGiven)
{
    const std::string body = envelope("", "<b:Notify/>");
    camsim::HttpPostOptions chunked;
    chunked.chunked = true;
    chunked.chunkSize = 100;
    camsim::HttpPostOptions wrongLength;
    wrongLength.contentLength = "99999";
    camsim::SendOptions slow;
    slow.chunkSize = 7;
    slow.delayPerChunk = 1ms;
    camsim::SendOptions early;
    early.closeAfter = 50;
    struct Case {
        const char *name;
        camsim::HttpPostOptions post;
        camsim::SendOptions send;
        bool sent;
    } cases[] = {
        {"chunked", chunked, {}, true},
        {"slow sender", {}, slow, true},
        {"closes early", {}, early, false},
        {"wrong content length", wrongLength, {}, true},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        Listener consumer(""); // answers nothing, just closes
        std::string bytes = camsim::buildHttpPost(consumer.url(), body, c.post);
        c.send.ioTimeout = 1500ms;
        auto result = camsim::sendRaw(consumer.url(), bytes, c.send);
        std::string got = consumer.received();
        EXPECT_EQ(result.sent, c.sent) << result.error;
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(got, c.sent ? bytes : bytes.substr(0, 50));
    }
    std::string chunkedBytes = camsim::buildHttpPost("http://127.0.0.1:1/x", "abcdefghij", [] {
        camsim::HttpPostOptions o;
        o.chunked = true;
        o.chunkSize = 4;
        return o;
    }());
    EXPECT_NE(chunkedBytes.find("\r\n\r\n4\r\nabcd\r\n4\r\nefgh\r\n2\r\nij\r\n0\r\n\r\n"),
              std::string::npos);
    EXPECT_FALSE(camsim::sendRaw("http://192.0.2.1:80/", "x").connected); // local only
}

} // namespace
