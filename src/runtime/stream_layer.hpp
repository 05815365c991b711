#pragma once

#include <sys/types.h>
#include <sys/uio.h>

#include <cstddef>
#include <span>

namespace relaydash {

// What sits between a socket and its reader and writer when the bytes on the wire are not the
// bytes they read and write (TLS): the socket asks it instead of calling recv and send, and
// keeps its waiting and readiness as for plain bytes.
class StreamLayer {
 public:
  virtual ~StreamLayer() = default;

  // Reads what is there, up to the span's size, as recv does: the bytes read, 0 at the end of
  // the stream, or -1 with errno set (EAGAIN: nothing yet). `drained` says that the socket
  // underneath is empty and the layer holds nothing more, so that the next read may wait for
  // readiness at once; left alone otherwise.
  virtual ssize_t receive(std::span<char> into, bool& drained) noexcept = 0;
  // Takes what it can of the pieces, as send does: the bytes taken, or -1 with errno set
  // (EAGAIN: nothing could go; EPIPE: the peer has gone). Bytes taken may still wait inside the
  // layer when the socket is full; it returns -1 with EAGAIN until they have gone, and the same
  // pieces must be offered again.
  virtual ssize_t send(const iovec* pieces, std::size_t count) noexcept = 0;
  // Whether the layer is set up and passes bytes through (a TLS handshake has completed):
  // until then the connection has not begun to say anything.
  virtual bool established() const noexcept = 0;
  // The connection is about to close after an orderly end: the layer may say goodbye to its
  // peer (a TLS close_notify), without waiting.
  virtual void finish() noexcept = 0;
};

}  // namespace relaydash
