#pragma once
// The wire layout the panel, the manufacturer test and the emulator share: sizes,
// answer codes and the offsets they sit at, the status block's offsets, the direct
// device answers' offsets and the instruction opcodes. Values only, nothing to link.
#include <cstddef>
#include <cstdint>

namespace tessaly {

// Framing and answer forms.
constexpr std::size_t kLabelSize = 15;
constexpr std::size_t kSdiHeadSize = 22;            // "DDToIP" + label + 0x01
constexpr std::size_t kInstructionHeadSize = 3;     // opcode, 16-bit big-endian data length
constexpr std::size_t kInterruptNoticeMax = 26;     // answers of 26 bytes or fewer are interrupt notices
constexpr std::size_t kCwNetStatusAnswer = 1032;
constexpr std::size_t kDDToIPStatusAnswer = 1049;
constexpr std::size_t kStatusBlockSize = 1024;
constexpr int kCwNetAnswerBase = 8;
constexpr int kDDToIPAnswerBase = 25;
constexpr std::size_t kCwNetAnswerCodeAt = 6;       // byte 6 of a CW-Net answer: its code
constexpr std::size_t kCwNetAddressAt = 7;          // byte 7 of a CW-Net answer: the SDI address
constexpr std::size_t kDDToIPAnswerCodeAt = 22;     // byte 22 of a DDToIP answer: its code
constexpr std::uint8_t kCwNetReadCode = 0x09;
constexpr std::uint8_t kCwNetLoadCode = 0x18;
constexpr std::uint8_t kForwardCommand = 0x85;
constexpr std::uint8_t kReadCommand = 0x86;
constexpr std::uint8_t kStatusAnswerCode = 0xF3;
constexpr std::uint8_t kNoticeCode = 0xF1;         // the DDToIP interrupt notice
constexpr std::size_t kCwNetHead = 18;             // "CW-Net", code, SDI address, a 10-byte word
constexpr std::uint8_t kDevicePresent = 0x45;
constexpr std::uint8_t kRemuxDeviceCode = 0x1A;

// Instruction opcodes.
namespace opcode {
constexpr std::uint8_t Reset = 0x01, StatusRequest = 0x03, SetSerial = 0x10, SetType = 0x11, SetUserText = 0x12,
                       SetAddress = 0x14, Nco = 0x40, Operation = 0xE0;
}

// The first data byte of an Operation instruction; the second is the unit mask
// where the operation addresses units.
namespace operationCode {
constexpr std::uint8_t StreamOn = 0x01, StreamAddress = 0x02, StreamJoin = 0x03, GeneralFilter = 0x10,
                       PidWrite = 0x11, PidErase = 0x12, PidRead = 0x14, StreamPort = 0x15, Sector = 0x20,
                       PsiWrite = 0x21, PsiErase = 0x22, PsiRead = 0x25, StreamFormat = 0x27, Pll = 0x28,
                       PcrMode = 0x30, TestPid = 0x31;
}

// What the status block's read-back area holds (its ReadbackKind byte), also the
// kind byte of a direct read-back answer.
constexpr std::uint8_t kReadbackPid = 1, kReadbackPsi = 2;

// Status block offsets, from AnswerBase.
namespace block {
constexpr int Presence = 0, DeviceCode = 1, UserText = 2, DeviceType = 24, Serial = 26, Address = 30,
              InstrCounter = 31, VersionMajor = 32, VersionMinor = 33, ChannelEnable = 34, DataValid = 35,
              NullFilter = 36, TspFilter = 37, OutputFormat = 38, IicError = 39, Nco = 40, PDiv = 44, PllWord = 46,
              PidFilterState = 50, IntRError = 51, ReadbackKind = 52, Leds = 53, PsiState = 54, PcrState = 55,
              TestPid = 56, MpxVersion = 58, SppVersion = 59, Model = 60, InputStatus = 96, SdramInput = 120,
              SdramWord = 123, NullRate = 126, InsertedRate = 129, PcrDiscont = 132, PcrPidCount = 133,
              PcrBaseError = 135, PcrSlide = 137, LargePcrErrors = 139, NewPcrPids = 140, Sectors = 160,
              Readback = 768, Size = 1024;
// Written by the board beyond what the panel decodes.
constexpr int PsiPriority = 61, OutputClockHz = 62, OutputPps = 66;
}

// The answers of a message sent straight to the device, offsets from the first
// byte of the datagram. Both are SDI messages carrying one instruction whose
// opcode (at AnswerCode) tells them apart.
namespace device {
constexpr std::size_t StatusSize = 1046, ReadbackSize = 297;
constexpr std::uint8_t StatusCode = 0xF0, ReadbackCode = 0xFE;
constexpr std::size_t AnswerCode = kSdiHeadSize;
// Status answer.
constexpr std::size_t Presence = 25, DeviceCode = 26, Type = 27, Serial = 29, Address = 33, InstrCounter = 34,
                      VersionMajor = 35, VersionMinor = 36, MpxVersion = 37, SppVersion = 38, Model = 39,
                      IntRError = 40, IicError = 41, StreamAddress = 42, StreamPort = 58, StreamName = 60,
                      StreamFlags = 73, ChannelEnable = 74, DataValid = 75, NullFilter = 76, TspFilter = 77,
                      PcrMode = 78, InputStatus = 96, SdramInput = 120, SdramWord = 123, NullRate = 126,
                      InsertedRate = 129, Nco = 389, NcoStride = 4, Format = 405, Pll = 409, TestPid = 433,
                      PidEraseBits = 544, PidEntries = 545, PsiUnit = 583, PsiUnitStride = 23;
// Read-back answer.
constexpr std::size_t ReadKind = 25, ReadUnit = 26, ReadInput = 27, ReadStart = 29, ReadData = 41;
}  // namespace device

}  // namespace tessaly
