// What both ends of the room feed share: where the server listens for feed
// clients (127.0.0.1 only) and the greeting line each side sends first. The
// messages are in docs/protocol.md, "The room feed"; the server builds them
// in server/room_feed.*, the gateway reads them in web/seat/feed_reader.*.
#pragma once

#include <cstdint>

namespace qova {

constexpr uint16_t kRoomFeedPort = 5633;
inline constexpr char kRoomFeedGreeting[] = "QOVA ROOM FEED\t1\r\n";

}  // namespace qova
