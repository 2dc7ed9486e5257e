// Boost.Asio's and Boost.Beast's own compiled parts (error categories, the HTTP parser, the
// WebSocket handshake's SHA-1 and masks, the sockets' services), built once here rather than in
// every source of the hall, the watcher and their tests that speaks HTTP or WebSockets. The
// hall_net target asks every source that links it to leave them out.
#include <boost/asio/impl/src.hpp>
#include <boost/beast/src.hpp>
