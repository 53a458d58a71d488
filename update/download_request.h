#pragma once
// What every download asks of the server, kept apart from WinINet so that it
// is checked natively.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

constexpr uint32_t DOWNLOAD_CHUNK = 16384;

// Redirects the updaters follow at most where they follow them themselves
// (ruvo-flash, the signed program), and only from https to https.
constexpr int DOWNLOAD_MAX_REDIRECTS = 3;

// INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE:
// a fresh copy from the origin server, nothing stored in the local cache.
constexpr uint32_t DOWNLOAD_REQUEST_FLAGS = 0x84000100;
// INTERNET_FLAG_SECURE: TLS for an https URL. Certificate errors are never
// ignored: no INTERNET_FLAG_IGNORE_CERT_* flag is ever added, so a server
// whose certificate does not verify cannot be opened.
constexpr uint32_t DOWNLOAD_SECURE_FLAG = 0x00800000;

// The request flags for `url`: the same for every download, plus TLS when
// the URL is https.
inline uint32_t DownloadRequestFlags(const char* url)
{
    return std::strncmp(url, "https://", 8) == 0 ? DOWNLOAD_REQUEST_FLAGS | DOWNLOAD_SECURE_FLAG
                                                 : DOWNLOAD_REQUEST_FLAGS;
}

// The Internet handle's access type follows the system's connection state:
// with a proxy connection (INTERNET_CONNECTION_PROXY) the full system
// configuration (INTERNET_OPEN_TYPE_PRECONFIG), otherwise the configuration
// without automatic proxy discovery (INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY).
constexpr uint32_t CONNECTION_FLAG_PROXY = 0x04;
constexpr uint32_t OPEN_TYPE_PRECONFIG = 0;
constexpr uint32_t OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY = 4;
inline uint32_t DownloadAccessType(uint32_t connectionFlags)
{
    return (connectionFlags & CONNECTION_FLAG_PROXY) ? OPEN_TYPE_PRECONFIG : OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY;
}

constexpr char ACCEPT_HEADER[] = "Accept: */*\r\n\r\n";
constexpr uint32_t ACCEPT_HEADER_LENGTH = sizeof(ACCEPT_HEADER) - 1;
static_assert(ACCEPT_HEADER_LENGTH == 15, "the request header is sent with its length, 15 bytes");

// The same request for a client that writes every header line itself
// (libcurl): the Accept line above, and the lines that WinINet's no-cache
// flags add, so that each download is a fresh copy from the origin server.
constexpr const char* REQUEST_HEADER_LINES[] = {"Accept: */*", "Cache-Control: no-cache", "Pragma: no-cache"};
static_assert(std::string_view(ACCEPT_HEADER).substr(0, ACCEPT_HEADER_LENGTH - 4) == REQUEST_HEADER_LINES[0],
              "both clients send the same Accept line");

// "Agent" and the millisecond timer as a signed 32-bit decimal: from
// 2147483648 ms on (24.8 days of uptime) it reads as a negative number.
constexpr size_t USER_AGENT_SIZE = 5 + 11 + 1;
inline void FormatUserAgent(char (&agent)[USER_AGENT_SIZE], uint32_t milliseconds)
{
    std::snprintf(agent, sizeof agent, "Agent%ld", static_cast<long>(static_cast<int32_t>(milliseconds)));
}
