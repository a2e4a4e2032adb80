// A recorder with a gSOAP module of its own (recorder_module.h on the system
// runtime) and the event library in one process: each keeps its own
// serializers and namespace table, alone and at the same time. Built once
// per link layout (VEK_COEXIST_LAYOUT, see CMakeLists.txt).
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "library_session.h"
#include "recorder_peer.h"
#include "vek_platform.h"

namespace
{

constexpr const char *kToken = "recorder-token-7";

// Names the system gSOAP runtime leaves to the program (C++ callbacks by
// their mangled names): whoever defines them first in the loader's order
// serves every context of that runtime.
constexpr const char *kRuntimeCallbacks[] = {
    "_Z14soap_getheaderP4soap", "_Z14soap_putheaderP4soap", "_Z20soap_serializeheaderP4soap",
    "_Z13soap_getfaultP4soap",  "_Z13soap_putfaultP4soap",  "_Z19soap_serializefaultP4soap",
    "soap_getelement",          "soap_putelement",          "namespaces",
};

// Names of the loaded objects in the loader's search order.
std::vector<std::string> loadedObjects()
{
    std::vector<std::string> names;
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *data) {
            static_cast<std::vector<std::string> *>(data)->push_back(info->dlpi_name);
            return 0;
        },
        &names);
    return names;
}

int position(const std::vector<std::string> &names, const std::string &fragment)
{
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i].find(fragment) != std::string::npos) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::string objectOf(const void *address)
{
    Dl_info info{};
    return dladdr(address, &info) != 0 && info.dli_fname != nullptr ? info.dli_fname : "?";
}

class Coexistence : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        // Parallel test programs start their listener search at distinct ports.
        gS32AlarmDftPort = 24000 + static_cast<int32_t>(getpid() % 3000) * 2;
    }
};

// The program is linked as its name says, and the gSOAP callbacks the
// process offers by name are the recorder's: the library brings none.
TEST_F(Coexistence, LayoutAndTheCallbacksFoundByName)
{
    const std::vector<std::string> names = loadedObjects();
    const int library = position(names, "libvek_onvif_event.so");
    const int module = position(names, "libvek_coexist_recorder_module.so");
    ASSERT_GE(library, 0);
#if VEK_COEXIST_LAYOUT == 1
    EXPECT_EQ(-1, module);
#elif VEK_COEXIST_LAYOUT == 2
    ASSERT_GE(module, 0);
    EXPECT_LT(library, module);
#elif VEK_COEXIST_LAYOUT == 3
    ASSERT_GE(module, 0);
    EXPECT_GT(library, module);
#else
#error "VEK_COEXIST_LAYOUT must be 1, 2 or 3"
#endif
    const std::string recorderObject = objectOf(reinterpret_cast<void *>(&recorder::ping));
    for (const char *name : kRuntimeCallbacks) {
        void *found = dlsym(RTLD_DEFAULT, name);
        ASSERT_NE(nullptr, found) << name;
        EXPECT_EQ(recorderObject, objectOf(found)) << name;
    }
}

TEST_F(Coexistence, LibrarySessionAgainstTheCamera)
{
    EXPECT_EQ("", coexist::runLibrarySession());
}

TEST_F(Coexistence, RecorderPingCarriesItsTokenHeader)
{
    recorder::PingServer server(kToken);
    ASSERT_EQ("", server.startError());
    const recorder::PingResult result = recorder::ping(server.url(), kToken, "hello");
    ASSERT_EQ(0, result.error) << result.description;
    EXPECT_EQ("hello", result.echo);
    EXPECT_EQ(std::string("ack:") + kToken, result.token);
    // The server reads the header: a wrong token is refused.
    const recorder::PingResult refused = recorder::ping(server.url(), "other", "hello");
    EXPECT_NE(0, refused.error);
    EXPECT_NE(std::string::npos, refused.description.find("Token header")) << refused.description;
    EXPECT_EQ(1, server.answered());
}

TEST_F(Coexistence, RecorderAndLibraryAtTheSameTime)
{
    constexpr int kPings = 20;
    constexpr int kSessions = 3;
    recorder::PingServer server(kToken);
    ASSERT_EQ("", server.startError());
    std::vector<std::string> pingFailures;
    std::vector<std::string> sessionFailures;
    std::thread recorderThread([&] {
        for (int i = 0; i < kPings; ++i) {
            const std::string text = "ping " + std::to_string(i);
            const recorder::PingResult result = recorder::ping(server.url(), kToken, text);
            if (result.error != 0 || result.echo != text ||
                result.token != std::string("ack:") + kToken) {
                pingFailures.push_back(text + ": error " + std::to_string(result.error) + " " +
                                       result.description + " echo '" + result.echo + "' token '" +
                                       result.token + "'");
            }
        }
    });
    std::thread libraryThread([&] {
        for (int i = 0; i < kSessions; ++i) {
            std::string failure = coexist::runLibrarySession();
            if (!failure.empty()) {
                sessionFailures.push_back("session " + std::to_string(i) + ": " + failure);
            }
        }
    });
    recorderThread.join();
    libraryThread.join();
    EXPECT_EQ(std::vector<std::string>{}, pingFailures);
    EXPECT_EQ(std::vector<std::string>{}, sessionFailures);
    EXPECT_EQ(kPings, server.answered());
}

} // namespace
