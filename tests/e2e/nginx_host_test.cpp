// The real setup against a real server: Debian's nginx, configured by the publisher's sample
// (tools/nginx/download-host.conf), in the states a published release can be in. tests/e2e/nginx-row puts
// the server in one state per CTest test (NginxHost.<row>) and names it in LUMIVANCE_NGINX_ROW; this test
// runs setup once against it and checks what the user saw, what nginx logged and that setup left nothing.
// The fault host of the other end-to-end tests produces these answers by hand; here they are nginx's own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "tests/e2e/end_to_end_fixture.h"

namespace lumivance::e2e {
namespace {

using ::testing::HasSubstr;
using namespace std::chrono_literals;

constexpr wchar_t kUnavailable[] = L"The installer is temporarily unavailable. Please try again shortly.";

struct Row {
    const char* name;
    int status;               // what nginx logs for setup's one request; 0: no request reaches it
    const wchar_t* sentence;  // the failure box's sentence; nullptr: setup installs
    const char* cipherPart;   // part of the negotiated suite's name that proves the certificate's key type
};

// A server whose answers setup must accept or refuse; every refusal costs exactly one request.
const Row kRows[] = {
    {"rsa", 200, nullptr, "-RSA-"},
    {"ecdsa", 200, nullptr, "-ECDSA-"},
    {"notfound", 404, kUnavailable, nullptr},   // the file is not there
    {"forbidden", 403, kUnavailable, nullptr},  // nginx's workers cannot read it
    {"offline", 503, kUnavailable, nullptr},    // `return 503;` while the host is down for maintenance
    {"moved", 301, kUnavailable, nullptr},      // the pinned name redirected to a newer version
    // Wine 8's WinHTTP has no TLS 1.3: the handshake fails before any request.
    {"tls13-only", 0, L"The download was interrupted. Check your internet connection and try again.", nullptr},
};

// One line of the access log tools/nginx-host configures.
struct Logged {
    std::string request;
    int status = 0;
    std::uint64_t bytes = 0;
    std::string userAgent;
    std::string protocol;
    std::string cipher;
};

std::vector<Logged> AccessLog()
{
    const std::wstring unixPath = testing::EnvironmentValue(L"LUMIVANCE_NGINX_ACCESS_LOG");
    if (unixPath.empty()) {
        throw std::runtime_error("no nginx around this test: LUMIVANCE_NGINX_ACCESS_LOG is unset");
    }
    static const std::regex kLine(R"re(^"([^"]*)" (\d+) (\d+) "([^"]*)" (\S+) (\S+)$)re");
    std::vector<Logged> lines;
    std::istringstream log(testing::ReadFileBytes(std::filesystem::path(L"Z:" + unixPath)));
    for (std::string line; std::getline(log, line);) {
        std::smatch m;
        if (!std::regex_match(line, m, kLine)) {
            throw std::runtime_error("unexpected access log line: " + line);
        }
        lines.push_back({m[1], std::stoi(m[2]), std::stoull(m[3]), m[4], m[5], m[6]});
    }
    return lines;
}

const Row& ThisRow()
{
    const std::string name = testing::ToUtf8(testing::EnvironmentValue(L"LUMIVANCE_NGINX_ROW"));
    for (const Row& row : kRows) {
        if (name == row.name) {
            return row;
        }
    }
    throw std::runtime_error("LUMIVANCE_NGINX_ROW names no row of this test: '" + name + "'");
}

class NginxHost : public EndToEnd {};

TEST_F(NginxHost, AnswersTheWaySetupExpects)
{
    const Row& row = ThisRow();
    SCOPED_TRACE(row.name);
    SetupRun setup;
    if (row.sentence == nullptr) {
        EXPECT_EQ(setup.WaitForExit(60s), 0u);
        EXPECT_FALSE(setup.InstallerReport().empty()) << "the installer never ran";
    } else {
        EXPECT_EQ(ExpectBoxThenCancel(setup, row.sentence), 1u);
        EXPECT_TRUE(setup.InstallerReport().empty()) << "the installer must not have run";
    }
    ExpectNothingLeft(setup);

    // nginx writes its line once the answer is out, which may be a moment after setup has acted on it.
    std::vector<Logged> lines = AccessLog();
    if (row.status == 0) {
        EXPECT_TRUE(lines.empty()) << "a request reached nginx: " << lines.front().request;
        return;
    }
    ui::WaitFor([&] { return !(lines = AccessLog()).empty(); }, 5s);
    ASSERT_EQ(lines.size(), 1u) << "setup must ask exactly once (and never follow a redirect)";
    const Logged& only = lines.front();
    EXPECT_EQ(only.request, kInstallerRequest);
    EXPECT_EQ(only.status, row.status);
    EXPECT_EQ(only.userAgent, "Lumivance Installer/1");
    EXPECT_EQ(only.protocol, "TLSv1.2");
    if (row.cipherPart != nullptr) {
        EXPECT_THAT(only.cipher, HasSubstr(row.cipherPart));
    }
    if (row.status == 200) {
        EXPECT_EQ(only.bytes, std::filesystem::file_size(testing::ToolPath(L"test_installers/signed.exe")));
    }
}

}  // namespace
}  // namespace lumivance::e2e
