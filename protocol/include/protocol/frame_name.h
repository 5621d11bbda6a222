// What a frame on the line is, as traces and line tallies name it.
#pragma once

namespace vexel {

enum class FrameName {
  Unknown,       ///< not framed, or no request or reply the loader knows
  Connect,       ///< request: the connect probe
  Init,          ///< request: INIT, two payload bytes
  Send,          ///< request: a chunk of the image
  SendLast,      ///< request: the chunk that carries the end of the image
  Flash,         ///< request: FLASH, nine payload bytes
  ConnectReply,  ///< reply to CONNECT
  Ack,           ///< reply to INIT, a chunk or FLASH
};

/// The name as traces print it: "CONNECT", "INIT", "SEND", "SENDLAST",
/// "FLASH", "CONNECT-REPLY", "ACK", or "?".
constexpr const char* FrameNameText(FrameName name) {
  switch (name) {
    case FrameName::Connect: return "CONNECT";
    case FrameName::Init: return "INIT";
    case FrameName::Send: return "SEND";
    case FrameName::SendLast: return "SENDLAST";
    case FrameName::Flash: return "FLASH";
    case FrameName::ConnectReply: return "CONNECT-REPLY";
    case FrameName::Ack: return "ACK";
    case FrameName::Unknown: break;
  }
  return "?";
}

}  // namespace vexel
