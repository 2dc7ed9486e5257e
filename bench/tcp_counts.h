// What the kernel counted on one TCP socket: the bytes its peer sent it (the WebSocket frames,
// headers and all) and the segments that carried them, for the live benchmark's wire bytes.
#pragma once

#include <cstdint>

struct TCP_COUNTS {
    std::uint64_t bytes_in = 0;     // the stream's bytes received, TCP and IP headers aside
    std::uint64_t segments_in = 0;  // the segments received, pure acknowledgements too
    std::uint64_t segments_out = 0;
};

// False when the kernel does not say (the socket closed, or a kernel older than 4.2).
bool tcp_counts(int fd, TCP_COUNTS &counts);
