#pragma once
// How a listener shares its port, and how opening one ended: the terms both the portable socket
// code and each OS's calls speak.

namespace connector {

// How a listener treats other sockets that want the same port.
enum class PortSharing {
  exclusive,  // nobody may bind beside us (Windows: SO_EXCLUSIVEADDRUSE; POSIX: SO_REUSEADDR)
  // The system's own rules. Windows: no option, so a later SO_REUSEADDR bind on our address is
  // refused (never SO_REUSEADDR, which would let any program bind beside us and take our
  // connections). POSIX: SO_REUSEADDR, which never lets a second socket beside a listener.
  plain,
};

// bindRefused: the system refused the bind itself (Windows: WSAEACCES), as for a port it has
// reserved; bindFailed: any other failure of bind or listen, most often the port in use.
enum class ListenStatus { listening, libraryFailed, createFailed, bindFailed, bindRefused };

}  // namespace connector
