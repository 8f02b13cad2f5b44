// A stand-in for the velmo command-line tool, for the two-process tests. It
// shares ~/.velmo with the app through the same files and lock protocol,
// written independently of the app's code:
//
//   fake-velmo hold VELMO_DIR [--no-heartbeat]
//       takes the lock, prints "held", keeps the lock's date fresh every
//       second (unless --no-heartbeat) until stdin closes, then releases.
//   fake-velmo count VELMO_DIR N
//       N times: take the lock, read tokens.json, write it back with the
//       number in its access token ("count-<n>") one higher, release.
//   fake-velmo refresh VELMO_DIR N AUTH_URL [MAX_PAUSE_MS]
//       N times: take the lock, read tokens.json, renew the session with the
//       refresh-token grant at AUTH_URL/oauth/token, write the new tokens,
//       release; then, with MAX_PAUSE_MS, wait a random 0..MAX_PAUSE_MS ms
//       before the next round, as separate runs of the tool are spaced (a
//       loop that takes the lock again at once leaves the app no turn).
// Every read checks that tokens.json is valid JSON with a trailing newline
// and mode 0600; any fault ends the program with status 1 and a message.
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

[[noreturn]] void die(const std::string& message)
{
    std::cerr << "fake-velmo: " << message << std::endl;
    std::exit(1);
}

class Lock {
public:
    Lock(std::string path, bool heartbeat)
        : m_path(std::move(path))
    {
        const auto deadline = std::chrono::system_clock::now() + 60s;
        while (::mkdir(m_path.c_str(), 0700) != 0) {
            if (errno != EEXIST)
                die("cannot create the lock: " + std::string(std::strerror(errno)));
            if (std::chrono::system_clock::now() >= deadline)
                die("timed out waiting for the lock");
            struct stat info { };
            if (::stat(m_path.c_str(), &info) == 0 && std::time(nullptr) - info.st_mtime > 30) {
                ::rmdir(m_path.c_str());
                continue;
            }
            std::this_thread::sleep_for(100ms);
        }
        if (heartbeat)
            m_heartbeat = std::thread([this] { beat(); });
    }
    ~Lock()
    {
        {
            std::lock_guard guard(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        if (m_heartbeat.joinable())
            m_heartbeat.join();
        ::rmdir(m_path.c_str());
    }

private:
    void beat()
    {
        std::unique_lock guard(m_mutex);
        while (!m_wake.wait_for(guard, 1s, [this] { return m_stop; }))
            ::utimensat(AT_FDCWD, m_path.c_str(), nullptr, 0);
    }

    std::string m_path;
    std::thread m_heartbeat;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
};

nlohmann::json readTokens(const std::string& dir)
{
    const std::string path = dir + "/tokens.json";
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0)
        die("tokens.json is missing");
    if ((info.st_mode & 0777) != 0600)
        die("tokens.json has mode " + std::to_string(info.st_mode & 0777));
    std::ifstream file(path, std::ios::binary);
    std::stringstream buffer;
    buffer << file.rdbuf();
    const std::string text = buffer.str();
    if (text.empty() || text.back() != '\n')
        die("tokens.json does not end with a newline: " + text);
    try {
        auto json = nlohmann::json::parse(text);
        if (!json.is_object() || !json["accessToken"].is_string())
            die("tokens.json has no access token: " + text);
        return json;
    } catch (const nlohmann::json::exception& error) {
        die("tokens.json is not JSON (" + std::string(error.what()) + "): " + text);
    }
}

void writeTokens(const std::string& dir, const nlohmann::json& tokens)
{
    static std::mt19937_64 random { std::random_device {}() };
    const std::string path = dir + "/tokens.json";
    const std::string temporary = path + ".fake" + std::to_string(random()) + ".tmp";
    const std::string text = tokens.dump() + "\n";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) || ::close(fd) != 0)
        die("cannot write " + temporary);
    if (::rename(temporary.c_str(), path.c_str()) != 0)
        die("cannot replace tokens.json");
}

std::string formValue(const std::string& text)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

nlohmann::json refreshed(const std::string& authURL, const nlohmann::json& tokens)
{
    httplib::Client client(authURL);
    client.set_connection_timeout(10s);
    client.set_read_timeout(30s);
    const std::string body = "client_id=" + formValue(tokens.value("clientId", "")) + "&grant_type=refresh_token&refresh_token="
        + formValue(tokens.value("refreshToken", ""));
    const auto reply = client.Post("/oauth/token", body, "application/x-www-form-urlencoded");
    if (!reply)
        die("token request failed: " + httplib::to_string(reply.error()));
    if (reply->status != 200)
        die("refresh rejected (" + std::to_string(reply->status) + "): " + reply->body);
    const auto answer = nlohmann::json::parse(reply->body);
    nlohmann::json next = tokens;
    next["accessToken"] = answer.at("access_token");
    if (answer.contains("refresh_token"))
        next["refreshToken"] = answer.at("refresh_token");
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch());
    next["expiresAt"] = now.count() + static_cast<std::int64_t>(answer.at("expires_in").get<double>() * 1000);
    return next;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        die("usage: fake-velmo hold|count|refresh VELMO_DIR ...");
    const std::string command = argv[1];
    const std::string dir = argv[2];
    const std::string lockPath = dir + "/tokens.json.lock";
    if (command == "hold") {
        const bool heartbeat = !(argc > 3 && std::string(argv[3]) == "--no-heartbeat");
        Lock lock(lockPath, heartbeat);
        std::cout << "held" << std::endl;
        std::string line;
        while (std::getline(std::cin, line)) { }
        return 0;
    }
    if (argc < 4)
        die("missing count");
    const int count = std::stoi(argv[3]);
    const int maxPauseMs = command == "refresh" && argc > 5 ? std::stoi(argv[5]) : 0;
    std::mt19937 pauses { std::random_device {}() };
    for (int i = 0; i < count; ++i) {
        if (i > 0 && maxPauseMs > 0)
            std::this_thread::sleep_for(
                std::chrono::milliseconds(std::uniform_int_distribution(0, maxPauseMs)(pauses)));
        Lock lock(lockPath, true);
        nlohmann::json tokens = readTokens(dir);
        if (command == "count") {
            const std::string token = tokens["accessToken"];
            if (!token.starts_with("count-"))
                die("unexpected token " + token);
            // Widen the window in which an overlapping writer would lose an update.
            std::this_thread::sleep_for(3ms);
            tokens["accessToken"] = "count-" + std::to_string(std::stoi(token.substr(6)) + 1);
        } else if (command == "refresh" && argc > 4) {
            tokens = refreshed(argv[4], tokens);
        } else {
            die("unknown command " + command);
        }
        writeTokens(dir, tokens);
    }
    return 0;
}
