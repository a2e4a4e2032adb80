// The simulator's clock and HTTP Digest checks, hashes through OpenSSL's EVP interface.
#include "auth.h"
#include "xml_text.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdio>
#include <ctime>
#include <map>

namespace camsim::detail
{

namespace
{

std::string hex(const unsigned char *bytes, size_t size)
{
    std::string out;
    char pair[3];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        out += pair;
    }
    return out;
}

std::string hashHex(const EVP_MD *md, const std::string &text)
{
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(text.data(), text.size(), out, &size, md, nullptr);
    return hex(out, size);
}

// name -> value of "Digest a=b, c=\"d\"" (names lower-cased); nullopt for another scheme.
std::optional<std::map<std::string, std::string>> digestParameters(const std::string &header)
{
    std::string text = trim(header);
    if (text.compare(0, 7, "Digest ") != 0) {
        return std::nullopt;
    }
    std::map<std::string, std::string> out;
    size_t at = 7;
    while (at < text.size()) {
        while (at < text.size() && (text[at] == ' ' || text[at] == ',')) {
            ++at;
        }
        size_t eq = text.find('=', at);
        if (eq == std::string::npos) {
            break;
        }
        std::string name = trim(text.substr(at, eq - at));
        for (char &c : name) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        at = eq + 1;
        std::string value;
        if (at < text.size() && text[at] == '"') {
            for (++at; at < text.size() && text[at] != '"'; ++at) {
                if (text[at] == '\\' && at + 1 < text.size()) {
                    ++at;
                }
                value += text[at];
            }
            ++at;
        } else {
            size_t end = text.find(',', at);
            value = trim(text.substr(at, end == std::string::npos ? end : end - at));
            at = end == std::string::npos ? text.size() : end;
        }
        out[name] = value;
    }
    return out;
}

} // namespace

std::chrono::system_clock::time_point cameraClock(const Config &config)
{
    return std::chrono::system_clock::now() + config.clockOffset;
}

std::string httpDate(std::chrono::system_clock::time_point time)
{
    static const char *const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::time_t t = std::chrono::system_clock::to_time_t(time);
    std::tm fields{};
    gmtime_r(&t, &fields);
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[fields.tm_wday],
                  fields.tm_mday, kMonths[fields.tm_mon], fields.tm_year + 1900, fields.tm_hour,
                  fields.tm_min, fields.tm_sec);
    return text;
}

std::optional<std::chrono::system_clock::time_point> parseDateTime(const std::string &text)
{
    std::tm fields{};
    int consumed = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &fields.tm_year, &fields.tm_mon,
                    &fields.tm_mday, &fields.tm_hour, &fields.tm_min, &fields.tm_sec,
                    &consumed) != 6) {
        return std::nullopt;
    }
    fields.tm_year -= 1900;
    fields.tm_mon -= 1;
    std::string rest = text.substr(static_cast<size_t>(consumed));
    if (!rest.empty() && rest[0] == '.') {
        rest.erase(0, rest.find_first_not_of("0123456789", 1));
    }
    long zone = 0;
    if (rest.size() == 6 && (rest[0] == '+' || rest[0] == '-') && rest[3] == ':') {
        zone = (std::stol(rest.substr(1, 2)) * 3600 + std::stol(rest.substr(4, 2)) * 60) *
               (rest[0] == '-' ? -1 : 1);
    } else if (rest != "Z") {
        return std::nullopt;
    }
    std::time_t t = timegm(&fields) - zone;
    return std::chrono::system_clock::from_time_t(t);
}

bool createdInWindow(const std::string &created, const Config &config)
{
    if (!config.createdWindow) {
        return true;
    }
    auto time = parseDateTime(created);
    if (!time) {
        return false;
    }
    auto difference = *time - cameraClock(config);
    return difference <= *config.createdWindow && difference >= -*config.createdWindow;
}

std::string digestChallenge(const Config &config, const std::string &nonce, bool stale)
{
    const char *staleParameter = stale ? ", stale=true" : "";
    if (config.digestChallenge) {
        std::string challenge = *config.digestChallenge;
        constexpr std::string_view kNonce = "{nonce}";
        for (size_t at = challenge.find(kNonce); at != std::string::npos;
             at = challenge.find(kNonce, at + nonce.size())) {
            challenge.replace(at, kNonce.size(), nonce);
        }
        return challenge + staleParameter;
    }
    return "Digest realm=\"" + config.digestRealm +
           "\", qop=\"auth\", algorithm=" + config.digestAlgorithm + ", nonce=\"" + nonce +
           "\", opaque=\"" + config.digestOpaque + "\"" + staleParameter;
}

bool digestMatches(const std::string &authorization, const Config &config, const std::string &nonce,
                   const std::string &path)
{
    auto parameters = digestParameters(authorization);
    if (!parameters) {
        return false;
    }
    auto get = [&](const char *name) {
        auto found = parameters->find(name);
        return found == parameters->end() ? std::string() : found->second;
    };
    std::string algorithm = config.digestAlgorithm;
    bool session = algorithm.size() > 5 && algorithm.compare(algorithm.size() - 5, 5, "-sess") == 0;
    const EVP_MD *md = algorithm.rfind("SHA-256", 0) == 0 ? EVP_sha256() : EVP_md5();
    if (get("username") != config.user || get("realm") != config.digestRealm ||
        get("nonce") != nonce || get("opaque") != config.digestOpaque || get("uri") != path ||
        get("qop") != "auth" || get("nc").empty() || get("cnonce").empty() ||
        get("algorithm") != algorithm) {
        return false;
    }
    std::string ha1 = hashHex(md, config.user + ":" + config.digestRealm + ":" + config.password);
    if (session) {
        ha1 = hashHex(md, ha1 + ":" + nonce + ":" + get("cnonce"));
    }
    std::string ha2 = hashHex(md, "POST:" + path);
    std::string expected =
        hashHex(md, ha1 + ":" + nonce + ":" + get("nc") + ":" + get("cnonce") + ":auth:" + ha2);
    return get("response") == expected;
}

std::string makeServerNonce()
{
    unsigned char bytes[16];
    RAND_bytes(bytes, sizeof bytes);
    return hex(bytes, sizeof bytes);
}

} // namespace camsim::detail
