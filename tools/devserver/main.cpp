// velmo-devserver: the local stand-in service. See CommandLine::usage().
#include "CommandLine.h"
#include "DevServer.h"

#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using velmo::devserver::CommandLine;
using velmo::devserver::DevServer;

namespace {

// The CLI tool's token file: the session JSON and a line feed, mode 0600,
// replaced whole through a temporary file.
bool writeCliTokens(const std::string& path, const nlohmann::json& tokens)
{
    const std::string text = tokens.dump() + "\n";
    const std::string temp = path + ".devserver.tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, 0600) == 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ok = ::close(fd) == 0 && ok;
    if (ok)
        ok = ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    CommandLine cl;
    try {
        cl = CommandLine::parse(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const CommandLine::Error& e) {
        std::fprintf(stderr, "velmo-devserver: %s\n", e.what());
        return 2;
    }
    if (cl.help) {
        std::fputs(CommandLine::usage().c_str(), stdout);
        return 0;
    }

    // SIGINT/SIGTERM end the server through one waiting thread; every other
    // thread (the server's pool included) inherits the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    DevServer server(cl.options);
    int port = 0;
    try {
        port = server.bind(cl.port);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velmo-devserver: %s\n", e.what());
        return 1;
    }

    if (cl.cliTokensPath) {
        const nlohmann::json session = server.issueSession();
        if (!writeCliTokens(*cl.cliTokensPath, session.at("cli_tokens"))) {
            std::fprintf(stderr, "velmo-devserver: cannot write %s\n", cl.cliTokensPath->c_str());
            return 1;
        }
    }

    std::printf("%d\n", port);
    std::fflush(stdout);
    if (!cl.options.quiet) {
        std::fprintf(stderr, "velmo-devserver: listening on http://127.0.0.1:%d (Ctrl-C to stop)\n", port);
        if (cl.cliTokensPath)
            std::fprintf(stderr, "velmo-devserver: wrote a session to %s\n", cl.cliTokensPath->c_str());
    }

    std::thread signalWaiter([&server, stopSignals] {
        int received = 0;
        sigwait(&stopSignals, &received);
        server.stop();
    });

    server.run();
    // run() only returns after stop(), which only the signal thread calls.
    signalWaiter.join();
    return 0;
}
