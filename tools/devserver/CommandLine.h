#pragma once

#include "DevServer.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmo::devserver {

// What velmo-devserver was asked to do on its command line.
struct CommandLine {
    DevServerOptions options;
    int port = 0;
    // Issue a session at start and write it as the CLI tool's token file.
    std::optional<std::string> cliTokensPath;
    bool help = false;

    // Throws CommandLine::Error with a one-line reason.
    static CommandLine parse(const std::vector<std::string>& arguments);
    static std::string usage();

    class Error : public std::invalid_argument {
    public:
        using std::invalid_argument::invalid_argument;
    };
};

} // namespace velmo::devserver
