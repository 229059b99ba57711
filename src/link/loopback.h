#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "link/transport.h"

// What both ends of the loopback link agree on: the file the server leaves for its client, and
// the secret the client sends before anything else.
namespace tessara::link {

inline constexpr std::string_view kLoopbackFileName = "Tessara-plugin.loopback";
// A client that is not told where the file is (Windows under Wine, or a server whose folder is
// not $XDG_RUNTIME_DIR) reads it from the path this variable holds.
inline constexpr const char* kLoopbackFileVariable = "TESSARA_LOOPBACK_FILE";
// The secret: 32 lowercase hexadecimal characters (128 random bits), sent as they are.
inline constexpr size_t kSecretSize = 32;
// How long the server waits for a new connection's secret.
inline constexpr int kSecretWaitMs = 2000;

struct LoopbackAddress {
    uint16_t port = 0;
    std::string secret;

    bool operator==(const LoopbackAddress&) const = default;
};

// The file's text: "PORT SECRET" and a line feed.
std::string format_loopback_file(const LoopbackAddress& address);
// Nothing unless the text is exactly that, with a port from 1 to 65535 and a well-formed secret.
std::optional<LoopbackAddress> parse_loopback_file(std::string_view text);
// Compares in a time that does not depend on where the two differ.
bool same_secret(std::string_view a, std::string_view b);

// Where a client looks for the file: the variable's path when it is set; otherwise on Linux
// beside the socket, on Windows in Wine's Z: view of $XDG_RUNTIME_DIR (empty when that is not
// set either).
std::string loopback_file_path();

// Reads the file, connects to 127.0.0.1 on its port and sends its secret. NoServer when there is
// no file or nobody listens on the port (a file left by a server that died); Failed with the
// system's code when the file is unreadable or malformed, or the connection fails otherwise.
ConnectResult connect_loopback(const std::string& file_path, Channel& out, int& error);

}  // namespace tessara::link
