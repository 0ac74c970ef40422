#pragma once
// Command and reply frames on the serial line.
//
//   02 | len hi | len lo | address | EE | code | payload... | xor | 03
//
// The length counts every byte of the frame, start and end byte included.
// The check byte is the exclusive-or of every byte from the length field up
// to the last payload byte. A reply has the same envelope with bytes 3 and 4
// traded: byte 3 is the marker EE and byte 4 is not examined.

#include <QByteArray>
#include <QByteArrayView>
#include <cstdint>

namespace vorn {

inline constexpr quint8 kStartByte = 0x02;
inline constexpr quint8 kEndByte = 0x03;
inline constexpr quint8 kMarker = 0xEE;
inline constexpr int kFrameOverhead = 8;

// Command codes of the requests.
namespace cmd {
inline constexpr quint8 Power = 0x12;
inline constexpr quint8 Clock = 0x20;
inline constexpr quint8 Discover = 0x21;
inline constexpr quint8 ShowNumber = 0x23;
inline constexpr quint8 ShowCode = 0x24;
inline constexpr quint8 SmartSet = 0x30;
inline constexpr quint8 Download = 0x31;
inline constexpr quint8 ReadBack = 0x32;
inline constexpr quint8 Feedback = 0x40;
inline constexpr quint8 DisplayMode = 0x41;
inline constexpr quint8 SetNumber = 0x94;
}  // namespace cmd

// Address every device listens to; the numbering request always goes there.
inline constexpr quint8 kBroadcast = 0xFF;

// Reply lengths the device uses.
inline constexpr int kDiscoveryReplyLength = 10;
inline constexpr int kReadBackReplyLength = 108;
inline constexpr int kRawReplyLength = 28;

// The check byte a whole frame must carry: the exclusive-or of its bytes
// from the length field up to the last payload byte (frame[1..n-3]). The
// one check-byte rule, for building frames and for checking them.
quint8 checkByte(QByteArrayView frame);

// A whole command frame: header, payload, check byte and end byte.
QByteArray buildFrame(quint8 address, quint8 code, const QByteArray &payload = {});

// The same envelope as the device sends it back (marker at 3, `tag` at 4).
QByteArray buildReply(quint8 code, const QByteArray &payload, quint8 tag = 0x00);

}  // namespace vorn
