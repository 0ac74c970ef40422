#pragma once
// The 36 registers a device shows to Modbus clients (the same under input and
// holding registers, addresses as on the wire):
//   0-19   the ten channels as float32, two registers each (channel i at 2i),
//          the value as shown; NaN where it is not a number
//   20-29  the ten channels as int16: raw counts, or target values times
//          10^decimals, saturated; -32768 where it is not a number
//   30     status (StreamKeeper::Status as a number)
//   31     age of the last set in tenths of a second, saturated at 65535
//          (also before the first set)
//   32-33  sets taken since the start, uint32, high word first, wrapping
//   34, 35 the device's number and display digits (0 until known)

#include "gw/config.h"
#include "gw/gateway.h"

#include <QStringView>

#include <array>

namespace vorn::gw {

constexpr int kModbusRegisters = 36;
constexpr int kAgeRegister = 31;
using ModbusRegisters = std::array<quint16, kModbusRegisters>;

// A float's two registers in the order asked for, written with shifts of its
// bits (A its highest byte): 123456.0f is 0x47F1 0x2000 in ABCD.
std::array<quint16, 2> floatWords(float value, WordOrder order);

// A value as shown, as int16: a decimal number without its point (12.5 is
// 125, 40000 is 32767), saturated; -32768 when it is not a number.
qint16 int16Value(QStringView shown);

// The age register for a set ageMs old; 65535 for none yet (ageMs < 0).
quint16 ageRegister(qint64 ageMs);

// Every register of one device's state; the age register is left at 65535,
// for the server to fill in when it answers.
ModbusRegisters modbusRegisters(const Gateway::DeviceState &state, WordOrder order);

}  // namespace vorn::gw
