// The fixed five-byte tokens with which Updater and the receiver acknowledge
// and pace each other: no terminator, no length, no checksum.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace updater {

inline constexpr std::size_t kTokenSize = 5;
using TokenBytes = std::array<std::uint8_t, kTokenSize>;

enum class TokenKind {
  TK_MODEL,  // the receiver model: the current model token
  TK_ACK,    // acknowledges a token or a packet
  TK_NXT,    // answers an acknowledgement: go on
  TK_DER,    // Updater aborts a settings transfer
  TK_DLD,    // first completion stage
  TK_DBD,    // second completion stage
  TK_DVD,    // third and last completion stage
};

inline constexpr std::string_view kDefaultModelToken = "DB4EU";
inline constexpr std::string_view kTokenAck = "2ACK3";
inline constexpr std::string_view kTokenNxt = "2NXT3";
inline constexpr std::string_view kTokenDer = "2DER3";
inline constexpr std::string_view kTokenDld = "2DLD3";
inline constexpr std::string_view kTokenDbd = "2DBD3";
inline constexpr std::string_view kTokenDvd = "2DVD3";
// Software update only.
inline constexpr std::string_view kTokenUpdateReady = "UP2SW";  // receiver: ready for an update
inline constexpr std::string_view kTokenDis = "2DIS3";          // Updater: end of data, and closing word
// Texts inside a received group that also count as the announcement, tried in this order.
inline constexpr std::string_view kAnnouncementTexts[] = {"LODSW", "ODSW", "DSW"};

// The five bytes of a text token (which must be five characters long).
TokenBytes ToTokenBytes(std::string_view text);

}  // namespace updater
