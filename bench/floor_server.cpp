// The least work a conversion of the largest request must do, as a yardstick for the connector:
// receive the body into fresh memory, write 128 MiB of it to a file in a fresh temporary folder,
// remove both, and send the archive's size back. One connection at a time, "Connection: close".
// Usage: floor-server REPLY_BYTES; prints the port it listens on (127.0.0.1), then serves until
// it is stopped.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr std::size_t kWritten = 128u * 1024 * 1024;
constexpr std::size_t kHugePage = std::size_t{2} << 20;

bool sendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// Writes the first bytes of body to a file in a new folder under $TMPDIR, then removes both.
bool writeAndRemove(const char* body, std::size_t size) {
  const char* base = std::getenv("TMPDIR");
  std::string folder = std::string(base != nullptr ? base : "/tmp") + "/floor-XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr) return false;
  const std::string file = folder + "/image.bin";
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  const bool written = fd >= 0 && writeAll(fd, body, size < kWritten ? size : kWritten);
  if (fd >= 0) ::close(fd);
  ::unlink(file.c_str());
  ::rmdir(folder.c_str());
  return written;
}

void serve(int client, std::size_t replyBytes) {
  std::string head;
  char chunk[65536];
  std::size_t headEnd = std::string::npos;
  while (headEnd == std::string::npos) {
    const ssize_t got = ::recv(client, chunk, sizeof chunk, 0);
    if (got <= 0) return;
    head.append(chunk, static_cast<std::size_t>(got));
    headEnd = head.find("\r\n\r\n");
  }
  std::size_t length = 0;
  for (std::size_t at = head.find('\n'); at < headEnd; at = head.find('\n', at + 1)) {
    if (::strncasecmp(head.c_str() + at + 1, "content-length:", 15) == 0) {
      length = std::strtoull(head.c_str() + at + 16, nullptr, 10);
    }
  }
  // Fresh memory, as a server that owns no memory before the request has it, in 2 MiB pages
  // where the system offers them (fewer faults): the cheapest fresh memory there is.
  const std::size_t mapped = length + 1 + kHugePage;
  char* const region = static_cast<char*>(
      ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  if (region == MAP_FAILED) return;
  char* const body = region + (kHugePage - reinterpret_cast<std::uintptr_t>(region) % kHugePage);
  ::madvise(body, length / kHugePage * kHugePage, MADV_HUGEPAGE);
  std::size_t have = head.size() - headEnd - 4;
  std::memcpy(body, head.data() + headEnd + 4, have);
  while (have < length) {
    const ssize_t got = ::recv(client, body + have, length - have, 0);
    if (got <= 0) break;
    have += static_cast<std::size_t>(got);
  }
  if (have == length && writeAndRemove(body, length)) {
    const std::size_t sent = replyBytes < length ? replyBytes : length;
    const std::string reply =
        "HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\nContent-Length: " +
        std::to_string(sent) + "\r\nConnection: close\r\n\r\n";
    if (sendAll(client, reply.data(), reply.size())) sendAll(client, body, sent);
  } else {
    static constexpr char kFailed[] = "HTTP/1.1 500 Failed\r\nContent-Length: 0\r\n\r\n";
    sendAll(client, kFailed, sizeof kFailed - 1);
  }
  ::munmap(region, mapped);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: floor-server REPLY_BYTES\n");
    return 2;
  }
  const std::size_t replyBytes = std::strtoull(argv[1], nullptr, 10);
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;  // any free port, printed below
  socklen_t size = sizeof address;
  if (listener < 0 ||
      ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 16) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    std::perror("floor-server");
    return 1;
  }
  std::printf("%d\n", ntohs(address.sin_port));
  std::fflush(stdout);
  for (;;) {
    const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    serve(client, replyBytes);
    ::shutdown(client, SHUT_WR);
    ::close(client);
  }
}
