// On a file of its own: the kernel's header has the newer counters that the C library's lacks,
// and the two cannot be read in one file.
#include "bench/tcp_counts.h"

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>

bool tcp_counts(int fd, TCP_COUNTS &counts) {
    tcp_info info{};
    socklen_t size = sizeof info;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0) return false;
    if (size < offsetof(tcp_info, tcpi_segs_in) + sizeof info.tcpi_segs_in) return false;
    counts.bytes_in = info.tcpi_bytes_received;
    counts.segments_in = info.tcpi_segs_in;
    counts.segments_out = info.tcpi_segs_out;
    return true;
}
