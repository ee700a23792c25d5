#pragma once

#include <asio/io_context.hpp>

namespace velm {

// The process-wide context on which every socket and timer of the network layer runs.
// Started on first use with a few threads of its own; stopped and joined at exit.
asio::io_context& ioContext();

} // namespace velm
