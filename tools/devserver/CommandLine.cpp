#include "CommandLine.h"

#include <charconv>

namespace velmo::devserver {

namespace {

std::int64_t number(const std::string& flag, const std::string& text, std::int64_t min, std::int64_t max)
{
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc {} || end != text.data() + text.size() || value < min || value > max)
        throw CommandLine::Error(flag + " expects an integer from " + std::to_string(min) + " to "
            + std::to_string(max) + ", got \"" + text + "\"");
    return value;
}

} // namespace

CommandLine CommandLine::parse(const std::vector<std::string>& arguments)
{
    CommandLine cl;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string flag = arguments[i];
        std::optional<std::string> inlineValue;
        if (const auto eq = flag.find('='); flag.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = flag.substr(eq + 1);
            flag = flag.substr(0, eq);
        }
        const auto value = [&]() -> std::string {
            if (inlineValue)
                return *inlineValue;
            if (i + 1 >= arguments.size())
                throw Error(flag + " needs a value");
            return arguments[++i];
        };
        const auto noValue = [&] {
            if (inlineValue)
                throw Error(flag + " takes no value");
        };

        if (flag == "-h" || flag == "--help") {
            noValue();
            cl.help = true;
        } else if (flag == "--port") {
            cl.port = static_cast<int>(number(flag, value(), 0, 65535));
        } else if (flag == "--expires-in") {
            cl.options.oauth.expiresIn = number(flag, value(), 0, 315'360'000);
        } else if (flag == "--auto-approve") {
            noValue();
            cl.options.oauth.authorize = OAuthProvider::AuthorizeMode::approve;
        } else if (flag == "--auto-deny") {
            noValue();
            cl.options.oauth.authorize = OAuthProvider::AuthorizeMode::deny;
        } else if (flag == "--no-rotate") {
            noValue();
            cl.options.oauth.rotateRefreshTokens = false;
        } else if (flag == "--latency-ms") {
            cl.options.latencyMs = static_cast<int>(number(flag, value(), 0, 600'000));
        } else if (flag == "--fault") {
            try {
                cl.options.faults.push_back(FaultPlan::parseArgument(value()));
            } catch (const FaultSpecError& e) {
                throw Error("--fault: " + std::string(e.what()));
            }
        } else if (flag == "--write-cli-tokens") {
            cl.cliTokensPath = value();
            if (cl.cliTokensPath->empty())
                throw Error("--write-cli-tokens needs a path");
        } else if (flag == "--quiet" || flag == "-q") {
            noValue();
            cl.options.quiet = true;
        } else {
            throw Error("unknown option \"" + arguments[i] + "\" (see --help)");
        }
    }
    return cl;
}

std::string CommandLine::usage()
{
    return R"(Usage: velmo-devserver [options]

A local stand-in for the Velmo API and its identity provider, for tests,
benchmarks and `make demo`. Listens on 127.0.0.1 only; the port it got is the
first line of standard output. Requests are logged on standard error.

Options:
  --port N                 port to listen on; 0 (the default) picks a free one
  --expires-in SECONDS     lifetime of issued access tokens (default 3600)
  --auto-approve           /oauth/authorize redirects at once, no consent page
  --auto-deny              /oauth/authorize redirects with error=access_denied
  --no-rotate              refresh grants keep the refresh token (none returned)
  --latency-ms MS          delay every service answer by MS milliseconds
  --fault SPEC             replace the next answers of an endpoint (repeatable):
                             ENDPOINT:STATUS[:COUNT[:RETRY_AFTER]]   usage:503:2:5
                             ENDPOINT:KIND[:COUNT]                    balance:drop
                           KIND is status, drop, hang, garbage or html; COUNT -1
                           means every answer. Or a JSON object as the admin API
                           takes it: --fault '{"endpoint":"token","status":400}'
  --write-cli-tokens PATH  issue a session and write it as a velmo CLI token
                           file (mode 0600), e.g. ~/.velmo/tokens.json
  -q, --quiet              no request log
  -h, --help               this text

Endpoints: GET /v1/credits/balance, GET /v1/usage, POST /oauth/register,
GET /oauth/authorize, POST /oauth/token, and the admin API under /admin/.
ENDPOINT names: balance, usage, register, authorize, token.
See tools/devserver/README.md for every endpoint and admin call.
)";
}

} // namespace velmo::devserver
