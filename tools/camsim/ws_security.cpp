// WS-Security as a camera checks it: Base64, the password digest, the UsernameToken header and
// the time text of its Created element.
#include "camsim.h"
#include "xml_text.h"

#include <openssl/evp.h>
#include <openssl/sha.h>

#include <cctype>
#include <ctime>

namespace camsim
{

using detail::escapeXml;

std::string base64Encode(const std::string &bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int written = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()),
                                  reinterpret_cast<const unsigned char *>(bytes.data()),
                                  static_cast<int>(bytes.size()));
    out.resize(static_cast<size_t>(written));
    return out;
}

std::optional<std::string> base64Decode(const std::string &text)
{
    std::string in;
    for (char c : text) {
        if (!std::isspace(static_cast<unsigned char>(c))) {
            in += c;
        }
    }
    if (in.size() % 4 != 0) {
        return std::nullopt;
    }
    std::string out(in.size() / 4 * 3 + 1, '\0');
    int decoded = EVP_DecodeBlock(reinterpret_cast<unsigned char *>(out.data()),
                                  reinterpret_cast<const unsigned char *>(in.data()),
                                  static_cast<int>(in.size()));
    if (decoded < 0) {
        return std::nullopt;
    }
    size_t pad = 0;
    if (!in.empty() && in.back() == '=') {
        pad = (in.size() >= 2 && in[in.size() - 2] == '=') ? 2 : 1;
    }
    out.resize(static_cast<size_t>(decoded) - pad);
    return out;
}

std::string passwordDigest(const std::string &nonceBytes, const std::string &created,
                           const std::string &password)
{
    std::string input = nonceBytes + created + password;
    unsigned char digest[SHA_DIGEST_LENGTH];
    unsigned int length = 0;
    EVP_Digest(input.data(), input.size(), digest, &length, EVP_sha1(), nullptr);
    return base64Encode(std::string(reinterpret_cast<char *>(digest), length));
}

std::string securityHeader(const std::string &user, const std::string &password,
                           const std::string &nonceBytes, const std::string &created)
{
    return std::string("<wsse:Security xmlns:wsse=\"") + ns::kWsse + "\" xmlns:wsu=\"" + ns::kWsu +
           "\"><wsse:UsernameToken><wsse:Username>" + escapeXml(user) +
           "</wsse:Username><wsse:Password Type=\"" + ns::kPasswordDigest + "\">" +
           passwordDigest(nonceBytes, created, password) +
           "</wsse:Password><wsse:Nonce "
           "EncodingType=\"http://docs.oasis-open.org/wss/2004/01/"
           "oasis-200401-wss-soap-message-security-1.0#Base64Binary\">" +
           base64Encode(nonceBytes) + "</wsse:Nonce><wsu:Created>" + escapeXml(created) +
           "</wsu:Created></wsse:UsernameToken></wsse:Security>";
}

std::string formatTime(std::chrono::system_clock::time_point time)
{
    std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

} // namespace camsim
